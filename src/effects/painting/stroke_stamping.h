// The brush-stamping kit of the stroke painting effects: a brush picture turned and
// scaled onto a private scratch square in one colour, scored against the source pixel
// by pixel, shaded with a relief that makes it read as thick paint, and laid onto the
// painting with one blend rule: the kit of every effect that stamps brushes from a sheet
// (Impasto brushstrokes, Watercolor splashes; Oil pastel samples its marks with its own
// cubic and shares the rest).
//
// Pixels are premultiplied BGRA8888 words (0xAARRGGBB). Everything here may run on any
// thread; a StrokeBrush is read-only once built and may be shared between threads, a
// StrokeScratch belongs to one thread. CompositeStroke is the only function that writes
// shared pixels, and it does so with whole-word atomic stores, so that readers on other
// threads never see a torn pixel; serialising overlapping composites is the caller's
// business.
#pragma once

#include "gfx/image.h"

#include <QRect>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quillora {

// The difference the painting effects minimise: alpha counts twice, so that an
// unpainted (transparent) pixel always looks far from any opaque source pixel.
inline int PixelDelta(uint32_t a, uint32_t b) {
  return 2 * std::abs(int(a >> 24) - int(b >> 24)) +
         std::abs(int((a >> 16) & 0xFF) - int((b >> 16) & 0xFF)) +
         std::abs(int((a >> 8) & 0xFF) - int((b >> 8) & 0xFF)) +
         std::abs(int(a & 0xFF) - int(b & 0xFF));
}

// A stroke pixel `p` laid over the painting pixel `d`: source-over with the integer
// approximation (y + y / 128) / 256 of y / 255, y = byte of d times (255 - alpha of
// p), for each of the four bytes. Exact where the stroke is opaque. The bytes are
// worked two at a time in one word; for valid premultiplied pixels no byte can carry
// into the next.
inline uint32_t BlendStroke(uint32_t p, uint32_t d) {
  const uint32_t inv = 255 - (p >> 24);  // 0 for an opaque stroke pixel, which is kept
  uint32_t rb = (d & 0x00FF00FFu) * inv;
  uint32_t ag = ((d >> 8) & 0x00FF00FFu) * inv;
  rb = ((rb + ((rb >> 7) & 0x01FF01FFu)) >> 8) & 0x00FF00FFu;
  ag = (ag + ((ag >> 7) & 0x01FF01FFu)) & 0xFF00FF00u;
  return p + (rb | ag);
}

// The colour of a stroke pixel of coverage `coverage` (0..255) painted with the
// premultiplied colour `colour`: every channel scaled by the coverage, so that a fully
// covered pixel is the colour itself.
inline uint32_t TintPixel(uint32_t colour, uint32_t coverage) {
  auto scale = [coverage](uint32_t c) {
    uint32_t x = c * coverage + 128;
    return (x + (x >> 8)) >> 8;
  };
  return scale(colour >> 24) << 24 | scale((colour >> 16) & 0xFF) << 16 |
         scale((colour >> 8) & 0xFF) << 8 | scale(colour & 0xFF);
}

// TintPixel of one colour for every coverage.
struct TintTable {
  uint32_t pixel[256];
  explicit TintTable(uint32_t colour) {
    for (uint32_t c = 0; c < 256; ++c) pixel[c] = TintPixel(colour, c);
  }
};

// The local edge direction of a picture, on a coarse grid.
struct TGradientInfo {
  float Angle = 0.0f;     // atan2(gy, gx) of the Sobel gradient, radians, y pointing down
  uint8_t Magnitude = 0;  // min(255, |gx| + |gy|)
};

struct TGradientMap {
  int width = 0;
  int height = 0;
  std::vector<TGradientInfo> cells;  // row-major; the border cells stay zero
  const TGradientInfo& at(int x, int y) const {
    return cells[size_t(y) * size_t(width) + size_t(x)];
  }
};

// `image` drawn into width x height with medium sampling, then the 3 x 3 Sobel
// operator on the luminance (30 R + 59 G + 11 B) div 100 of the stored bytes at every
// interior cell. An empty image or size gives an empty map.
TGradientMap BuildGradientMap(const gfx::Image& image, int width, int height);

// `image` drawn stretched into a new width x height image with medium sampling:
// bilinear from the mipmap level (2 x 2 box averages) whose size is nearest the
// target's, so that strong reductions do not alias. Sizes that are not positive give
// an empty image.
gfx::Image ScaleImageMedium(const gfx::Image& image, int width, int height);

// A brush picture ready for stamping: the mipmap pyramid of its coverage (alpha), each
// level framed by one transparent texel so that sampling needs no bounds tests. The
// picture's colour is not kept: a stroke takes its colour from the tint alone.
class StrokeBrush {
 public:
  StrokeBrush() = default;
  explicit StrokeBrush(const gfx::Image& image);

  // No picture was given.
  bool isMissing() const { return levels_.empty(); }
  // A picture without any coverage: it can never paint anything.
  bool isBlank() const { return blank_; }

 private:
  friend class BrushStamp;
  struct Level {
    int width = 0, height = 0;  // without the frame
    int stride = 0;             // width + 2
    size_t offset = 0;          // into data_, of the framed level's first texel
    QRect covered;              // top-left framed texels whose 2 x 2 footprint has coverage
  };
  std::vector<Level> levels_;
  std::vector<uint8_t> data_;
  bool blank_ = true;
};

