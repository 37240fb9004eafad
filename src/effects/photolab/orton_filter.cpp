// Orton filter: the old slide-sandwich glow. A soft, overexposed copy of the photo is
// laid over the sharp one in Screen mode, so highlights bloom and the shadows stay
// clear; the sandwich is mixed back with the sharp frame by the strength slider and
// the colours are then made more vivid. The sharp layer can be darkened or lightened
// first, like pulling or pushing the exposure of the base slide.
#include "effects/photolab/orton_filter.h"

#include "engine/numeric.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace quillora {

namespace {

// The arithmetic of one pixel on straight (unpremultiplied) colour. For an opaque photo
// straight and premultiplied colour are the same bytes; on translucent pixels the
// premultiplied bytes would let the screen and the lightening push colour above alpha,
// which is no valid pixel at all, so the layers are read as colour and premultiplied
// again at the end.
//
// Darken/lighten, exposure, screen and strength of one channel depend only on the two
// layers' bytes, so they are tabled once per run (64 KB); so is the vibrance stretch
// of a channel's distance from the grey. The tables hold exactly the integer formulas.
struct OrtonPass {
  std::vector<uint8_t> mix;        // [sharp byte * 256 + glow byte] -> mixed channel
  std::array<int16_t, 511> vib{};  // [channel - grey + 255] -> stretched distance
  bool vibrance = false;

  OrtonPass(int P2, int P3, int P4, int g) : mix(size_t(256) * 256), vibrance(P4 > 0) {
    // f and c x f in single precision, in that order: the float product decides the
    // rounding where c x f lands near a half.
    const float f = 1.0f + float(g) / 100.0f;
    std::array<int, 256> sharpOf{}, glowOf{};
    for (int c = 0; c < 256; ++c) {
      int sharp = c, dark = c;
      if (g < 0) {
        const float scaled = float(c) * f;
        sharp = dark = Clamp255(RoundEven(scaled));
      } else if (g > 0)
        sharp = Clamp255(c + g);
      sharpOf[size_t(c)] = sharp;
      glowOf[size_t(c)] = P2 > 0 ? Clamp255(dark + (dark * P2) / 200) : dark;
    }
    for (int d = 0; d < 256; ++d)
      for (int b = 0; b < 256; ++b) {
        const int dc = sharpOf[size_t(d)], bc = glowOf[size_t(b)];
        const int s = 255 - ((255 - dc) * (255 - bc)) / 255;
        mix[size_t(d) * 256 + size_t(b)] = uint8_t(Clamp255(dc + ((s - dc) * P3) / 100));
      }
    for (int diff = -255; diff <= 255; ++diff)
      vib[size_t(diff + 255)] = int16_t(((P4 + 100) * diff) / 100);
  }

  uint32_t Apply(uint32_t sharp, uint32_t glow) const {
    const uint32_t alpha = gfx::AlphaOf(sharp);
    const uint32_t d = gfx::Unpremultiply(sharp), b = gfx::Unpremultiply(glow);
    const uint8_t* m = mix.data();
    int r = m[((d >> 8) & 0xFF00) | ((b >> 16) & 0xFF)];
    int gr = m[(d & 0xFF00) | ((b >> 8) & 0xFF)];
    int bl = m[((d << 8) & 0xFF00) | (b & 0xFF)];
    if (vibrance) {
      const int K = (77 * r + 150 * gr + 29 * bl) >> 8;
      r = Clamp255(K + vib[size_t(r - K + 255)]);
      gr = Clamp255(K + vib[size_t(gr - K + 255)]);
      bl = Clamp255(K + vib[size_t(bl - K + 255)]);
    }
    return gfx::Premultiply(gfx::PackArgb(alpha, uint32_t(r), uint32_t(gr), uint32_t(bl)));
  }
};

}  // namespace

void OrtonFilter(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                 bool Preview) {
  const float sigma = float(P1);
  const int g = 2 * P5 - 100;

  if (Source.isNull() || Dest.width() <= 0 || Dest.height() <= 0) return;
  Dest.save();
  Dest.clear(0);
  Dest.drawImage(Source, 0, 0, gfx::Sampling::Nearest);
  Dest.flush();
  Dest.restore();
  // The runner hands a destination of the source's size; the pass never reaches
  // beyond either should a caller do otherwise.
  const int W = std::min(Source.width(), Dest.width());
  const int H = std::min(Source.height(), Dest.height());
  if (W <= 0 || H <= 0) return;

  // The glow layer: the blur returns premultiplied BGRA8888 of the source's size
  // whatever the source was decoded as.
  const Image glow = gfx::GaussianBlur(Source, sigma, sigma, gfx::TileMode::Clamp);
  if (glow.isEmpty() || glow.width() < W || glow.height() < H) return;

  const OrtonPass pass(P2, P3, P4, g);

  // Each pixel depends only on itself, so bands of rows give the same picture on any
  // number of threads. The pixel memory is taken once here: a surface's own accessors
  // may detach shared pixels and are not for concurrent use.
  uint8_t* const destBits = Dest.bits();
  const qsizetype destStride = Dest.bytesPerLine();
  gfx::ParallelFor(
      H,
      [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          uint32_t* d = reinterpret_cast<uint32_t*>(destBits + qsizetype(y) * destStride);
          const uint32_t* b = glow.row(y);
          for (int x = 0; x < W; ++x) {
            if (gfx::AlphaOf(d[x]) <= 5) continue;
            d[x] = pass.Apply(d[x], b[x]);
          }
        }
      },
      32);
  Dest.flush();

  // The glow needs no progress on the way, but the finished value hides the bar.
  if (!Preview) SafeUpdateProgress(101);
}

}  // namespace quillora
