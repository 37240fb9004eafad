#pragma once

#include "engine/effect_services.h"

#include <cstdint>
#include <vector>

namespace quillora {

// Effect 306, "Smooth painting".
void TemplateMatching(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                      bool Preview);

// What the two sliders mean.
struct TSmoothPaintingSettings {
  int BrushSize = 8;   // S: the side of every prepared brush
  int HalfSize = 4;    // S div 2
  int RoundCount = 1;  // rounds of four passes
  int GridStep = 1;    // one stroke per GridStep x GridStep cell
};
TSmoothPaintingSettings SmoothPaintingSettings(int P1, int P2);

// How many of n strokes sorted worst first a pass keeps: Round(n x 0.95f).
int SmoothPaintingKeepCount(int n);

// The steps of the effect, exposed so that the tests can hold each to its definition.
namespace smooth_painting {

inline constexpr int kNumOrientations = 7;
// The score of a pixel no stroke may start from.
inline constexpr int32_t kNoMatch = 999999999;

// One pixel of a brush footprint, relative to the footprint's centre.
struct TBrushPixelOffset {
  int64_t Offset;  // dY x SrcRowBytes + dX x 4, bytes into the reference pixels
  int16_t dX, dY;
  uint8_t Alpha;
};

// The picture the strokes are matched against, copied with a margin of zero pixels on
// the right so that the matcher's vector loads past a footprint row never leave it,
// and with the running sums of each row's colours for the footprint means.
struct TReference {
  int w = 0, h = 0;
  int stride = 0;            // pixels per row of px (SrcRowBytes / 4)
  std::vector<uint32_t> px;  // premultiplied 0xAARRGGBB
  // (w + 1) per row: the sums of blue, green, red and alpha of the pixels left of x, wrapping
  // at 2^16, so the difference of two of them is exact for a run of up to 257 pixels.
  struct RunSums {
    uint16_t b, g, r, a;
  };
  std::vector<RunSums> prefix;
  const uint32_t* row(int y) const { return px.data() + size_t(y) * size_t(stride); }
  const uint32_t& at(int x, int y) const { return px[size_t(y) * size_t(stride) + size_t(x)]; }
};
// A premultiplied image as the reference; an empty image gives w = h = 0.
TReference MakeReference(const Image& image);

// A brush in one orientation.
struct TOrientedBrush {
  Image BrushImage;                        // S x S, white with the coverage in alpha
  std::vector<TBrushPixelOffset> Offsets;  // the footprint: alpha above 9, row-major
  int BrushPixelCount = 0;

  // The footprint as the matcher reads it: every row from its first to its last
  // footprint pixel, padded with zero weights to a multiple of 8 pixels, and the runs
  // of footprint pixels for the means.
  struct Row {
    int dY, dX0, length;  // length: a multiple of 8
    int weightStart;      // into weights
  };
  struct Run {
    int dY, dX0, dX1;  // inclusive
  };
  std::vector<Row> rows;
  std::vector<Run> runs;
  std::vector<uint32_t> weights;  // Alpha | Alpha << 16 per pixel, 0 outside the footprint
  // ceil(2^32 / BrushPixelCount): sum div count as one multiply and shift, exact for
  // sums below 2^20 and counts up to 4096 (a footprint's sums stay below 2500 x 255).
  uint64_t countReciprocal = 0;

