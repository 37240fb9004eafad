// The surface textures of the texture overlay and the paper grain of the wash painting.
//
// The overlay shifts every pixel's brightness by the difference between the texture's
// mean luminance and the texel under it, so what matters is the relief of the surface
// in grey: a moderate spread (a standard deviation of roughly 10 to 20 levels around a
// light mean) shows the grain at half strength without burying the picture. Every
// texture is built only from wrapping noise and wrapping strokes, so it tiles without
// a seam; light always comes from the upper left, as on a studio wall.
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

constexpr int kTile = 1024;
constexpr float kPi = std::numbers::pi_v<float>;
// Upper left, fairly low, so that a fine relief still throws visible shadows.
constexpr float kLightAzimuth = -0.75f * kPi;
constexpr float kLightElevation = 0.6f;

// Fibres lying in the sheet: short wandering threads, slightly lighter or darker than
// the pulp around them, added to `tone`.
struct FibreOptions {
  int count;
  float minLength, maxLength;
  float width;
  // Tone change at the middle of a fibre; each fibre picks a sign and a fraction.
  float contrast;
  // Fraction of fibres that are darker than the sheet.
  float darkShare;
  // Main direction and how far fibres stray from it (radians); spread pi for no order.
  float angle = 0.0f;
  float spread = kPi;
};

void AddFibres(Field& tone, const FibreOptions& options, Rng rng) {
  for (int i = 0; i < options.count; ++i) {
    const float x = rng.uniform(0.0f, float(tone.width));
    const float y = rng.uniform(0.0f, float(tone.height));
    const float angle = options.angle + options.spread * rng.uniform(-1.0f, 1.0f);
    const float length = rng.uniform(options.minLength, options.maxLength);
    const Path path = WanderingPath(rng, x, y, angle, length, rng.gaussian() * 1.5f, 0.6f);
    const float width = options.width * rng.uniform(0.6f, 1.3f);
    const float sign = rng.uniform() < options.darkShare ? -1.0f : 1.0f;
    const float strength = sign * options.contrast * rng.uniform(0.4f, 1.0f);
    VisitPath(tone.width, tone.height, path, 0.5f * width + 1.0f, true,
              [&](int px, int py, const PathPoint& p) {
                const float cover =
                    std::clamp(0.5f * width + 0.5f - std::fabs(p.across), 0.0f, 1.0f);
                // Fibres thin out towards their ends.
                const float t = p.along / std::max(p.length, 1.0f);
                const float taper = std::sin(kPi * std::clamp(t, 0.0f, 1.0f));
                tone.at(px, py) += strength * cover * (0.3f + 0.7f * taper);
              });
  }
}

// Cold-press watercolour paper: a felt of rounded pebbles of several sizes, lit from
// the upper left, with pigment-catching valleys and a gentle cloudiness of the sheet.
Field WatercolorPaper(int width, int height, uint32_t seed, float mottling) {
  Rng rng(seed);
  const Field big = TileableBumps(width, height, 24.0f, uint32_t(rng.next()));
  const Field mid = TileableBumps(width, height, 12.0f, uint32_t(rng.next()));
  const Field fine = TileableGrain(width, height, 1, 2, uint32_t(rng.next()));
  FbmOptions feltOptions;
  feltOptions.cell = 200.0f;
  feltOptions.octaves = 3;
  feltOptions.persistence = 0.55f;
  // Where the felt pressed harder the pebbles stand out more.
  const Field felt = TileableFbm(width, height, feltOptions, uint32_t(rng.next()));
  feltOptions.cell = 90.0f;
  const Field cloud = TileableFbm(width, height, feltOptions, uint32_t(rng.next()));

  // Pebbles are flattened on top (the press), so their height goes as a square root.
  Field surfaceHeight(width, height);
  for (size_t i = 0; i < surfaceHeight.values.size(); ++i) {
    const float press = 0.6f + 0.8f * felt.values[i];
    surfaceHeight.values[i] =
        press * (3.4f * std::sqrt(big.values[i]) + 1.9f * std::sqrt(mid.values[i])) +
        0.25f * fine.values[i];
  }
  surfaceHeight = BoxBlur(surfaceHeight, 1, 1, true, true);
  const Field light = Relief(surfaceHeight, kLightAzimuth, kLightElevation, true);
  const float meanHeight = Mean(surfaceHeight);

  Field tone(width, height);
  for (size_t i = 0; i < tone.values.size(); ++i) {
    // Valleys lie in a little shadow whatever the light; the lit faces of the pebbles
    // come out brighter, the far faces darker.
    const float valley = surfaceHeight.values[i] - meanHeight;
    tone.values[i] =
        226.0f + 130.0f * light.values[i] + 4.0f * valley + mottling * (cloud.values[i] - 0.5f);
  }
  FibreOptions fibres{700, 20.0f, 70.0f, 1.1f, 9.0f, 0.5f};
  AddFibres(tone, fibres, rng.fork(7));
  return Roll(tone, 389, 211);
}

