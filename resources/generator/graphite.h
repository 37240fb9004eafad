// Pencil strokes: graphite laid down by a tip dragged over paper tooth.
//
// A stroke adds graphite to a deposit field (0 = clean paper; larger = more graphite;
// the picture decides how deposit turns into tone). The tip only touches the tooth
// above a height set by the pressure, so a light stroke is a broken line of specks on
// the paper's peaks and a heavy one fills the valleys too. The worn tip has ridges,
// which show as fine streaks along the stroke.
#pragma once

#include "field.h"

#include <cstdint>
#include <functional>

namespace assetgen {

struct GraphiteStroke {
  // Start of the centre line and its direction (radians, 0 along +x, y pointing down).
  float x = 0.0f;
  float y = 0.0f;
  float angle = 0.0f;
  float length = 60.0f;
  // Full width of the mark at full pressure; lighter pressure narrows it.
  float width = 2.0f;
  // Peak pressure, 0..1.
  float pressure = 0.5f;
  // Sideways sag of the middle of the stroke, in pixels (a hand pivoting at the wrist).
  float bow = 0.0f;
  // Fractions of the length over which pressure builds up at the start and eases off
  // before the tip leaves the paper.
  float attack = 0.08f;
  float release = 0.3f;
  // Graphite laid at full pressure where the tip touches.
  float darkness = 1.0f;
  // Wobble, pressure flutter and tip ridges.
  uint32_t seed = 0;
};

// Scales the pressure at a point of the picture (for example a tone ramp); may be empty.
using PressureField = std::function<float(float x, float y)>;

// Adds `stroke` to `deposit`. `tooth` has the deposit's size and values in [0, 1]
// (see PaperTooth). The stroke wraps around the top and bottom edges when `wrapY` is
// set and is clipped at the left and right edges.
void DrawGraphiteStroke(Field& deposit, const Field& tooth, const GraphiteStroke& stroke,
                        bool wrapY, const PressureField& pressureScale = {});

}  // namespace assetgen
