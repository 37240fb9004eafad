#include "graphite.h"

#include "noise.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

}  // namespace

void DrawGraphiteStroke(Field& deposit, const Field& tooth, const GraphiteStroke& s, bool wrapY,
                        const PressureField& pressureScale) {
  if (s.length <= 0.0f || s.pressure <= 0.0f) return;
  const float dx = std::cos(s.angle), dy = std::sin(s.angle);
  // How far from the straight line through the stroke a touched cell can lie.
  const float reach = 0.5f * s.width + std::fabs(s.bow) + 2.0f;
  const uint32_t wobbleSeed = HashPoint(1, 0, s.seed);
  const uint32_t flutterSeed = HashPoint(2, 0, s.seed);
  const uint32_t ridgeSeed = HashPoint(3, 0, s.seed);
  const float invLength = 1.0f / s.length;

  auto shade = [&](int px, int py) {
    if (px < 0 || px >= deposit.width) return;
    int ty = py;
    if (wrapY)
      ty = Field::Wrap(py, deposit.height);
    else if (py < 0 || py >= deposit.height)
      return;
    const float rx = float(px) + 0.5f - s.x, ry = float(py) + 0.5f - s.y;
    const float along = rx * dx + ry * dy;
    if (along < 0.0f || along > s.length) return;
    const float u = along * invLength;
    // The hand drifts a little across the stroke: bow plus a slow wobble.
    const float wobble = 0.9f * (ValueNoise1(along / 23.0f, wobbleSeed) - 0.5f);
    const float across = (ry * dx - rx * dy) - (4.0f * s.bow * u * (1.0f - u) + wobble);
    if (std::fabs(across) > 0.5f * s.width + 1.0f) return;

    float pressure = s.pressure * SmoothStep(0.0f, s.attack, u) *
                     (1.0f - SmoothStep(1.0f - s.release, 1.0f, u)) *
                     (0.85f + 0.3f * ValueNoise1(along / 17.0f, flutterSeed));
    if (pressureScale) pressure *= pressureScale(float(px) + 0.5f, float(ty) + 0.5f);
    pressure = std::clamp(pressure, 0.0f, 1.0f);
    if (pressure <= 0.0f) return;

    const float h = tooth.at(px, ty);
    // A lighter touch puts less of the tip on the paper. Near the edge of the mark
    // the tip only reaches the peaks, which makes the edge ragged.
    const float halfWidth = 0.5f * s.width * (0.6f + 0.4f * pressure);
    const float cover =
        std::clamp(halfWidth + 0.5f - std::fabs(across) + 0.4f * (h - 0.5f), 0.0f, 1.0f);
    if (cover <= 0.0f) return;
    // Ridges of the worn tip leave faint streaks that wander as the pencil turns.
    const float ridge = 0.78f + 0.22f * ValueNoise2(across * 1.4f, along / 12.0f, ridgeSeed);
    // The tip comes down to the tooth height `level`: the peaks above it take
    // graphite, the more the higher they stand; the valleys below stay clean.
    const float level = 0.65f - 0.9f * pressure;
    const float contact = SmoothStep(level - 0.25f, level + 0.35f, h) * (0.8f + 0.2f * h);
    deposit.at(px, ty) += s.darkness * pressure * cover * ridge * contact;
  };

  // Visit only the cells near the centre line, stepping along the stroke's major axis.
  const float ex = s.x + dx * s.length, ey = s.y + dy * s.length;
  if (std::fabs(dx) >= std::fabs(dy)) {
    const float slope = dy / dx, band = reach / std::fabs(dx);
    const int x0 = int(std::floor(std::min(s.x, ex) - reach));
    const int x1 = int(std::ceil(std::max(s.x, ex) + reach));
    for (int px = std::max(x0, 0); px <= std::min(x1, deposit.width - 1); ++px) {
      const float yc = s.y + (float(px) + 0.5f - s.x) * slope;
      for (int py = int(std::floor(yc - band)); py <= int(std::ceil(yc + band)); ++py)
        shade(px, py);
    }
  } else {
    const float slope = dx / dy, band = reach / std::fabs(dy);
    const int y0 = int(std::floor(std::min(s.y, ey) - reach));
    const int y1 = int(std::ceil(std::max(s.y, ey) + reach));
    for (int py = y0; py <= y1; ++py) {
      const float xc = s.x + (float(py) + 0.5f - s.y) * slope;
      for (int px = int(std::floor(xc - band)); px <= int(std::ceil(xc + band)); ++px)
        shade(px, py);
    }
  }
}

}  // namespace assetgen
