// PencilTexture: a tone strip drawn the way an artist fills a value scale with a pencil.
// At the right the paper is almost untouched, light strokes catching only the tops of
// the tooth; towards the left the horizontal strokes press harder, two directions of
// cross-hatching come in over the mid tones, and at the far left a dense, heavy layer
// leaves only specks of dusty paper in the deepest valleys of the tooth.
//
// The sketch effect reads this strip as a lookup table: column = 2 x luminance, row =
// position along a scan line. So every column must have a well-defined mean (the
// strip is calibrated column by column to a straight ramp), every band of rows must
// carry the same tone (strokes lie in evenly spaced lanes and their pressure is evened
// out patch by patch), and the main grain runs along x. The effect cycles through rows
// 1..164, so those rows tile vertically; rows 0 and 165 repeat rows 164 and 1.
#include "assets.h"
#include "field.h"
#include "graphite.h"
#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assetgen {

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 166;
constexpr int kPeriod = kHeight - 2;
constexpr float kDarkMean = 38.0f;
constexpr float kLightMean = 251.0f;
// Heavy graphite is a dark grey with a sheen, never black.
constexpr float kGraphiteFloor = 0.12f;
constexpr float kDust = 0.3f;

float Radians(float degrees) { return degrees * std::numbers::pi_v<float> / 180.0f; }

// How dark a column should be: 1 at the left edge, 0 at the right.
float Demand(float x) { return 1.0f - x / float(kWidth - 1); }

// One pass of parallel strokes in one direction, like one layer an artist lays over
// the whole scale.
struct HatchLayer {
  float angleDegrees;
  float angleJitterDegrees;
  // Distance between neighbouring lanes, measured down a column.
  float spacing;
  float width;
  float minLength, maxLength;
  // Along a lane the next stroke starts this far after the end of the previous one
  // (negative: the strokes overlap).
  float minGap, maxGap;
  float darkness;
  // Pressure grows from 0 where Demand is `fadeIn` to `pressure` where it is `full`.
  float fadeIn, full;
  float pressure;
};

// Strokes in evenly spaced lanes that run the whole length of the strip, so every band
// of rows gets the same number of strokes. `hand` scales the pressure at each cell.
void DrawLayer(Field& deposit, const Field& tooth, const HatchLayer& layer, Rng rng,
               const Field& hand) {
  const int lanes = std::max(1, int(std::lround(float(kPeriod) / layer.spacing)));
  const float laneStep = float(kPeriod) / float(lanes);
  const float slope = std::tan(Radians(layer.angleDegrees));
  const float cosine = std::cos(Radians(layer.angleDegrees));
  const PressureField pressure = [&layer, &hand](float x, float y) {
    const float ramp =
        std::clamp((Demand(x) - layer.fadeIn) / (layer.full - layer.fadeIn), 0.0f, 1.0f);
    return ramp * hand.at(int(x), int(y));
  };
  // Lanes start left of the strip so that the left edge is covered like the rest.
  constexpr float kLead = 80.0f;
  for (int lane = 0; lane < lanes; ++lane) {
    const float laneY = (float(lane) + rng.uniform(-0.25f, 0.25f)) * laneStep;
    float x = -kLead + rng.uniform(-1.0f, 0.0f) * layer.maxLength * cosine;
    while (x < float(kWidth)) {
      GraphiteStroke s;
      s.length = rng.uniform(layer.minLength, layer.maxLength);
      s.angle = Radians(layer.angleDegrees + layer.angleJitterDegrees * rng.gaussian());
      s.x = x;
      s.y = laneY + slope * (x + kLead) + 0.22f * layer.spacing * rng.gaussian();
      s.width = layer.width * rng.uniform(0.85f, 1.15f);
      s.pressure = layer.pressure * rng.uniform(0.8f, 1.1f);
      s.bow = rng.gaussian() * 0.012f * s.length;
      s.attack = rng.uniform(0.04f, 0.12f);
      s.release = rng.uniform(0.2f, 0.45f);
      s.darkness = layer.darkness;
      s.seed = uint32_t(rng.next());
      DrawGraphiteStroke(deposit, tooth, s, true, pressure);
      x += s.length * cosine + rng.uniform(layer.minGap, layer.maxGap);
    }
  }
}

// angle, jitter, spacing, width, length, gap, darkness, fadeIn, full, pressure
const HatchLayer kLayers[] = {
    {0.0f, 1.2f, 4.5f, 2.4f, 40.0f, 110.0f, -6.0f, 10.0f, 1.8f, -0.3f, 1.0f, 0.8f},
    {1.2f, 1.2f, 4.5f, 2.4f, 40.0f, 110.0f, -6.0f, 8.0f, 1.8f, 0.0f, 0.9f, 0.75f},
    {26.0f, 2.5f, 4.2f, 2.4f, 35.0f, 90.0f, -4.0f, 8.0f, 2.2f, 0.3f, 0.95f, 0.9f},
    {-20.0f, 2.5f, 4.2f, 2.4f, 35.0f, 90.0f, -4.0f, 8.0f, 2.2f, 0.45f, 1.0f, 0.95f},
    {2.5f, 1.0f, 2.6f, 2.8f, 50.0f, 130.0f, -10.0f, 4.0f, 2.0f, 0.72f, 1.05f, 1.0f},
};

