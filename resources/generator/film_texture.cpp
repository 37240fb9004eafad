// OldFilmTexture: a worn print of old film stock, as a grey overlay.
//
// The vintage effect adds (texel luminance - mean luminance) x grain / 100 to every
// channel, on top of its own per-pixel hash noise. So the picture is a flat mid grey
// that only departs from its mean where the film has a flaw: the uneven density of an
// old emulsion, long scratches running down the film (most scratched into the
// emulsion and printing light, a few in the base and printing dark), dust and specks
// of both kinds, and the odd hair caught in the gate. Fine grain is left to the
// effect's noise, which keeps the picture flat enough to compress well.
//
// The effect takes the texel at (x mod width, y mod height), so a small photograph
// sees only the top left of the picture and a large one sees it repeated. Every flaw
// therefore wraps around the edges, and the darkening towards the edges is kept
// faint: a strong one would darken only the top and left of a small photograph.
#include "assets.h"
#include "field.h"
#include "noise.h"
#include "rng.h"
#include "surface_tools.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assetgen {

namespace {

using namespace surface;

constexpr int kWidth = 2904;
constexpr int kHeight = 2064;
constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kBase = 150.0f;

// Density that varies over the frame: broad clouds and faint streaks along the film
// from uneven development.
void AddDensity(Field& film, Rng rng) {
  FbmOptions clouds;
  clouds.cell = 700.0f;
  clouds.octaves = 4;
  clouds.persistence = 0.5f;
  const Field cloud = TileableFbm(kWidth, kHeight, clouds, uint32_t(rng.next()));
  FbmOptions streaks;
  streaks.cell = 500.0f;
  streaks.octaves = 3;
  streaks.stretchX = 0.06f;
  const Field streak = TileableFbm(kWidth, kHeight, streaks, uint32_t(rng.next()));
  for (size_t i = 0; i < film.values.size(); ++i)
    film.values[i] += 16.0f * (cloud.values[i] - 0.5f) + 6.0f * (streak.values[i] - 0.5f);
}

// A scratch down the film: it wanders a few pixels from side to side and comes and
// goes as the film lifts off the object that scratched it.
void AddScratch(Field& film, Rng& rng, int index, bool full) {
  const float x0 = rng.uniform(0.0f, float(kWidth));
  const float width = rng.uniform(0.8f, 2.6f);
  const bool light = rng.uniform() < 0.75f;
  const float strength = (light ? 1.0f : -1.0f) * rng.uniform(35.0f, 90.0f);
  const float start = full ? 0.0f : rng.uniform(0.0f, float(kHeight));
  const float length = full ? float(kHeight) : rng.uniform(0.15f, 0.7f) * float(kHeight);
  // A scratch that runs the whole height must meet itself across the edge, so it may
  // wander but not slant.
  const float slant = full ? 0.0f : rng.uniform(-0.01f, 0.01f);
  const float wander = rng.uniform(1.0f, 6.0f);
  const uint32_t seed = uint32_t(rng.next());
  Path path;
  for (float y = start; y <= start + length + 0.5f; y += 12.0f) {
    path.x.push_back(x0 + slant * (y - start) +
                     2.0f * wander * (LoopNoise(y, kHeight, 9, index, seed) - 0.5f));
    path.y.push_back(y);
  }
  const float reach = 0.5f * width + 2.5f;
  VisitPath(kWidth, kHeight, path, reach, true, [&](int px, int py, const PathPoint& p) {
    // Present along most of its length, fading in and out in places.
    const float presence =
        SmoothStep(0.25f, 0.55f, LoopNoise(float(py), kHeight, 14, index, seed ^ 0xA5u));
    const float ends =
        full ? 1.0f
             : SmoothStep(0.0f, 60.0f, p.along) * SmoothStep(0.0f, 60.0f, p.length - p.along);
    const float core = std::clamp(0.5f * width + 0.5f - std::fabs(p.across), 0.0f, 1.0f);
    // The torn emulsion beside a scratch scatters light: a soft, weak halo.
    const float halo = 0.25f * std::exp(-std::pow(p.across / (width + 1.2f), 2.0f));
    film.at(px, py) += strength * presence * ends * std::max(core, halo);
  });
}

// A speck of dust: an irregular blob, dark where dust lay on the print, light where it
// lay on the negative.
void AddSpeck(Field& film, Rng& rng, int index, float maxRadius) {
  const float cx = rng.uniform(0.0f, float(kWidth)), cy = rng.uniform(0.0f, float(kHeight));
  const float radius = 0.6f + (maxRadius - 0.6f) * std::pow(rng.uniform(), 3.0f);
  const bool dark = rng.uniform() < 0.7f;
  const float strength = (dark ? -1.0f : 1.0f) * rng.uniform(40.0f, 110.0f);
  const uint32_t seed = uint32_t(rng.next());
  const int reach = int(std::ceil(radius * 1.5f)) + 2;
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const int px = int(std::floor(cx)) + dx, py = int(std::floor(cy)) + dy;
      const float rx = float(px) + 0.5f - cx, ry = float(py) + 0.5f - cy;
      const float angle = std::atan2(ry, rx) + kPi;
      // A ragged outline: the radius wobbles around the blob.
      const float edge = radius * (0.65f + 0.7f * LoopNoise(angle, 2.0f * kPi, 5, index, seed));
      const float cover = std::clamp(edge + 0.5f - std::hypot(rx, ry), 0.0f, 1.0f);
      if (cover > 0.0f)
        film.at(Field::Wrap(px, kWidth), Field::Wrap(py, kHeight)) += strength * cover;
    }
}

