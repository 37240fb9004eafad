#include "tools/rotate.h"

#include "gfx/parallel.h"

#include <algorithm>
#include <cstdint>

namespace quillora {

namespace {

// A quarter turn reads the source down its columns. Walking the destination in square
// tiles keeps both the rows being written and the columns being read in the cache; a
// 64 x 64 tile of 32-bit pixels is 16 KB on each side.
constexpr int kTile = 64;

}  // namespace

gfx::Image RotateImage90(const gfx::Image& image, bool clockwise) {
  if (image.isEmpty()) return gfx::Image();
  const int w = image.width();
  const int h = image.height();
  QImage out = gfx::AllocateImage(h, w);  // destination is H wide and W high
  uint8_t* outBits = out.bits();
  const qsizetype outStride = out.bytesPerLine();
  const auto* srcBits = reinterpret_cast<const uint8_t*>(image.row(0));
  const qsizetype srcStride = image.bytesPerLine();
  auto srcRow = [&](int y) {
    return reinterpret_cast<const uint32_t*>(srcBits + qsizetype(y) * srcStride);
  };

  // Destination (X, Y) takes source (Y, H - 1 - X) clockwise and (W - 1 - Y, X)
  // counter-clockwise: the inverse of the turn, so every destination pixel is written
  // exactly once. Bands of destination rows are disjoint, so they run in parallel.
  const int tileRows = (w + kTile - 1) / kTile;
  gfx::ParallelFor(
      tileRows,
      [&](int begin, int end) {
        for (int ty = begin; ty < end; ++ty) {
          const int y0 = ty * kTile;
          const int y1 = std::min(w, y0 + kTile);
          for (int x0 = 0; x0 < h; x0 += kTile) {
            const int x1 = std::min(h, x0 + kTile);
            for (int y = y0; y < y1; ++y) {
              auto* dst = reinterpret_cast<uint32_t*>(outBits + qsizetype(y) * outStride);
              if (clockwise) {
                for (int x = x0; x < x1; ++x) dst[x] = srcRow(h - 1 - x)[y];
              } else {
                const int sx = w - 1 - y;
                for (int x = x0; x < x1; ++x) dst[x] = srcRow(x)[sx];
              }
            }
          }
        }
      },
      1);
  return gfx::Image::FromQImage(out);
}

}  // namespace quillora