Field DrawHatching(const Field& tooth, const Field& hand, const Rng& rng) {
  Field deposit(kWidth, kPeriod);
  for (size_t i = 0; i < std::size(kLayers); ++i)
    DrawLayer(deposit, tooth, kLayers[i], rng.fork(i + 1), hand);
  return deposit;
}

// Tone of graphite `deposit` on paper of tooth height `h`.
float Tone(float deposit, float h, float gain) {
  // Valleys of the tooth sit slightly in shadow.
  const float paper = 255.0f - 6.0f * (1.0f - h) * (1.0f - h);
  return paper * (kGraphiteFloor + (1.0f - kGraphiteFloor) * std::exp(-gain * deposit));
}

int PeriodicRow(int row) { return Field::Wrap(row - 1, kPeriod); }

float TargetMean(int x) {
  return kDarkMean + (kLightMean - kDarkMean) * float(x) / float(kWidth - 1);
}

// The gain on column x that puts the mean of the picture's rows on the ramp. Tone
// falls monotonically as the gain grows, so bisection finds it.
float SolveColumnGain(const Field& deposit, const Field& tooth, int x) {
  auto mean = [&](float gain) {
    double sum = 0.0;
    for (int row = 0; row < kHeight; ++row) {
      const int y = PeriodicRow(row);
      sum += Tone(deposit.at(x, y), tooth.at(x, y), gain);
    }
    return float(sum / kHeight);
  };
  const float target = TargetMean(x);
  float lo = 0.0f, hi = 1.0f;
  while (mean(hi) > target && hi < 1e4f) hi *= 2.0f;
  for (int step = 0; step < 40; ++step) {
    const float mid = 0.5f * (lo + hi);
    (mean(mid) > target ? lo : hi) = mid;
  }
  return 0.5f * (lo + hi);
}

}  // namespace

QImage DrawPencilTexture() {
  Rng rng(0x5EC7C11u);
  ToothOptions toothOptions;
  toothOptions.grainSize = 2.0f;
  toothOptions.octaves = 3;
  toothOptions.persistence = 0.55f;
  toothOptions.stretchX = 1.3f;
  const Field tooth = PaperTooth(kWidth, kPeriod, toothOptions, uint32_t(rng.next()));
  const Rng strokes = rng.fork(0x57);

  // The artist's hand: like someone filling a value scale, redraw the same strokes
  // with the pressure corrected patch by patch (a few strokes wide) until each patch
  // has the tone of its place on the ramp. Correcting pressure rather than tone keeps
  // a light stroke light: it also narrows and catches less tooth.
  Field target(kWidth, kPeriod);
  for (int y = 0; y < kPeriod; ++y)
    for (int x = 0; x < kWidth; ++x) target.at(x, y) = TargetMean(x);
  constexpr int kPatchX = 8, kPatchY = 5, kPasses = 6;
  // Two box passes make a smooth bell, so the lanes themselves do not show through
  // as ripples that the correction would then amplify into stripes.
  auto patchMean = [](const Field& f) {
    return BoxBlur(BoxBlur(f, kPatchX, kPatchY, false, true), kPatchX, kPatchY, false, true);
  };
  const Field patchTarget = patchMean(target);
  Field hand(kWidth, kPeriod, 1.0f);
  Field deposit = DrawHatching(tooth, hand, strokes);
  for (int pass = 0; pass < kPasses; ++pass) {
    Field tone(kWidth, kPeriod);
    for (size_t i = 0; i < tone.values.size(); ++i)
      tone.values[i] = Tone(deposit.values[i], tooth.values[i], 1.0f);
    const Field patch = patchMean(tone);
    for (size_t i = 0; i < hand.values.size(); ++i) {
      // Tone goes roughly as exp(-deposit), so the ratio of optical densities is the
      // factor the pressure is off by; damped, since pressure acts less than linearly.
      const float want = -std::log(std::max(patchTarget.values[i], 1.0f) / 255.0f);
      const float have = -std::log(std::clamp(patch.values[i], 1.0f, 254.0f) / 255.0f);
      const float step = std::clamp(std::pow(want / have, 0.8f), 0.75f, 1.33f);
      hand.values[i] = std::clamp(hand.values[i] * step, 0.02f, 4.0f);
    }
    hand = BoxBlur(hand, 3, 3, false, true);
    deposit = DrawHatching(tooth, hand, strokes);
  }

  // Loose graphite dust settles in the valleys around heavy marks, so the paper that
  // shows through dark hatching is a light grey rather than a hard white.
  const Field dust = BoxBlur(deposit, 2, 1, false, true);
  for (size_t i = 0; i < deposit.values.size(); ++i) deposit.values[i] += kDust * dust.values[i];

  // Last, every column exactly on the ramp.
  Field out(kWidth, kHeight);
  for (int x = 0; x < kWidth; ++x) {
    const float columnGain = SolveColumnGain(deposit, tooth, x);
    for (int row = 0; row < kHeight; ++row) {
      const int y = PeriodicRow(row);
      out.at(x, row) = Tone(deposit.at(x, y), tooth.at(x, y), columnGain);
    }
  }
  return ToGreyImage(out);
}

}  // namespace assetgen
