// PaintBrushSim, PaintBrushSim2, PaintBrushSim3: the tips of three round brushes seen
// from below, for the brush that is dragged a pixel at a time along a path.
//
// Every stamp lays the tip's coverage again, so along the path the tip's structure
// smears into streaks: clumps of bristles leave the darker lines, the gaps between
// them the lighter ones, and the soft, uneven rim keeps the edge of the stroke from
// looking cut out.
#include "assets.h"
#include "brush_sheet.h"
#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace assetgen {

namespace {

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

struct TipOptions {
  int width;
  int height;
  // Number of bristle clumps, and their radius in pixels.
  int clumps;
  float clumpRadius;
  uint32_t seed;
};

QImage DrawTip(const TipOptions& o) {
  Field tip(o.width, o.height);
  Rng rng(o.seed);
  const float cx = 0.5f * float(o.width), cy = 0.5f * float(o.height);
  // A margin of a pixel or two keeps the tip from being cut off at the image edge.
  const float radius = 0.5f * float(std::min(o.width, o.height)) - 2.0f;
  const uint32_t rimSeed = uint32_t(rng.next());
  const float pi = std::numbers::pi_v<float>;
  // The ferrule squeezes the bristles into a round body; paint is densest in the core.
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x) {
      const float dx = float(x) + 0.5f - cx, dy = float(y) + 0.5f - cy;
      const float r = std::hypot(dx, dy);
      const float theta = std::atan2(dy, dx);
      // The rim wanders: splayed bristles stick out here and there.
      const float wobble = ValueNoise1((theta + pi) / (2.0f * pi) * 9.0f, rimSeed) - 0.5f;
      const float edge = radius * (0.9f + 0.16f * wobble);
      const float body = 1.0f - SmoothStep(0.45f * edge, edge, r);
      tip.at(x, y) = 0.55f * body;
    }
  // Clumps: bristles stuck together by paint, each a soft spot carrying more paint.
  for (int i = 0; i < o.clumps; ++i) {
    // Uniform over the disc, a little denser towards the middle.
    const float rr = radius * 0.92f * std::pow(rng.uniform(), 0.6f);
    const float a = rng.uniform(0.0f, 2.0f * pi);
    const float px = cx + rr * std::cos(a), py = cy + rr * std::sin(a);
    const float cr = o.clumpRadius * rng.uniform(0.6f, 1.4f);
    const float strength = rng.uniform(0.25f, 0.6f) * (1.0f - 0.5f * rr / radius);
    const int x0 = std::max(0, int(px - cr - 1.0f)),
              x1 = std::min(o.width - 1, int(px + cr + 1.0f));
    const int y0 = std::max(0, int(py - cr - 1.0f)),
              y1 = std::min(o.height - 1, int(py + cr + 1.0f));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const float d = std::hypot(float(x) + 0.5f - px, float(y) + 0.5f - py) / cr;
        if (d >= 1.0f) continue;
        const float bump = (1.0f - d * d) * (1.0f - d * d);
        float& v = tip.at(x, y);
        v = v + strength * bump - v * strength * bump;
      }
  }
  // Nothing at the image border: the stamp would show its square otherwise.
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x) {
      const float dx = float(x) + 0.5f - cx, dy = float(y) + 0.5f - cy;
      if (std::hypot(dx, dy) > radius + 1.0f) tip.at(x, y) = 0.0f;
    }
  return BlackWithAlpha(tip);
}

}  // namespace

QImage DrawPaintBrushSim() { return DrawTip({80, 80, 110, 3.0f, 0x71901u}); }
QImage DrawPaintBrushSim2() { return DrawTip({54, 56, 70, 2.5f, 0x71902u}); }
QImage DrawPaintBrushSim3() { return DrawTip({38, 39, 45, 2.0f, 0x71903u}); }

}  // namespace assetgen
