// Vintage / Sepia: an old photograph from the family album. The picture goes soft as
// through a simple lens, its colours drain into the warm browns of a sepia toning
// (the first slider keeps some of them), the emulsion shows its grain with the odd
// scratch and fleck of dust of a worn print, and the corners darken as they do on a
// print from an old camera.
#include "effects/photolab/vintage_sepia.h"

#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace quillora {

namespace {

inline int LumaOf(uint32_t p) {
  return int((77 * gfx::RedOf(p) + 150 * gfx::GreenOf(p) + 29 * gfx::BlueOf(p)) >> 8);
}

// The film texture's mean brightness: a pass over its six million pixels, the same
// for every run on the same picture, so the last answer is kept (images are
// immutable and their id names exactly one picture).
int64_t MeanTextureLuma(const Image& texture) {
  static std::mutex mutex;
  static uint64_t knownId = 0;
  static int64_t knownMean = 0;
  {
    std::lock_guard lock(mutex);
    if (knownId != 0 && knownId == texture.uniqueId()) return knownMean;
  }
  const int tw = texture.width(), th = texture.height();
  int64_t sum = 0;
  for (int y = 0; y < th; ++y) {
    const uint32_t* row = texture.row(y);
    for (int x = 0; x < tw; ++x) sum += LumaOf(row[x]);
  }
  const int64_t mean = sum / (int64_t(tw) * int64_t(th));
  std::lock_guard lock(mutex);
  knownId = texture.uniqueId();
  knownMean = mean;
  return mean;
}

// Four pixels at once, one lane each (GCC vector extensions); the lanes do the
// scalar integer arithmetic exactly.
typedef int32_t I4 __attribute__((vector_size(16)));
typedef uint32_t U4 __attribute__((vector_size(16)));

// Division by 256 truncating toward zero (an arithmetic shift alone would floor).
inline int Div256(int v) { return v / 256; }
inline I4 Div256(I4 v) { return (v + ((v >> 31) & 255)) >> 8; }
inline int Min255(int v) { return std::min(v, 255); }
inline I4 Min255(I4 v) {
  const I4 k = {255, 255, 255, 255};
  return v > k ? k : v;
}

struct SepiaPass {
  int kc = 0, ks = 0;              // colour kept, sepia mix: 0..256
  int P4 = 0, A = 0;               // grain slider, hash noise amplitude
  const Image* texture = nullptr;  // mapped texture, or nullptr
  std::array<int, 256> texel{};    // texture luma -> grain offset
  FilmVignette vignette;

  SepiaPass(int W, int H, int P3)
      : vignette(W, H, P3, double(100000 - 600 * P3) / 100000.0, double(85 * P3) / 10000.0) {}

  // Colour reduction, toning and mix of straight colour, for one pixel or four lanes.
  template <typename V>
  void Tone(V R, V G, V B, V& r, V& g, V& b) const {
    const V Y = (77 * R + 150 * G + 29 * B) >> 8;
    const V r1 = Y + Div256((R - Y) * kc);
    const V g1 = Y + Div256((G - Y) * kc);
    const V b1 = Y + Div256((B - Y) * kc);
    const V sR = Min255((112 * r1 + 195 * g1 + 50 * b1) >> 8);
    const V sG = Min255((86 * r1 + 170 * g1 + 42 * b1) >> 8);
    const V sB = (56 * r1 + 117 * g1 + 26 * b1) >> 8;
    r = r1 + Div256((sR - r1) * ks);
    g = g1 + Div256((sG - g1) * ks);
    b = b1 + Div256((sB - b1) * ks);
  }

  // The toned bytes of one pixel (alpha > 4).
  void TonePixel(uint32_t p, int* out) const {
    const int a = int(gfx::AlphaOf(p));
    int R = int(gfx::RedOf(p)), G = int(gfx::GreenOf(p)), B = int(gfx::BlueOf(p));
    if (a < 255) {
      // Colour above alpha is no valid pixel; it saturates rather than overflowing
      // the tone arithmetic.
      R = std::min(R * 255 / a, 255);
      G = std::min(G * 255 / a, 255);
      B = std::min(B * 255 / a, 255);
    }
    Tone(R, G, B, out[0], out[1], out[2]);
  }

  // Four opaque pixels; red to out[0..3], green to out[4..7], blue to out[8..11].
  void ToneOpaque4(const uint32_t* px, int* out) const {
    U4 p;
    std::memcpy(&p, px, sizeof p);
    I4 r, g, b;
    Tone(I4((p >> 16) & 255u), I4((p >> 8) & 255u), I4(p & 255u), r, g, b);
    std::memcpy(out, &r, sizeof r);
    std::memcpy(out + 4, &g, sizeof g);
    std::memcpy(out + 8, &b, sizeof b);
  }

