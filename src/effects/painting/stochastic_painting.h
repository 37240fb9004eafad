#pragma once

#include "engine/effect_services.h"

#include <cstdint>
#include <vector>

namespace quillora {

// Effect 307, "Stochastic Painting".
void StochasticPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview);

// What the five sliders mean for a source of w x h pixels.
struct TStochasticSettings {
  int MinSize = 5, MaxSize = 10;  // stroke sizes in pixels; strokes shrink from Max to Min
  int64_t StrokeCount = 0;        // n
  int Precision = 1;              // Pr
  int TestStep = 1;               // st: the test reads every st-th row and column of big strokes
  int Attempts = 1;               // na: strokes tried at one place
  int Opacity = 20;               // O: the paint's alpha, 20 .. 255
};
TStochasticSettings StochasticPaintingSettings(int w, int h, int P1, int P2, int P3, int P4,
                                               int P5);

// The size of stroke i of n: MinSize + (MaxSize - MinSize) (1 - i / n)^3 in single
// precision.
float StochasticStrokeSize(const TStochasticSettings& s, int64_t i);

namespace stochastic_painting {

inline constexpr int kBrushCount = 38;
inline constexpr int kBrushSide = 250;

// The stroke direction of a coarse grid: along the edges of the red channel.
struct TDirectionCell {
  float Angle = 0.0f;     // atan2(gy, gx) + pi / 2, radians, y pointing down
  uint8_t Magnitude = 0;  // min(255, |gx| + |gy|); the border cells stay 0
};
struct TDirectionMap {
  int width = 0, height = 0;
  std::vector<TDirectionCell> cells;
  // The cell of source pixel (x, y) of a w x h source.
  const TDirectionCell& CellOf(int x, int y, int w, int h) const;
};
// The source drawn into GW = min(w, 256) by GH = max(1, Round(h GW / w)) cells with
// medium sampling, and the Sobel operator on the red channel of every interior cell.
TDirectionMap BuildDirectionMap(const Image& source);

// Everything the test of one stroke reads.
struct TStrokeTest {
  const uint32_t* src = nullptr;  // the source, premultiplied
  int srcStride = 0;              // in pixels
  const uint32_t* dst = nullptr;  // the painting so far
  int dstStride = 0;
  int w = 0, h = 0;
  bool HasTransparency = false;
  int Opacity = 255;  // O
};

// A brush as the test reads it: its 250 x 250 coverage bytes, and one bit per texel
// for coverage above 10 (what the test looks at first: the bits of all brushes stay
// in cache, the bytes do not).
struct TTestBrush {
  std::vector<uint8_t> coverage;
  std::vector<uint64_t> covered;  // 4 words per row
};
TTestBrush MakeTestBrush(const Image& brush);

// How much closer to the source the painting would come if the brush were laid at (x, y) with size
// s, turned by theta, in the colour C (premultiplied; painted opaque) at opacity O: the sum, over
// the pixels on the t-grid of the stroke's box, of the colour distance to the source before less
// after.
int64_t StrokeGain(const TStrokeTest& test, const TTestBrush& brush, int x, int y, float s,
                   double theta, uint32_t C, int t);

}  // namespace stochastic_painting

}  // namespace quillora