// One placement of a brush: its whole picture drawn into the square (-size / 2,
// -size / 2) - (size / 2, size / 2) turned by `angle` radians (clockwise on screen)
// about the point (cx, cy) of the target, with medium sampling and `opacity`.
class BrushStamp {
 public:
  BrushStamp(const StrokeBrush& brush, double size, double angle, double cx, double cy,
             float opacity);

  // The coverage 0..255 (picture alpha times opacity) of the target pixel (col, row).
  int CoverageAt(int col, int row) const {
    const float fu = u0_ + ux_ * float(col) + uy_ * float(row);
    const float fv = v0_ + vx_ * float(col) + vy_ * float(row);
    if (!(fu >= uMin_ && fu < uMax_ && fv >= vMin_ && fv < vMax_)) return 0;
    const int iu = int(fu), iv = int(fv);
    const int tx = iu >> 8, ty = iv >> 8;
    const uint32_t fx = uint32_t(iu & 255), fy = uint32_t(iv & 255);
    const uint8_t* t = texels_ + size_t(ty) * size_t(stride_) + size_t(tx);
    const uint32_t top = t[0] * (256 - fx) + t[1] * fx;
    const uint32_t bottom = t[stride_] * (256 - fx) + t[stride_ + 1] * fx;
    const uint32_t value = top * (256 - fy) + bottom * fy;  // alpha * 65536
    return int((value * opacity_ + (1u << 23)) >> 24);
  }
  // The target pixels that can have coverage (may reach outside the target).
  const QRect& Bounds() const { return bounds_; }
  // The columns [first, last] of row `row` inside [colFirst, colLast] that can have
  // coverage; false when there are none. Conservative: CoverageAt decides.
  bool RowSpan(int row, int colFirst, int colLast, int& first, int& last) const;

 private:
  const uint8_t* texels_ = nullptr;  // the chosen level, framed
  int stride_ = 0;
  // Target pixel -> framed texel coordinates times 256 (bilinear origin).
  float ux_ = 0, uy_ = 0, u0_ = 0, vx_ = 0, vy_ = 0, v0_ = 0;
  float uMin_ = 0, uMax_ = 0, vMin_ = 0, vMax_ = 0;
  // The columns where u (and v) lie in range, as lines in the row: from
  // uLo0_ + uK_ row to uHi0_ + uK_ row; uAll_ when u does not depend on the column.
  double uK_ = 0, uLo0_ = 0, uHi0_ = 0, vK_ = 0, vLo0_ = 0, vHi0_ = 0;
  bool uFlat_ = false, vFlat_ = false;
  uint32_t opacity_ = 0;  // 0..256
  QRect bounds_;
};

// A private square of stroke pixels, transparent except where the last stamp was
// rendered. Centre: side div 2.
class StrokeScratch {
 public:
  explicit StrokeScratch(int side);

  int side() const { return side_; }
  int centre() const { return side_ / 2; }
  uint32_t* row(int y) { return &pixels_[size_t(y) * size_t(side_)]; }
  const uint32_t* row(int y) const { return &pixels_[size_t(y) * size_t(side_)]; }
  // The pixels that may be non-zero. Pixels written through row() must lie inside it;
  // MarkWritten widens it.
  const QRect& dirty() const { return dirty_; }
  void MarkWritten(const QRect& area) {
    dirty_ = dirty_.united(area).intersected(QRect(0, 0, side_, side_));
  }

  // Clears what the last render drew, then renders `stamp` in the premultiplied colour
  // `colour` (see TintPixel).
  void Render(const BrushStamp& stamp, uint32_t colour);
  void Clear();

 private:
  friend void ImpastoRelief(StrokeScratch&, int, int, int, int);
  int side_;
  std::vector<uint32_t> pixels_;
  QRect dirty_;
  std::vector<int> falloff_;  // ImpastoRelief's table, kept to spare an allocation a stroke
};

// The thick-paint shading of a stroke on the scratch, centred on the scratch centre:
// where the coverage rises or falls (the bristle grooves and the stroke's rim) colour
// is darkened or lifted towards white in proportion to `strength` (10 = plain), fading
// with the distance from the centre over about three quarters of `size`. Alpha is
// kept. Works on rows and columns [first, last], clipped to 1 .. side - 2; the first
// form takes the stroke's square (size div 2 + 2 around the centre), the second serves
// marks whose shading reaches further (the oil pastel's whole scoring window).
void ImpastoRelief(StrokeScratch& scratch, int size, int strength);
void ImpastoRelief(StrokeScratch& scratch, int size, int strength, int first, int last);

// Lays the scratch pixels of `area` (scratch coordinates, clipped to the scratch) that
// have alpha onto the target with BlendStroke; scratch (col, row) lands on target
// pixel (col + dx, row + dy), and only target pixels inside `clip` are touched. Pixels
// are read and written as whole words, atomically.
void CompositeStroke(const StrokeScratch& scratch, const QRect& area, uint32_t* target,
                     qsizetype strideWords, int dx, int dy, const QRect& clip);

// Loads a shared painting pixel that other threads may be compositing into.
inline uint32_t LoadSharedPixel(const uint32_t* p) {
  return std::atomic_ref<uint32_t>(*const_cast<uint32_t*>(p)).load(std::memory_order_relaxed);
}

}  // namespace quillora