  // Grain, vignette and premultiplication of the toned bytes of pixel x.
  uint32_t Finish(uint32_t p, int x, int y, double dy2, const uint32_t* texRow, int tx, int r,
                  int g, int b) const {
    const int a = int(gfx::AlphaOf(p));
    if (P4 > 0) {
      int grain = (FilmGrainNoise(uint32_t(x), uint32_t(y)) * A) / 256;
      if (texRow) grain += texel[size_t(LumaOf(texRow[tx]))];
      r = Clamp255(r + grain);
      g = Clamp255(g + grain);
      b = Clamp255(b + grain);
    }
    if (vignette.on) {
      const double f = vignette.Factor(x, dy2);
      // Round(c x 1) is c: the centre is left alone without the multiplications.
      if (f != 1.0) {
        r = RoundSmallDouble(double(r) * f);
        g = RoundSmallDouble(double(g) * f);
        b = RoundSmallDouble(double(b) * f);
      }
    }
    if (a < 255) {
      r = r * a / 255;
      g = g * a / 255;
      b = b * a / 255;
    }
    return gfx::PackArgb(uint32_t(a), uint32_t(Clamp255(r)), uint32_t(Clamp255(g)),
                         uint32_t(Clamp255(b)));
  }

  void Row(uint32_t* row, int y, int W) const {
    const double dy = double(y) - vignette.cy;
    const double dy2 = dy * dy;
    const uint32_t* texRow = nullptr;
    int tw = 1;
    if (texture) {
      texRow = texture->row(y % texture->height());
      tw = texture->width();
    }
    int tx = 0;  // x mod tw, kept by counting
    int c[12];
    int x = 0;
    for (; x + 4 <= W; x += 4) {
      const bool opaque = row[x] >= 0xFF000000u && row[x + 1] >= 0xFF000000u &&
                          row[x + 2] >= 0xFF000000u && row[x + 3] >= 0xFF000000u;
      if (opaque) {
        ToneOpaque4(row + x, c);
      } else {
        for (int i = 0; i < 4; ++i) {
          int one[3] = {0, 0, 0};
          if (gfx::AlphaOf(row[x + i]) > 4) TonePixel(row[x + i], one);
          c[i] = one[0];
          c[4 + i] = one[1];
          c[8 + i] = one[2];
        }
      }
      for (int i = 0; i < 4; ++i, ++tx) {
        if (tx == tw) tx = 0;
        const uint32_t p = row[x + i];
        if (gfx::AlphaOf(p) <= 4) continue;  // stays as drawn
        row[x + i] = Finish(p, x + i, y, dy2, texRow, tx, c[i], c[4 + i], c[8 + i]);
      }
    }
    for (; x < W; ++x, ++tx) {
      if (tx == tw) tx = 0;
      const uint32_t p = row[x];
      if (gfx::AlphaOf(p) <= 4) continue;
      TonePixel(p, c);
      row[x] = Finish(p, x, y, dy2, texRow, tx, c[0], c[1], c[2]);
    }
  }
};

}  // namespace

void VintageSepia(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                  bool Preview) {
  if (Source.isNull() || Dest.width() <= 0 || Dest.height() <= 0) return;
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);

  Image texture;
  if (P4 > 0)
    SynchronizeUi([&] { texture = TForm3::Instance().Picture(QStringLiteral("OldFilmTexture")); });
  int64_t Tm = 0;
  if (!texture.isEmpty()) Tm = MeanTextureLuma(texture);

  Dest.save();
  Dest.clear(0);
  if (P5 == 0) {
    Dest.drawImage(Source, 0, 0, gfx::Sampling::Nearest);
  } else {
    // Sigma P5 x 0.0375, the exact decimal product rounded once.
    const float sigma = float(P5 * 375) / 10000.0f;
    Dest.drawImage(gfx::GaussianBlur(Source, sigma, sigma, gfx::TileMode::Clamp), 0, 0,
                   gfx::Sampling::Nearest);
  }
  Dest.flush();
  Dest.restore();

  // The runner hands a destination of the source's size; the pass never reaches
  // beyond either should a caller do otherwise.
  const int W = std::min(Source.width(), Dest.width());
  const int H = std::min(Source.height(), Dest.height());
  if (W <= 0 || H <= 0) return;

  SepiaPass pass(Source.width(), Source.height(), P3);
  pass.kc = P1 * 256 / 100;
  pass.ks = P2 * 256 / 100;
  pass.P4 = P4;
  pass.A = int(RoundRatio(int64_t(P4) * 306, 1000));
  if (P4 > 0 && !texture.isEmpty()) {
    pass.texture = &texture;
    for (int l = 0; l < 256; ++l) pass.texel[size_t(l)] = int((int64_t(l) - Tm) * P4 / 100);
  }

  // Every pixel depends only on itself, so the rows of a block are shared out between
  // threads with the same picture on any number of them. Progress and cancellation are
  // the run's own and stay on this thread, at every 64th row, where the progress
  // values fall anyway. The pixel memory is taken once here: a surface's accessors may
  // detach shared pixels and are not for concurrent use.
  uint8_t* const bits = Dest.bits();
  const qsizetype stride = Dest.bytesPerLine();
  constexpr int kBlock = 64;
  for (int y0 = 0; y0 < H; y0 += kBlock) {
    if (!Preview) {
      // A cancelled render stops here; the cancellation point also hides the
      // progress bar, which a silent return would leave on show.
      CheckCancellation();
      SafeUpdateProgress(int(int64_t(y0) * 100 / H));
    }
    gfx::ParallelFor(
        std::min(kBlock, H - y0),
        [&](int i0, int i1) {
          for (int y = y0 + i0; y < y0 + i1; ++y)
            pass.Row(reinterpret_cast<uint32_t*>(bits + qsizetype(y) * stride), y, W);
        },
        8);
  }
  Dest.flush();
  if (!Preview) SafeUpdateProgress(101);
}

}  // namespace quillora