// Drawing paper: a fine, even tooth with fibres and the soft cloudiness of the sheet.
Field DrawingPaper(uint32_t seed) {
  Rng rng(seed);
  const Field fine = TileableGrain(kTile, kTile, 1, 3, uint32_t(rng.next()));
  const Field coarse = TileableGrain(kTile, kTile, 2, 3, uint32_t(rng.next()));
  FbmOptions cloudOptions;
  cloudOptions.cell = 160.0f;
  cloudOptions.octaves = 3;
  cloudOptions.persistence = 0.5f;
  const Field cloud = TileableFbm(kTile, kTile, cloudOptions, uint32_t(rng.next()));
  Field heightField(kTile, kTile);
  for (size_t i = 0; i < heightField.values.size(); ++i)
    heightField.values[i] = 0.55f * fine.values[i] + 0.9f * coarse.values[i];
  const Field light = Relief(heightField, kLightAzimuth, kLightElevation, true);
  Field tone(kTile, kTile);
  for (size_t i = 0; i < tone.values.size(); ++i)
    tone.values[i] = 226.0f + 3.0f * heightField.values[i] + 70.0f * light.values[i] +
                     10.0f * (cloud.values[i] - 0.5f);
  FibreOptions fibres{900, 25.0f, 110.0f, 0.9f, 12.0f, 0.6f};
  AddFibres(tone, fibres, rng.fork(3));
  return Roll(tone, 307, 173);
}

// Threads crossing over and under each other. Warp threads run down the picture,
// weft threads across; at every crossing one lies on top, in a pattern that repeats
// every `repeat` threads (2: plain weave, 4: a 2/2 twill with its diagonal ribs).
struct WeaveOptions {
  int threads = 96;
  int repeat = 2;
  // Share of the pitch a thread covers at its normal thickness.
  float cover = 0.85f;
  // Sideways wander of a thread, and its slubs (thick and thin places), in pixels and
  // as a share of the thickness.
  float wander = 0.8f;
  float slub = 0.25f;
  // How far a thread rises where it lies on top and sinks where it passes under.
  float lift = 0.45f;
  // Fibre streaks along a thread, and the diagonal ridges of its twist.
  float streaks = 0.10f;
  float twist = 0.06f;
  // Tone differences between whole threads (yarn from different lots).
  float threadTone = 0.05f;
};

struct Cloth {
  Field height;  // 0 in the gaps, up to about 1 on the top of a thread
  Field albedo;  // about 1, lower for darker yarn and streaks
};

