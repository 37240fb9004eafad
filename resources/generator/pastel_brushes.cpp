// PastelBrushes: thirteen marks of oil pastel on toothed paper.
//
// The stick deposits only where the paper stands up to meet it: a light stroke is a
// scatter of specks on the peaks of the tooth, a heavy one fills the valleys too and
// smears a little wax along its direction. Patches are laid with the side of a broken
// stick in a few overlapping sweeps; hatchings are rows of parallel strokes with the
// tip, each starting and lifting with less pressure; two are cross-hatched.
#include "assets.h"
#include "bristle.h"
#include "brush_sheet.h"
#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace assetgen {

namespace {

constexpr int kBrushes = 13;
constexpr int kRows = 2;
constexpr float kPi = std::numbers::pi_v<float>;

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

struct CrayonStroke {
  StrokePath path;
  float width;
  float pressure;
  // Fractions of the length over which the pressure builds and eases off.
  float attack = 0.12f;
  float release = 0.25f;
  uint32_t seed = 0;
};

// Adds the pressure of one stroke to `pressure`. Pressure adds up where strokes cross,
// which is how a second layer fills the tooth the first one missed.
void AddCrayonStroke(Field& pressure, const CrayonStroke& s) {
  const float half = 0.5f * s.width;
  const StrokeCoordinates map =
      MapAlongStroke(s.path, pressure.width, pressure.height, half + 4.0f);
  const float length = std::max(1.0f, s.path.length());
  const uint32_t facetSeed = HashPoint(1, 0, s.seed), edgeSeed = HashPoint(2, 0, s.seed);
  const uint32_t flutterSeed = HashPoint(3, 0, s.seed);
  for (int y = 0; y < pressure.height; ++y)
    for (int x = 0; x < pressure.width; ++x) {
      const float a = map.across.at(x, y);
      if (a >= StrokeCoordinates::kFar) continue;
      const float along = map.along.at(x, y);
      const float t = along / length;
      // The worn end of the stick is slightly rounded: ends are blunt ovals.
      float q = std::fabs(a) / half;
      if (along < 0.0f) q = std::hypot(q, along / (0.5f * half));
      if (along > length) q = std::hypot(q, (along - length) / (0.5f * half));
      const float edge = 1.0f + 0.12f * (ValueNoise1(along / 7.0f, edgeSeed) - 0.5f);
      // The stick presses hardest along its middle and rolls off at the sides.
      const float inside = 1.0f - SmoothStep(0.45f * edge, edge, q);
      if (inside <= 0.0f) continue;
      const float envelope =
          SmoothStep(-0.05f, s.attack, t) * (1.0f - SmoothStep(1.0f - s.release, 1.05f, t));
      // Facets of the worn stick press harder in some lanes: faint streaks along.
      const float facet = 0.75f + 0.5f * ValueNoise2(a / 2.5f, along / 30.0f, facetSeed);
      const float flutter = 0.85f + 0.3f * ValueNoise1(along / 20.0f, flutterSeed);
      pressure.at(x, y) += s.pressure * inside * envelope * facet * flutter;
    }
}

// Coverage of the pressure on the tooth: the stick reaches down to the height
// 1 - pressure, and wax builds up more the deeper it presses.
Field PressOnTooth(const Field& pressure, const Field& tooth) {
  Field out(pressure.width, pressure.height);
  for (size_t i = 0; i < out.values.size(); ++i) {
    const float p = pressure.values[i];
    if (p <= 0.0f) continue;
    const float level = 1.0f - p;
    const float touch = SmoothStep(level - 0.08f, level + 0.12f, tooth.values[i]);
    out.values[i] = std::clamp(touch * (0.55f + 0.45f * std::min(p, 1.0f)), 0.0f, 1.0f);
  }
  return out;
}

// A patch: the side of the stick swept back and forth a few times.
Field Patch(Rng rng, float width, float height, float angle, float pressure) {
  Field p(kBrushCell, kBrushCell);
  const int sweeps = 4 + rng.below(3);
  const float c = std::cos(angle + 0.5f * kPi), s = std::sin(angle + 0.5f * kPi);
  for (int i = 0; i < sweeps; ++i) {
    const float offset = (float(i) + 0.5f - 0.5f * float(sweeps)) * height / float(sweeps) +
                         rng.uniform(-4.0f, 4.0f);
    const StrokePoint mid{0.5f * kBrushCell + offset * c + rng.uniform(-8.0f, 8.0f),
                          0.5f * kBrushCell + offset * s};
    CrayonStroke st;
    // Neighbouring sweeps overlap by half, so the patch fills evenly with faint banding.
    st.width = 2.0f * height / float(sweeps) + rng.uniform(0.0f, 10.0f);
    st.path =
        StrokePath::Gesture(width * rng.uniform(0.8f, 1.0f), angle + rng.uniform(-0.08f, 0.08f),
                            rng.uniform(-0.25f, 0.25f), 0.0f, 0.0f, mid);
    st.pressure = 0.6f * pressure * rng.uniform(0.75f, 1.1f);
    st.attack = 0.08f;
    st.release = 0.2f;
    st.seed = uint32_t(rng.next());
    AddCrayonStroke(p, st);
  }
  return p;
}

// Parallel hatching strokes laid with the tip.
void Hatch(Field& p, Rng rng, int strokes, float angle, float length, float spacing, float width,
           float pressure) {
  const float nx = std::cos(angle + 0.5f * kPi), ny = std::sin(angle + 0.5f * kPi);
  const float dx = std::cos(angle), dy = std::sin(angle);
  for (int i = 0; i < strokes; ++i) {
    const float offset =
        (float(i) + 0.5f - 0.5f * float(strokes)) * spacing + rng.uniform(-2.0f, 2.0f);
    const float len = length * rng.uniform(0.75f, 1.05f);
    // Strokes start and end a little apart, as a hand moving down a row does.
    const float shift = rng.uniform(-0.1f, 0.1f) * length;
    const StrokePoint mid{0.5f * kBrushCell + offset * nx + shift * dx,
                          0.5f * kBrushCell + offset * ny + shift * dy};
    CrayonStroke st;
    st.width = width * rng.uniform(0.85f, 1.15f);
    st.path = StrokePath::Gesture(len, angle + rng.uniform(-0.05f, 0.05f),
                                  rng.uniform(-0.15f, 0.15f), 0.0f, 0.0f, mid);
    st.pressure = pressure * rng.uniform(0.8f, 1.1f);
    st.attack = rng.uniform(0.05f, 0.15f);
    st.release = rng.uniform(0.2f, 0.4f);
    st.seed = uint32_t(rng.next());
    AddCrayonStroke(p, st);
  }
}

}  // namespace

