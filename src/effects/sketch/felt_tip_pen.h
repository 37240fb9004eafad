#pragma once

#include "engine/effect_services.h"

#include <QPointF>
#include <cstdint>
#include <vector>

namespace quillora {

// Effect 202, "Felt-tip pen": translucent marker strokes whose overlaps darken, with
// thin grey hatches along the strong edges. Draws from the process-wide random
// generator without seeding it.
void MarkerRenderingEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                           int P5, bool Preview);

// The clock that paces the pictures shown during a full render (TickCount when none
// is set); tests set their own to get pictures without waiting for them.
using MarkerClock = uint32_t (*)();
void SetMarkerClock(MarkerClock clock);

// What the five sliders mean to the pen.
struct TMarkerSettings {
  int S = 1;            // grid spacing of the stroke candidates, pixels
  int StrokeAlpha = 0;  // opacity of a marker stroke, 0..255
  int L = 2;            // base stroke length, pixels
  float w = 1.0f;       // base stroke thickness, pixels
  int e = 0;            // edge intensity, 0..100
  int Eg = 5;           // edge magnitude above which edges stop strokes and get hatched
  int K = 1;            // hatch repeat
  bool Hatching = false;
};
TMarkerSettings MarkerSettings(int P1, int P2, int P3, int P4, int P5);

// The ink a pixel of colour 0x..RRGGBB is drawn with: its saturation pushed up, then
// lightened by 20 per channel. Alpha bits are ignored and returned as 0.
uint32_t MarkerInkColour(uint32_t rgb);

// Fills convex polygons on premultiplied ARGB32 pixels in the Multiply blend mode,
// anti-aliased by the exact area each pixel has inside the polygon: the picture a
// QPainter fill in CompositionMode_Multiply gives, within a level or two, without the
// painter's per-draw cost (Qt hands every draw of more than about a hundred spans to
// its thread pool, which made the marker pass of a 12-megapixel photo take 11 s). One
// instance serves a whole pass: its scratch grid is kept and left zeroed between fills.
class TMarkerInk {
 public:
  // Fills `pts` (count >= 3 corners, convex) with `argb` (0xAARRGGBB, unpremultiplied),
  // clipped to the width x height pixels whose rows lie `stride` words apart.
  void Fill(uint32_t* pixels, int width, int height, int stride, const QPointF* pts, int count,
            uint32_t argb);

 private:
  std::vector<float> cells_;       // per row, the change in signed coverage from cell to cell
  std::vector<int> first_, last_;  // per row, the cells touched
};

}  // namespace quillora