Cloth Weave(const WeaveOptions& o, uint32_t seed) {
  const float pitch = float(kTile) / float(o.threads);
  const float shift = 0.5f * float(o.repeat / 2 - 1);
  const uint32_t wanderSeed = HashPoint(1, 0, seed), slubSeed = HashPoint(2, 0, seed);
  const uint32_t streakSeed = HashPoint(3, 0, seed), toneSeed = HashPoint(4, 0, seed);
  Cloth cloth{Field(kTile, kTile), Field(kTile, kTile, 1.0f)};

  // One thread family: `pos` runs across the threads, `along` along them; `family`
  // keeps the noise of warp and weft apart. Returns the thread's height and albedo at
  // the point, or a height below 0 when no thread covers it.
  struct Hit {
    float height = -1.0f;
    float albedo = 1.0f;
  };
  auto thread = [&](float pos, float along, int family, bool warp) {
    Hit best;
    const int centre = int(std::floor(pos / pitch));
    for (int k = centre - 1; k <= centre + 1; ++k) {
      const int index = Field::Wrap(k, o.threads);
      const int key = index * 2 + family;
      const float middle = (float(k) + 0.5f) * pitch +
                           2.0f * o.wander * (LoopNoise(along, kTile, 20, key, wanderSeed) - 0.5f);
      const float half =
          0.5f * pitch * o.cover *
          (1.0f + 2.0f * o.slub * (LoopNoise(along, kTile, 48, key, slubSeed) - 0.5f));
      const float u = (pos - middle) / half;
      if (std::fabs(u) >= 1.0f) continue;
      // The phase of the over-and-under: +1 where this thread lies on top.
      const float phase = along / pitch - 0.5f - float(index) - shift;
      const float over = std::cos(2.0f * kPi * phase / float(o.repeat));
      const float rise = (1.0f - o.lift) + o.lift * (warp ? over : -over);
      const float height = std::sqrt(1.0f - u * u) * rise;
      if (height <= best.height) continue;
      best.height = height;
      const float streak =
          PeriodicValueNoise2(u * 2.5f + float(key) * 5.0f, along * 24.0f / float(kTile) * 8.0f,
                              1 << 20, 24 * 8, streakSeed);
      const float twist = std::sin(2.0f * kPi * (along / (1.6f * pitch) + 0.6f * u));
      best.albedo = 1.0f - o.streaks * streak - o.twist * (0.5f + 0.5f * twist) -
                    o.threadTone * LatticeValue(key, 0, toneSeed);
    }
    return best;
  };

  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      const float px = float(x) + 0.5f, py = float(y) + 0.5f;
      // Warp down the picture (position x, along y); weft across, with the roles of
      // x and y swapped and the opposite phase.
      const Hit warp = thread(px, py, 0, true);
      const Hit weft = thread(py, px, 1, false);
      const Hit& top = warp.height >= weft.height ? warp : weft;
      cloth.height.at(x, y) = std::max(top.height, 0.0f);
      cloth.albedo.at(x, y) = top.height > 0.0f ? top.albedo : 1.0f;
    }
  return cloth;
}

// Primed linen canvas: a plain weave of slubby threads, with white ground lying in
// the hollows between them so that only the tops of the threads show their shading.
Field Canvas(uint32_t seed) {
  Rng rng(seed);
  WeaveOptions o;
  o.threads = 96;
  o.repeat = 2;
  o.cover = 0.96f;
  o.wander = 1.3f;
  o.slub = 0.4f;
  o.lift = 0.32f;
  o.threadTone = 0.08f;
  Cloth cloth = Weave(o, uint32_t(rng.next()));
  const Field ground = TileableGrain(kTile, kTile, 2, 2, uint32_t(rng.next()));
  Field heightField(kTile, kTile);
  Field primer(kTile, kTile);
  for (size_t i = 0; i < heightField.values.size(); ++i) {
    // The ground levels out at this height; a soft maximum leaves no crease where the
    // thread comes up through it.
    const float level = 0.3f + 0.05f * ground.values[i];
    const float h = cloth.height.values[i];
    const float k = 0.08f;
    const float top = 0.5f * (h + level + std::sqrt((h - level) * (h - level) + k * k));
    heightField.values[i] = 3.2f * top;
    primer.values[i] = SmoothStep(level + 0.12f, level - 0.02f, h);
  }
  heightField = BoxBlur(heightField, 1, 1, true, true);
  const Field light = Relief(heightField, kLightAzimuth, kLightElevation, true);
  // The ground was brushed on in broad horizontal sweeps, which left it a little
  // thicker in places.
  FbmOptions sweepOptions;
  sweepOptions.cell = 110.0f;
  sweepOptions.octaves = 3;
  sweepOptions.stretchX = 5.0f;
  const Field strokes = TileableFbm(kTile, kTile, sweepOptions, uint32_t(rng.next()));
  Field tone(kTile, kTile);
  for (size_t i = 0; i < tone.values.size(); ++i) {
    // Linen under a thin coat of ground is a little darker than the ground itself.
    const float albedo =
        primer.values[i] + (1.0f - primer.values[i]) * (0.93f * cloth.albedo.values[i]);
    tone.values[i] =
        242.0f * albedo * (1.0f + 0.55f * light.values[i]) + 8.0f * (strokes.values[i] - 0.5f);
  }
  return Roll(tone, 251, 137);
}