// A hair or lint fibre: a thin dark curl.
void AddHair(Field& film, Rng& rng) {
  const float x = rng.uniform(0.0f, float(kWidth)), y = rng.uniform(0.0f, float(kHeight));
  const float length = rng.uniform(40.0f, 320.0f);
  const Path path = WanderingPath(rng, x, y, rng.uniform(0.0f, 2.0f * kPi), length,
                                  rng.gaussian() * 2.5f, 1.2f, 3.0f);
  const float width = rng.uniform(1.0f, 2.4f);
  const float strength = -rng.uniform(60.0f, 110.0f);
  VisitPath(kWidth, kHeight, path, 0.5f * width + 1.5f, true,
            [&](int px, int py, const PathPoint& p) {
              const float cover = std::clamp(0.5f * width + 0.5f - std::fabs(p.across), 0.0f, 1.0f);
              // Out of focus towards one end, where it curls off the film.
              const float focus = 1.0f - 0.5f * SmoothStep(0.6f, 1.0f, p.along / p.length);
              film.at(px, py) += strength * cover * focus;
            });
}

// A faint drying mark: a soft patch of ragged outline with a slightly darker rim.
void AddStain(Field& film, Rng& rng, int index) {
  const float cx = rng.uniform(0.0f, float(kWidth)), cy = rng.uniform(0.0f, float(kHeight));
  const float radius = rng.uniform(30.0f, 110.0f);
  const float strength = rng.uniform(-1.0f, 1.0f) < 0.0f ? -8.0f : 6.0f;
  const uint32_t seed = uint32_t(rng.next());
  const int reach = int(radius * 1.6f);
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const float angle = std::atan2(float(dy), float(dx)) + kPi;
      const float edge = radius * (0.7f + 0.6f * LoopNoise(angle, 2.0f * kPi, 7, index, seed));
      const float r = std::hypot(float(dx), float(dy)) / edge;
      const float inside = 1.0f - SmoothStep(0.85f, 1.0f, r);
      const float rim = std::exp(-std::pow((r - 0.95f) / 0.05f, 2.0f));
      const int px = Field::Wrap(int(cx) + dx, kWidth), py = Field::Wrap(int(cy) + dy, kHeight);
      film.at(px, py) += strength * (0.6f * inside + 1.2f * rim);
    }
}

}  // namespace

QImage DrawOldFilmTexture() {
  Rng rng(0x0F11A7E5u);
  Field film(kWidth, kHeight, kBase);
  AddDensity(film, rng.fork(1));

  Rng scratches = rng.fork(2);
  int index = 0;
  for (int i = 0; i < 9; ++i) AddScratch(film, scratches, index++, true);
  for (int i = 0; i < 22; ++i) AddScratch(film, scratches, index++, false);

  Rng dust = rng.fork(3);
  for (int i = 0; i < 1400; ++i) AddSpeck(film, dust, i, 2.0f);
  for (int i = 0; i < 90; ++i) AddSpeck(film, dust, 10000 + i, 7.0f);

  Rng hairs = rng.fork(4);
  for (int i = 0; i < 14; ++i) AddHair(film, hairs);
  Rng stains = rng.fork(5);
  for (int i = 0; i < 7; ++i) AddStain(film, stains, i);

  // Specks were sharp-edged on the film but the print softened them a little.
  film = BoxBlur(film, 1, 1, true, true);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const float u = (float(x) + 0.5f) / float(kWidth) * 2.0f - 1.0f;
      const float v = (float(y) + 0.5f) / float(kHeight) * 2.0f - 1.0f;
      const float r2 = 0.5f * (u * u + v * v);
      film.at(x, y) -= 8.0f * r2 * r2;
    }
  return ToGreyImage(film);
}

}  // namespace assetgen
