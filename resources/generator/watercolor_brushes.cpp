// WatercolorBrushes: twenty-one marks of watercolour on paper.
//
// Wet paint dries with the pigment carried to the edge of the puddle, so most marks
// are pale inside with a darker, sharp rim. Among them: round and oval blotches, wash
// strokes laid with a loaded brush, blooms where a drop of water ran back into a
// drying wash and pushed the pigment into a ragged ring, graded washes that fade out,
// wet-in-wet bleeds with soft feathered edges and no rim, spatters of flicked drops,
// a granulating wash where pigment settled into the paper's valleys, and a dry-brush
// stroke. Coverage stays well below full, since watercolour is transparent.
#include "assets.h"
#include "bristle.h"
#include "brush_sheet.h"
#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

namespace assetgen {

namespace {

constexpr int kBrushes = 21;
constexpr int kRows = 3;
constexpr float kPi = std::numbers::pi_v<float>;

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

// Fractal value noise in [0, 1): `octaves` layers, each twice as fine and half as
// strong as the one before.
float Fbm(float x, float y, int octaves, uint32_t seed) {
  float sum = 0.0f, weight = 1.0f, total = 0.0f, scale = 1.0f;
  for (int i = 0; i < octaves; ++i) {
    sum += weight * ValueNoise2(x * scale, y * scale, HashPoint(i, 0x3A7, seed));
    total += weight;
    weight *= 0.5f;
    scale *= 2.0f;
  }
  return sum / total;
}

// Distance-like measure of a puddle: below 1 inside, rising outwards.
using ShapeMeasure = std::function<float(float x, float y)>;

// An ellipse of radii rx, ry turned by `angle` about the cell centre, its outline
// pushed in and out by noise at the scale `lobe` (pixels) and finer. `warp` (pixels)
// drags the plane around first, as wet paper drags a drop into an irregular shape.
ShapeMeasure Ellipse(float rx, float ry, float angle, float lobe, float wobble, uint32_t seed,
                     float warp = 0.0f) {
  const float c = std::cos(angle), s = std::sin(angle);
  const uint32_t warpX = HashPoint(1, 0x3A8, seed), warpY = HashPoint(2, 0x3A8, seed);
  return [=](float x, float y) {
    float dx = x - 0.5f * kBrushCell, dy = y - 0.5f * kBrushCell;
    if (warp > 0.0f) {
      dx += warp * (Fbm(x / 50.0f, y / 50.0f, 3, warpX) - 0.5f);
      dy += warp * (Fbm(x / 50.0f, y / 50.0f, 3, warpY) - 0.5f);
    }
    const float u = (c * dx + s * dy) / rx, v = (-s * dx + c * dy) / ry;
    const float q = std::sqrt(u * u + v * v);
    return q + wobble * (Fbm(x / lobe, y / lobe, 4, seed) - 0.5f);
  };
}

// A wash laid along a path: the brush's half width swells and tapers along it. Over
// the last part of the stroke the brush runs dry (`dryTail` > 0) and the wash breaks
// into streaks where the bristles skipped the paper.
ShapeMeasure Wash(const StrokePath& path, float halfWidth, float taper, float lobe, float wobble,
                  float dryTail, uint32_t seed) {
  auto map = std::make_shared<StrokeCoordinates>(
      MapAlongStroke(path, kBrushCell, kBrushCell, 2.5f * halfWidth + 10.0f));
  const float length = path.length();
  const uint32_t streakSeed = HashPoint(9, 0, seed);
  return [=](float x, float y) {
    const int ix = std::clamp(int(x), 0, kBrushCell - 1),
              iy = std::clamp(int(y), 0, kBrushCell - 1);
    const float a = map->across.at(ix, iy);
    if (a >= StrokeCoordinates::kFar) return 10.0f;
    const float s = map->along.at(ix, iy);
    const float t = std::clamp(s / length, 0.0f, 1.0f);
    const float half =
        halfWidth * Lerp(1.0f, taper, t) * (0.75f + 0.5f * ValueNoise1(s / 35.0f, seed));
    float q = std::fabs(a) / half;
    // Round ends, where the brush came down and lifted.
    if (s < 0.0f) q = std::hypot(q, s / half);
    if (s > length) q = std::hypot(q, (s - length) / half);
    if (dryTail > 0.0f) {
      const float streak = SmoothStep(0.4f, 0.6f, ValueNoise2(a / 7.0f, s / 60.0f, streakSeed));
      q += dryTail * SmoothStep(0.55f, 1.0f, t) * streak;
    }
    return q + wobble * (Fbm(x / lobe, y / lobe, 4, seed) - 0.5f);
  };
}

struct Puddle {
  ShapeMeasure shape;
  // Softness of the outline (in the measure's units): small for a crisp wet edge,
  // large for wet-in-wet.
  float softness = 0.03f;
  // Pigment inside, and extra pigment carried to the rim.
  float pigment = 0.35f;
  float rim = 0.45f;
  // Width of the rim in pixels.
  float rimWidth = 5.0f;
  // Pigment settling into the paper's valleys, 0..1.
  float granulation = 0.2f;
  // A fade across the puddle: pigment falls to `fadeTo` towards direction `fadeAngle`.
  float fadeTo = 1.0f;
  float fadeAngle = 0.0f;
  // A bloom: a backrun of water inside the puddle, centred at (bx, by) relative to the
  // cell centre, of radius `bloom` (0 = none).
  float bloom = 0.0f;
  float bx = 0.0f, by = 0.0f;
  // A fractal fringe where the pigment crept into damp paper (bleeds).
  float feather = 0.0f;
  uint32_t seed = 0;
};

Field Blur(const Field& f, int r) {
  return BoxBlur(BoxBlur(f, r, r, false, false), r, r, false, false);
}

Field PaintPuddle(const Puddle& p, const Field& tooth) {
  Field mask(kBrushCell, kBrushCell);
  const uint32_t featherSeed = HashPoint(5, 0, p.seed);
  for (int y = 0; y < kBrushCell; ++y)
    for (int x = 0; x < kBrushCell; ++x) {
      const float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
      float q = p.shape(fx, fy);
      // Wet-in-wet: pigment creeps into the damp paper in a lacy, fractal fringe.
      if (p.feather > 0.0f) q += p.feather * (Fbm(fx / 14.0f, fy / 14.0f, 5, featherSeed) - 0.5f);
      mask.at(x, y) = 1.0f - SmoothStep(1.0f - p.softness, 1.0f + p.softness, q);
    }
  // Two box passes reach twice their radius.
  const int rimRadius = std::max(1, int(std::lround(p.rimWidth * 0.5f)));
  const Field near = Blur(mask, rimRadius);

  Field bloom(kBrushCell, kBrushCell);
  Field bloomNear(kBrushCell, kBrushCell);
  if (p.bloom > 0.0f) {
    const uint32_t bloomSeed = HashPoint(6, 0, p.seed);
    for (int y = 0; y < kBrushCell; ++y)
      for (int x = 0; x < kBrushCell; ++x) {
        const float dx = float(x) + 0.5f - 0.5f * kBrushCell - p.bx;
        const float dy = float(y) + 0.5f - 0.5f * kBrushCell - p.by;
        // Cauliflower edge: strong noise at several scales.
        const float q = std::hypot(dx, dy) / p.bloom +
                        0.7f * (Fbm(float(x) / 14.0f, float(y) / 14.0f, 5, bloomSeed) - 0.5f);
        bloom.at(x, y) = 1.0f - SmoothStep(0.96f, 1.04f, q);
      }
    bloomNear = Blur(bloom, 2);
  }

  const uint32_t mottleSeed = HashPoint(7, 0, p.seed);
  const uint32_t rimSeed = HashPoint(8, 0, p.seed);
  const float fc = std::cos(p.fadeAngle), fs = std::sin(p.fadeAngle);
  Field out(kBrushCell, kBrushCell);
  for (int y = 0; y < kBrushCell; ++y)
    for (int x = 0; x < kBrushCell; ++x) {
      const float m = mask.at(x, y);
      if (m <= 0.0f) continue;
      // Uneven pigment: the wash dries in soft blotches.
      float pigment =
          p.pigment * (0.7f + 0.6f * Fbm(float(x) / 45.0f, float(y) / 45.0f, 3, mottleSeed));
      const float along =
          ((float(x) - 0.5f * kBrushCell) * fc + (float(y) - 0.5f * kBrushCell) * fs) /
          (0.5f * kBrushCell);
      pigment *= Lerp(1.0f, p.fadeTo, SmoothStep(-0.6f, 0.9f, along));
      // Pigment drifts to the drying edge and dries there in a dark band, fading inwards
      // over the rim width: `near` falls from 1 deep inside to 1/2 at the edge.
      const float edge = std::pow(std::clamp(2.0f * (1.0f - near.at(x, y)), 0.0f, 1.0f), 1.3f);
      float rim =
          p.rim * edge * (0.7f + 0.6f * ValueNoise2(float(x) / 6.0f, float(y) / 6.0f, rimSeed));
      if (p.bloom > 0.0f) {
        // The backrun leaves its middle pale and piles the pigment at its border.
        const float b = bloom.at(x, y);
        pigment *= 1.0f - 0.65f * b;
        rim *= 1.0f - b;
        rim += 0.7f * p.rim * std::clamp(2.0f * bloomNear.at(x, y) * (1.0f - b), 0.0f, 1.0f);
      }
      float density = m * (pigment + rim);
      // Granulation: heavy pigment settles in the valleys of the paper.
      density *= Lerp(1.0f, 0.35f + 1.3f * (1.0f - tooth.at(x, y)), p.granulation);
      out.at(x, y) = std::clamp(density, 0.0f, 1.0f);
    }
  return out;
}

// Drops flicked off a loaded brush around a small puddle.
void AddSpatter(Field& cell, const Field& tooth, Rng rng, int drops, float direction,
                float spread) {
  Field mask(kBrushCell, kBrushCell);
  for (int i = 0; i < drops; ++i) {
    const float a = direction + spread * rng.gaussian();
    const float r = 30.0f + 80.0f * std::pow(rng.uniform(), 0.8f);
    const float size = std::max(0.8f, 6.0f * (1.0f - r / 120.0f) * rng.uniform(0.3f, 1.0f) + 0.6f);
    const float px = 0.5f * kBrushCell + r * std::cos(a), py = 0.5f * kBrushCell + r * std::sin(a);
    // Drops that hit at speed are stretched along their flight.
    const float stretch = rng.uniform(1.0f, 1.8f);
    const float c = std::cos(a), s = std::sin(a);
    const int ext = int(size * stretch) + 2;
    for (int y = std::max(0, int(py) - ext); y <= std::min(kBrushCell - 1, int(py) + ext); ++y)
      for (int x = std::max(0, int(px) - ext); x <= std::min(kBrushCell - 1, int(px) + ext); ++x) {
        const float dx = float(x) + 0.5f - px, dy = float(y) + 0.5f - py;
        const float u = (c * dx + s * dy) / (size * stretch), v = (-s * dx + c * dy) / size;
        const float d = std::sqrt(u * u + v * v);
        mask.at(x, y) = std::max(mask.at(x, y), 1.0f - SmoothStep(0.8f, 1.1f, d));
      }
  }
  const Field near = Blur(mask, 1);
  for (int y = 0; y < kBrushCell; ++y)
    for (int x = 0; x < kBrushCell; ++x) {
      const float m = mask.at(x, y);
      if (m <= 0.0f) continue;
      const float rim = std::clamp(2.0f * (m - near.at(x, y)), 0.0f, 1.0f);
      const float d = m * (0.4f + 0.35f * rim) * (0.8f + 0.4f * tooth.at(x, y));
      float& v = cell.at(x, y);
      v = v + d - v * d;
    }
}

}  // namespace

QImage DrawWatercolorBrushes() {
  const Rng rng(0x3A7E5C0u);
  Rng pick = rng.fork(1);
  Rng toothRng = rng.fork(2);
  const StrokePoint centre{0.5f * kBrushCell, 0.5f * kBrushCell};
  std::vector<Field> cells;
  auto tooth = [&toothRng] {
    ToothOptions o;
    o.grainSize = 2.5f;
    o.octaves = 4;
    o.persistence = 0.55f;
    return PaperTooth(kBrushCell, kBrushCell, o, uint32_t(toothRng.next()));
  };
  auto seed = [&pick] { return uint32_t(pick.next()); };

  // Round and oval blotches.
  for (int i = 0; i < 4; ++i) {
    Puddle p;
    const float rx = pick.uniform(70.0f, 105.0f);
    p.shape = Ellipse(rx, rx * pick.uniform(0.6f, 1.0f), pick.uniform(0.0f, kPi),
                      pick.uniform(30.0f, 60.0f), pick.uniform(0.4f, 0.6f), seed(),
                      pick.uniform(0.0f, 30.0f));
    p.pigment = pick.uniform(0.25f, 0.45f);
    p.rim = pick.uniform(0.35f, 0.55f);
    p.rimWidth = pick.uniform(4.0f, 8.0f);
    p.granulation = i == 3 ? 0.3f : 0.15f;
    p.seed = seed();
    cells.push_back(PaintPuddle(p, tooth()));
  }
  // Wash strokes, two of them running dry at the end.
  for (int i = 0; i < 4; ++i) {
    Puddle p;
    const float half = pick.uniform(26.0f, 38.0f);
    StrokePath path =
        StrokePath::Gesture(pick.uniform(160.0f, 210.0f), pick.uniform(-0.5f, 0.5f),
                            pick.uniform(-1.2f, 1.2f), i == 3 ? 1.2f : 0.0f, 0.0f, centre);
    // The wobble of the outline reaches about a third of the half width past it.
    const float room = kBrushRadius - 6.0f - 1.35f * half;
    const float reach = path.reach(centre);
    if (reach > room) path = path.scaled(centre, room / reach);
    p.shape = Wash(path, half, pick.uniform(0.45f, 0.9f), pick.uniform(25.0f, 40.0f),
                   pick.uniform(0.25f, 0.4f), i % 2 ? 1.3f : 0.0f, seed());
    p.pigment = pick.uniform(0.3f, 0.5f);
    p.rim = pick.uniform(0.3f, 0.5f);
    p.rimWidth = pick.uniform(4.0f, 7.0f);
    p.fadeTo = pick.uniform(0.4f, 1.0f);
    p.seed = seed();
    cells.push_back(PaintPuddle(p, tooth()));
  }
  // Blooms.
  for (int i = 0; i < 3; ++i) {
    Puddle p;
    const float rx = pick.uniform(85.0f, 105.0f);
    p.shape =
        Ellipse(rx, rx * pick.uniform(0.7f, 0.95f), pick.uniform(0.0f, kPi), 45.0f, 0.35f, seed());
    p.pigment = pick.uniform(0.35f, 0.5f);
    p.rim = 0.45f;
    p.bloom = pick.uniform(30.0f, 50.0f);
    p.bx = pick.uniform(-25.0f, 25.0f);
    p.by = pick.uniform(-20.0f, 20.0f);
    p.seed = seed();
    cells.push_back(PaintPuddle(p, tooth()));
  }
  // Graded washes.
  for (int i = 0; i < 3; ++i) {
    Puddle p;
    const float rx = pick.uniform(85.0f, 108.0f);
    p.shape = Ellipse(rx, rx * pick.uniform(0.55f, 0.85f), pick.uniform(-0.4f, 0.4f), 50.0f, 0.3f,
                      seed());
    p.pigment = pick.uniform(0.45f, 0.6f);
    p.rim = 0.25f;
    p.fadeTo = 0.08f;
    p.fadeAngle = pick.uniform(0.0f, 2.0f * kPi);
    p.seed = seed();
    cells.push_back(PaintPuddle(p, tooth()));
  }
  // Wet-in-wet bleeds.
  for (int i = 0; i < 3; ++i) {
    Puddle p;
    const float rx = pick.uniform(62.0f, 80.0f);
    p.shape = Ellipse(rx, rx * pick.uniform(0.7f, 1.0f), pick.uniform(0.0f, kPi), 35.0f, 0.3f,
                      seed(), pick.uniform(30.0f, 50.0f));
    p.softness = pick.uniform(0.18f, 0.28f);
    p.feather = pick.uniform(0.5f, 0.8f);
    p.pigment = pick.uniform(0.45f, 0.6f);
    p.rim = 0.0f;
    p.seed = seed();
    cells.push_back(PaintPuddle(p, tooth()));
  }
  // Spatters around a small puddle.
  for (int i = 0; i < 2; ++i) {
    Puddle p;
    const float rx = pick.uniform(32.0f, 45.0f);
    p.shape = Ellipse(rx, rx * 0.8f, pick.uniform(0.0f, kPi), 20.0f, 0.4f, seed());
    p.pigment = 0.4f;
    p.rim = 0.45f;
    p.rimWidth = 3.0f;
    p.seed = seed();
    Field cell = PaintPuddle(p, tooth());
    AddSpatter(cell, tooth(), pick.fork(uint64_t(i) + 100), 90 + pick.below(60),
               pick.uniform(0.0f, 2.0f * kPi), i == 0 ? 3.0f : 0.8f);
    cells.push_back(std::move(cell));
  }
  // A granulating wash: heavy pigment settled into the valleys of the paper.
  {
    Puddle p;
    const float rx = pick.uniform(90.0f, 105.0f);
    p.shape = Ellipse(rx, rx * 0.7f, pick.uniform(0.0f, kPi), 40.0f, 0.35f, seed());
    p.pigment = 0.5f;
    p.rim = 0.3f;
    p.granulation = 0.45f;
    p.seed = seed();
    ToothOptions fine;
    fine.grainSize = 2.0f;
    fine.octaves = 3;
    cells.push_back(PaintPuddle(p, PaperTooth(kBrushCell, kBrushCell, fine, seed())));
  }
  // A dry-brush stroke: a nearly spent brush skimming the paper's tooth.
  {
    BristleBrush b;
    b.width = 60.0f;
    b.bristles = 40;
    b.bristleWidth = 3.0f;
    b.load = 1.0f;
    b.depletion = 0.45f;
    b.skip = 0.35f;
    b.skipLength = 30.0f;
    b.runOut = 0.6f;
    b.grainSoftness = 0.25f;
    b.seed = seed();
    Field cell = DrawBrushCellStroke(StrokePath::Gesture(180.0f, -0.2f, 0.5f, 0.0f, 0.0f, centre),
                                     b, tooth(), 0.35f);
    // Watercolour stays transparent even where the brush was loaded.
    for (float& v : cell.values) v *= 0.75f;
    cells.push_back(std::move(cell));
  }
  for (Field& cell : cells) KeepInsideCircle(cell, kBrushRadius);
  if (cells.size() != kBrushes) return QImage();
  return MakeBrushSheet("WatercolorBrushes", cells, kRows);
}

}  // namespace assetgen