// A fine twill: thin threads of twisted fibre with dark gaps between them and the
// diagonal ribs of the weave.
Field Fabric(uint32_t seed) {
  Rng rng(seed);
  WeaveOptions o;
  o.threads = 192;
  o.repeat = 4;
  o.cover = 0.9f;
  o.wander = 0.35f;
  o.slub = 0.18f;
  o.lift = 0.4f;
  o.streaks = 0.14f;
  o.twist = 0.1f;
  o.threadTone = 0.08f;
  Cloth cloth = Weave(o, uint32_t(rng.next()));
  FbmOptions fuzzOptions;
  fuzzOptions.cell = 120.0f;
  fuzzOptions.octaves = 3;
  const Field dye = TileableFbm(kTile, kTile, fuzzOptions, uint32_t(rng.next()));
  Field heightField(kTile, kTile);
  for (size_t i = 0; i < heightField.values.size(); ++i)
    heightField.values[i] = 1.6f * std::sqrt(cloth.height.values[i]);
  const Field light = Relief(heightField, kLightAzimuth, kLightElevation, true);
  Field tone(kTile, kTile);
  for (size_t i = 0; i < tone.values.size(); ++i) {
    const float gap = 1.0f - SmoothStep(0.0f, 0.5f, cloth.height.values[i]);
    tone.values[i] = 238.0f * cloth.albedo.values[i] * (1.0f + 0.6f * light.values[i]) -
                     24.0f * gap + 10.0f * (dye.values[i] - 0.5f);
  }
  FibreOptions fuzz{2500, 6.0f, 22.0f, 0.7f, 10.0f, 0.3f};
  AddFibres(tone, fuzz, rng.fork(5));
  return Roll(tone, 203, 331);
}

// Corrugated board seen from its liner: the flutes underneath show as broad soft
// ridges, and the recycled pulp of the liner carries fibres, darker flecks of bark and
// ink and the odd light chip.
Field Cardboard(uint32_t seed) {
  Rng rng(seed);
  constexpr int kFlutes = 28;
  const float period = float(kTile) / float(kFlutes);
  const uint32_t fluteSeed = uint32_t(rng.next());
  const Field pulp = TileableGrain(kTile, kTile, 1, 2, uint32_t(rng.next()));
  const Field clumps = TileableGrain(kTile, kTile, 4, 2, uint32_t(rng.next()));
  FbmOptions cloudOptions;
  cloudOptions.cell = 150.0f;
  cloudOptions.octaves = 4;
  cloudOptions.persistence = 0.55f;
  const Field cloud = TileableFbm(kTile, kTile, cloudOptions, uint32_t(rng.next()));

  Field heightField(kTile, kTile);
  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x) {
      // The flutes were glued slightly crooked: each ridge drifts up and down a little
      // along its length.
      const float drift = 3.0f * (LoopNoise(float(x), kTile, 6, 0, fluteSeed) - 0.5f);
      const float phase = 2.0f * kPi * (float(y) + 0.5f + drift) / period;
      // The liner sags between the glued crests, so ridges are round and valleys
      // flatter.
      const float ridge = 0.5f + 0.5f * std::cos(phase);
      heightField.at(x, y) =
          0.8f * ridge * ridge * period / 10.0f + 0.6f * clumps.at(x, y) + 0.25f * pulp.at(x, y);
    }
  const Field light = Relief(heightField, kLightAzimuth, kLightElevation, true);
  Field tone(kTile, kTile);
  for (size_t i = 0; i < tone.values.size(); ++i)
    tone.values[i] = 200.0f + 100.0f * light.values[i] + 5.0f * pulp.values[i] +
                     18.0f * (cloud.values[i] - 0.5f);
  FibreOptions fibres{5000, 6.0f, 30.0f, 1.0f, 16.0f, 0.65f};
  AddFibres(tone, fibres, rng.fork(11));

  // Flecks: small irregular specks, mostly dark, a few light.
  Rng flecks = rng.fork(12);
  for (int i = 0; i < 900; ++i) {
    const float cx = flecks.uniform(0.0f, float(kTile)), cy = flecks.uniform(0.0f, float(kTile));
    const float size = 0.7f + 2.6f * flecks.uniform() * flecks.uniform();
    const float angle = flecks.uniform(0.0f, kPi);
    const float length = size * flecks.uniform(1.0f, 3.0f);
    const bool dark = flecks.uniform() < 0.85f;
    const float strength = (dark ? -1.0f : 1.0f) * flecks.uniform(25.0f, 70.0f);
    Path path;
    path.x = {cx - 0.5f * length * std::cos(angle), cx + 0.5f * length * std::cos(angle)};
    path.y = {cy - 0.5f * length * std::sin(angle), cy + 0.5f * length * std::sin(angle)};
    VisitPath(kTile, kTile, path, size + 1.0f, true, [&](int px, int py, const PathPoint& p) {
      const float cover = std::clamp(size + 0.5f - std::fabs(p.across), 0.0f, 1.0f);
      const float t = p.along / std::max(p.length, 1e-3f);
      tone.at(px, py) += strength * cover * std::sqrt(std::sin(kPi * std::clamp(t, 0.0f, 1.0f)));
    });
  }
  return Roll(tone, 157, 419);
}