  // Every pixel with coverage, for stamping: per row of the S x S picture the columns
  // from the first to the last covered one (from the top-left corner) and their alphas,
  // padded with zeros to a multiple of 8 (a zero alpha leaves the painting as it is).
  struct StampRow {
    int row, col0, length;
    int alphaStart;  // into stampAlpha
  };
  std::vector<StampRow> stampRows;
  std::vector<uint8_t> stampAlpha;
};

struct TSmoothBrushes {
  int S = 0, HalfSize = 0;
  TOrientedBrush brush[kNumOrientations];
};

// The coverage (1 - luminance) of the 250 x 250 atlas cell in column 1 of row `cellRow`
// turned into the seven orientations of side S, and their footprints for a reference
// whose rows are `srcRowBytes` apart. An atlas without that cell gives empty brushes.
TSmoothBrushes PrepareBrushes(const Image& atlas, int cellRow, int S, int64_t srcRowBytes);

// The orientation a brush of index i is turned to, in degrees.
float BrushRotationDegrees(int i);

// Local contrast: w x h bytes, 0 on the border and where the reference is nearly
// transparent. Rows run in parallel.
void BuildContrastMap(const TReference& ref, std::vector<uint8_t>& ContrastMap);

// The matching table, one entry per reference pixel, as three planes.
struct TMatchTable {
  int w = 0, h = 0;
  std::vector<int32_t> Score;  // matching error, smaller is better; kNoMatch: none
  // The footprint's mean pixel, premultiplied 0xAARRGGBB: a stroke over a soft,
  // half-transparent edge keeps that edge's alpha instead of turning its darkened
  // premultiplied colour into opaque paint.
  std::vector<uint32_t> Colour;
  std::vector<uint8_t> A;           // occupancy: 255 once matched, 0 where nearly transparent
  std::vector<uint8_t> BrushAngle;  // the chosen orientation
  void Resize(int width, int height);
};

// The jitter of the matching: a generator of its own for every row of a pass, with
// the process-wide generator's arithmetic, started from the pass seed and the row, so
// that the table does not depend on how rows are spread over threads.
class RowJitter {
 public:
  RowJitter(uint32_t passSeed, int y);
  int32_t Random(int32_t n) {
    state_ = state_ * 134775813u + 1u;
    return int32_t((uint64_t(state_) * uint32_t(n)) >> 32);
  }

 private:
  uint32_t state_;
};

// The dominant orientation at an interior pixel, or -1 when the colour barely changes.
int DominantOrientation(const TReference& ref, int x, int y);

// Fills the entries of rows [y0, y1). Safe to run concurrently on disjoint rows.
void MatchRows(const TReference& ref, const std::vector<uint8_t>& ContrastMap,
               const TSmoothBrushes& brushes, uint32_t passSeed, int y0, int y1,
               TMatchTable& table);
// The same with the plain scalar error loop (the vector loop's oracle).
void MatchRowsScalar(const TReference& ref, const std::vector<uint8_t>& ContrastMap,
                     const TSmoothBrushes& brushes, uint32_t passSeed, int y0, int y1,
                     TMatchTable& table);

struct TScoredStroke {
  int32_t X, Y;  // top-left corner of the stamp
  int32_t Score;
  uint32_t Color;    // premultiplied 0xAARRGGBB; opaque where the picture is
  uint8_t brushIdx;  // orientation
};

// One stroke per grid cell at the best match of the window around the grid point,
// in grid order; every entry taken has its score set to kNoMatch.
std::vector<TScoredStroke> SelectStrokes(TMatchTable& table, int HalfSize, int GridStep);
// Largest score first; equal scores keep their order.
void SortStrokes(std::vector<TScoredStroke>& strokes);
// Lays the brush of each stroke in its colour over the pixels (rows `stride` words
// apart) of a w x h painting, for strokes [first, last).
void DrawStrokes(const std::vector<TScoredStroke>& strokes, size_t first, size_t last,
                 const TSmoothBrushes& brushes, uint32_t* pixels, int stride, int w, int h);
// The same a pixel at a time (the vector loop's oracle).
void DrawStrokesScalar(const std::vector<TScoredStroke>& strokes, size_t first, size_t last,
                       const TSmoothBrushes& brushes, uint32_t* pixels, int stride, int w, int h);

// Fills the places where the painting is still markedly lighter than the reference
// (the white base showing through) region by region with the reference's mean pixel.
void FillWhitePixels(const TReference& ref, uint32_t* pixels, int stride);
// Replaces isolated bright pixels (six or more of their eight neighbours over 30
// darker) by the mean of their neighbours, in place, left to right and top to bottom.
void RemoveBrightSpecks(uint32_t* pixels, int stride, int w, int h);

}  // namespace smooth_painting

}  // namespace quillora