QImage DrawPastelBrushes() {
  const Rng rng(0x9A57E1u);
  Rng pick = rng.fork(1);
  Rng toothRng = rng.fork(2);
  auto tooth = [&toothRng] {
    ToothOptions o;
    o.grainSize = 2.2f;
    o.octaves = 3;
    o.persistence = 0.5f;
    return PaperTooth(kBrushCell, kBrushCell, o, uint32_t(toothRng.next()));
  };
  std::vector<Field> cells;
  // `draw` lays the strokes of one brush with the hand's jitter from the generator it
  // is given. The program drops a brush that misses the test pixels of its cell's
  // centre column; a light hatching can fall between them, so it is laid again.
  auto finish = [&](const std::function<Field(Rng)>& draw) {
    const Field paper = tooth();
    const Rng hand = pick.fork(cells.size() + 1000);
    Field cell = PressOnTooth(draw(hand), paper);
    for (uint64_t attempt = 1; attempt < 8 && !PassesCentreLineTest(cell); ++attempt)
      cell = PressOnTooth(draw(hand.fork(attempt)), paper);
    KeepInsideCircle(cell, kBrushRadius);
    cells.push_back(std::move(cell));
  };

  // Patches with the side of the stick, light to heavy.
  for (int i = 0; i < 5; ++i) {
    const float width = pick.uniform(150.0f, 200.0f), height = pick.uniform(70.0f, 120.0f);
    const float angle = pick.uniform(-0.5f, 0.5f), pressure = Lerp(0.5f, 1.1f, float(i) / 4.0f);
    finish([=](Rng r) { return Patch(r, width, height, angle, pressure); });
  }
  // Hatchings, various angles, densities and pressures.
  for (int i = 0; i < 6; ++i) {
    const int n = 6 + pick.below(5);
    const float spacing = pick.uniform(13.0f, 20.0f);
    const float angle = pick.uniform(-1.1f, -0.3f) + (i % 2 ? kPi * 0.5f : 0.0f);
    const float length = pick.uniform(120.0f, 170.0f), width = pick.uniform(8.0f, 13.0f);
    const float pressure = pick.uniform(0.45f, 0.85f);
    finish([=](Rng r) {
      Field p(kBrushCell, kBrushCell);
      Hatch(p, r, n, angle, length, spacing, width, pressure);
      return p;
    });
  }
  // Cross-hatchings.
  for (int i = 0; i < 2; ++i) {
    const float angle = pick.uniform(-0.9f, -0.5f), cross = angle + pick.uniform(1.1f, 1.5f);
    finish([=](Rng r) {
      Field p(kBrushCell, kBrushCell);
      Hatch(p, r.fork(1), 7, angle, 150.0f, 16.0f, 10.0f, 0.6f);
      Hatch(p, r.fork(2), 7, cross, 140.0f, 17.0f, 9.0f, 0.5f);
      return p;
    });
  }
  if (cells.size() != kBrushes) return QImage();
  return MakeBrushSheet("PastelBrushes", cells, kRows);
}

}  // namespace assetgen