// Impasto: thick oil paint laid with a loaded brush and a palette knife, lit from the
// left. Brush strokes leave bristle furrows along their length and ridges of paint
// pushed to their edges and ends; knife strokes leave flat planes with sharp lips. Later
// strokes cover earlier ones, partly smoothing what they cross.
Field Impasto(uint32_t seed) {
  Rng rng(seed);
  FbmOptions under;
  under.cell = 180.0f;
  under.octaves = 3;
  Field heightField = TileableFbm(kTile, kTile, under, uint32_t(rng.next()));
  for (float& v : heightField.values) v *= 4.0f;

  // The painter works in two general directions, crossing, as when building up a
  // surface with the knife and then brushing into it.
  const float mainAngle = rng.uniform(0.0f, kPi);
  constexpr int kStrokes = 650;
  for (int i = 0; i < kStrokes; ++i) {
    const bool knife = rng.uniform() < 0.3f;
    const float width = knife ? rng.uniform(34.0f, 80.0f) : rng.uniform(22.0f, 60.0f);
    const float length = rng.uniform(1.8f, 4.5f) * width;
    const float angle =
        mainAngle + (rng.uniform() < 0.6f ? 0.0f : 0.5f * kPi) + 0.35f * rng.gaussian();
    const float x = rng.uniform(0.0f, float(kTile)), y = rng.uniform(0.0f, float(kTile));
    const Path path = WanderingPath(rng, x, y, angle, length,
                                    knife ? 0.1f * rng.gaussian() : 0.5f * rng.gaussian(),
                                    knife ? 0.03f : 0.15f, 8.0f);
    const float thickness = knife ? rng.uniform(4.0f, 7.0f) : rng.uniform(4.0f, 8.0f);
    const float tilt = knife ? rng.uniform(-3.0f, 3.0f) : 0.0f;
    const uint32_t noiseSeed = uint32_t(rng.next());
    const float runOut = rng.uniform(0.55f, 1.1f);
    const float half = 0.5f * width;
    VisitPath(kTile, kTile, path, half + 4.0f, true, [&](int px, int py, const PathPoint& p) {
      const float t = p.along / std::max(p.length, 1.0f);
      // The mark widens as the tool comes down and its edges are never quite straight.
      const float swell = (knife ? 0.9f + 0.1f * SmoothStep(0.0f, 0.1f, t)
                                 : 0.45f + 0.55f * SmoothStep(0.0f, 0.2f, t)) *
                          (0.9f + 0.2f * ValueNoise1(p.along / 25.0f, noiseSeed));
      const float side = p.across / (half * swell);
      const float rag =
          0.1f *
          (ValueNoise2(p.along / 5.0f, side > 0.0f ? 3.0f : 9.0f, noiseSeed ^ 0x9E37u) - 0.5f);
      const float edgeDistance = std::fabs(side) + rag;
      float& h = heightField.at(px, py);
      float paint, cover;
      if (knife) {
        // A plane at the blade's height, tilted along it, with lips of paint squeezed
        // out at the edges and at the end, and now and then a groove where grit in the
        // paint was dragged along.
        const float lip = std::exp(-std::pow((edgeDistance - 0.93f) / 0.07f, 2.0f)) +
                          1.5f * std::exp(-std::pow((t - 0.96f) / 0.035f, 2.0f));
        const float wave = ValueNoise2(p.along / 45.0f, p.across / 30.0f, noiseSeed ^ 0x51u);
        const float grit = ValueNoise2(p.across / 1.4f, p.along / 150.0f, noiseSeed ^ 0x77u);
        paint = thickness + tilt * (t - 0.5f) + 1.2f * wave + 2.2f * lip -
                1.2f * SmoothStep(0.8f, 0.95f, grit);
        cover = (1.0f - SmoothStep(0.95f, 1.0f, edgeDistance)) * SmoothStep(1.0f, 0.97f, t);
      } else {
        // Bristle furrows run the whole stroke. As the brush empties, paint is left
        // only on the ridges it passes over, and the end breaks up.
        const float bristle =
            0.6f * ValueNoise2(p.across / 2.0f, p.along / 70.0f, noiseSeed) +
            0.4f * ValueNoise2(p.across / 5.5f, p.along / 140.0f, noiseSeed ^ 0x33u);
        const float load = 1.0f - SmoothStep(runOut - 0.4f, runOut, t);
        const float ridge = std::exp(-std::pow((edgeDistance - 0.9f) / 0.12f, 2.0f));
        const float start = std::exp(-std::pow(t / 0.07f, 2.0f));
        paint = thickness * (0.5f + 0.5f * load) * (0.45f + 1.1f * bristle) +
                1.6f * ridge * bristle + 2.5f * start;
        const float dry = SmoothStep(0.35f, 0.6f, 0.6f * bristle + 0.7f * load);
        cover = (1.0f - SmoothStep(0.88f, 1.0f, edgeDistance)) * dry *
                SmoothStep(1.0f, 0.9f, t + 0.15f * (bristle - 0.5f));
      }
      // New paint rides partly on the old relief and partly flattens it.
      h = (1.0f - cover) * h + cover * (0.3f * h + paint);
    });
  }
  // Oil paint settles a little before it skins over, softening the sharpest lips.
  heightField = BoxBlur(BoxBlur(heightField, 1, 1, true, true), 1, 1, true, true);
  const Field light = Relief(heightField, kPi, 0.75f, true);
  Field tone(kTile, kTile);
  for (size_t i = 0; i < tone.values.size(); ++i)
    tone.values[i] = 214.0f + 120.0f * light.values[i];
  return Roll(tone, 113, 277);
}

}  // namespace

QImage DrawWatercolorGrain() { return ToGreyImage(WatercolorPaper(1024, 768, 0x3A7E2C01u, 14.0f)); }

QImage DrawWatercolorTexture() {
  return ToGreyImage(WatercolorPaper(kTile, kTile, 0x3A7E2C02u, 10.0f));
}

QImage DrawPaperTexture() { return ToGreyImage(DrawingPaper(0x9A9E4001u)); }

QImage DrawCanvasTexture() { return ToGreyImage(Canvas(0xCA9A5001u)); }

QImage DrawFabricTexture() { return ToGreyImage(Fabric(0xFAB41C01u)); }

QImage DrawCardboardTexture() { return ToGreyImage(Cardboard(0xCA7DB001u)); }

QImage DrawImpastoTexture() { return ToGreyImage(Impasto(0x1A9A5701u)); }

}  // namespace assetgen
