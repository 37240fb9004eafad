#pragma once

#include "engine/effect_services.h"

#include <cstdint>
#include <vector>

namespace quillora {

// Effect 300, "Watercolor". Seeds the random generator from the clock, so two runs
// differ.
void CentralSpokeEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview);

namespace watercolor {

// The same painting with the generator seeded from `seed` instead of the clock, so a
// picture can be reproduced.
void CentralSpokeEffectSeeded(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                              int P5, bool Preview, uint32_t seed);

// The size factor of large pictures: 1 unless both sides exceed 2048, then
// w * h / 4194304, at most 5. It scales the shape count and the brush radius.
double SizeFactor(int w, int h);
// How many iterations the shape loop runs for a w x h source and `P1` (0..100).
int ShapeBudget(int w, int h, int P1, bool preview);

// The perceptual distance of two premultiplied pixels (0xAARRGGBB): a red-weighted
// Euclidean distance of the colour bytes, raised by up to half for differing alpha.
// Pixels below the alpha floor 10 are all alike and as far as can be from any other.
int ColorDistance(uint32_t p, uint32_t q);

// The source in tiles of 4 x 4 pixels, one cache line each. A spoke stepping across a
// large picture in any direction then stays on one line for several steps, where rows
// would put every vertical step on a new line and often a new page; the copy also
// asks for large pages.
class TiledSource {
 public:
  explicit TiledSource(const Image& source);
  TiledSource(const TiledSource&) = delete;
  TiledSource& operator=(const TiledSource&) = delete;
  ~TiledSource();
  uint32_t at(int x, int y) const {
    return data_[((size_t(y >> 2) * tilesPerRow_ + size_t(x >> 2)) << 4) + size_t((y & 3) << 2) +
                 size_t(x & 3)];
  }

 private:
  uint32_t* data_ = nullptr;
  size_t tilesPerRow_ = 0;
};

// What a spoke reads as it walks: the source, its size, whether it has transparency,
// the brush complexity c and the colour threshold.
struct SpokeProbe {
  const TiledSource* source;
  int w, h;
  bool transparent;
  float c;
  int threshold;
};

// The lengths of n spokes from (cx, cy), spoke s along (cosv[s], sinv[s]) with
// budgets[s]: each steps one pixel at a time while the colour stays near seedColour,
// spending more of its budget the further it strays. A spoke walks while its point is
// inside the picture, reading the nearest pixel (the last row or column for points
// within half a pixel of the bottom or right edge), and when it leaves, its first
// point outside is its tip, so the wash covers the border.
void CastSpokes(const SpokeProbe& probe, int n, const double* cosv, const double* sinv, double cx,
                double cy, uint32_t seedColour, const int* budgets, int* lengths);

// Replaces each of the `n` (>= 5) spoke lengths by the Gaussian-weighted mean of the
// seven around it (circularly), rounded only once all means are known.
void SmoothSpokeLengths(int* lengths, int n, float sigma);

// The anti-aliased coverage (0..255, exact area) of the closed polygon (xs, ys) over
// the pixel box of bw x bh pixels at (x0, y0), row by row. The polygon may reach
// outside the box.
std::vector<uint8_t> PolygonCoverage(const double* xs, const double* ys, int n, int x0, int y0,
                                     int bw, int bh);

}  // namespace watercolor

}  // namespace quillora
