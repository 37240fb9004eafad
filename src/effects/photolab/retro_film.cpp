// Retro film: a colour snapshot from decades ago. The print has drifted warm, reds
// and yellows strong and the blues gone thin, so the whites look like old paper; the
// colours can be faded or pushed, the tones flattened or made punchy, and the
// picture carries the grain of a fast film and the darker corners of a cheap lens.
#include "effects/photolab/retro_film.h"

#include "effects/photolab/vintage_sepia.h"
#include "engine/numeric.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quillora {

namespace {

// Round to nearest, ties to even, of 0 <= v < 2^22 (see RoundSmallDouble).
inline int RoundSmallFloat(float v) {
  const float magic = 12582912.0f;
  return int((v + magic) - magic);
}

inline float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// Four pixels at once, one lane each, with GCC vector extensions. Every lane does the
// scalar single-precision operations in the same order (no fused or reordered
// arithmetic), so the lanes give exactly the scalar pixel's values.
typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));
typedef uint32_t U4 __attribute__((vector_size(16)));

inline F4 Splat(float v) { return F4{v, v, v, v}; }

inline F4 Clamp01(F4 v) {
  const F4 zero = Splat(0.0f), one = Splat(1.0f);
  v = v < zero ? zero : v;
  return v > one ? one : v;
}

inline I4 Round255(F4 v) {
  const F4 magic = Splat(12582912.0f);
  return __builtin_convertvector((v * Splat(255.0f) + magic) - magic, I4);
}

struct RetroPass {
  // Single precision, each the exact decimal value rounded once.
  float sat, warm, con;
  float offR, offG, offB;
  int A = 0;
  FilmVignette vignette;

  RetroPass(int W, int H, int P1, int P2, int P3, int P4, int P5)
      : sat(float(15 * P1 + 500) / 1000.0f),
        warm(float(P2 - 40) / 1000.0f),
        con(float(8 * P3 + 800) / 1000.0f),
        offR(0.03f + warm),
        offG(0.01f + 0.4f * warm),
        offB(0.05f - 0.5f * warm),
        A(int(RoundRatio(int64_t(P4) * 408, 1000))),
        vignette(W, H, P5, double(float(1000 - 6 * P5) / 1000.0f),
                 double(float(85 * P5) / 10000.0f)) {}

  // The grade, saturation and contrast of one pixel (alpha > 4), as bytes.
  void Grade(uint32_t p, int* out) const {
    const int a = int(gfx::AlphaOf(p));
    float R, G, B;
    if (a == 255) {
      R = float(gfx::RedOf(p)) / 255.0f;
      G = float(gfx::GreenOf(p)) / 255.0f;
      B = float(gfx::BlueOf(p)) / 255.0f;
    } else {
      const float fa = float(a);
      R = float(gfx::RedOf(p)) * 255.0f / fa / 255.0f;
      G = float(gfx::GreenOf(p)) * 255.0f / fa / 255.0f;
      B = float(gfx::BlueOf(p)) * 255.0f / fa / 255.0f;
    }
    // The warm print.
    float r = Clamp01(1.12f * R + 0.05f * G - 0.02f * B + offR);
    float g = Clamp01(-0.02f * R + 1.0f * G + 0.05f * B + offG);
    float b = Clamp01(-0.04f * R - 0.04f * G + 0.9f * B + offB);
    // Saturation about the grey of the graded colour.
    const float Y = 0.299f * r + 0.587f * g + 0.114f * b;
    r = Clamp01(Y + (r - Y) * sat);
    g = Clamp01(Y + (g - Y) * sat);
    b = Clamp01(Y + (b - Y) * sat);
    // Contrast about middle grey.
    out[0] = RoundSmallFloat(Clamp01((r - 0.5f) * con + 0.5f) * 255.0f);
    out[1] = RoundSmallFloat(Clamp01((g - 0.5f) * con + 0.5f) * 255.0f);
    out[2] = RoundSmallFloat(Clamp01((b - 0.5f) * con + 0.5f) * 255.0f);
  }

  // Grade() on four pixels; the results go to out[0..3] (red), out[4..7] (green) and
  // out[8..11] (blue). Lanes of transparent pixels compute garbage that is never used.
  void Grade4(const uint32_t* px, int* out) const {
    U4 p;
    std::memcpy(&p, px, sizeof p);
    const I4 a = I4(p >> 24);
    const F4 Rc = __builtin_convertvector(I4((p >> 16) & 255u), F4);
    const F4 Gc = __builtin_convertvector(I4((p >> 8) & 255u), F4);
    const F4 Bc = __builtin_convertvector(I4(p & 255u), F4);
    const F4 k255 = Splat(255.0f);
    F4 R = Rc / k255, G = Gc / k255, B = Bc / k255;
    if (!(px[0] >= 0xFF000000u && px[1] >= 0xFF000000u && px[2] >= 0xFF000000u &&
          px[3] >= 0xFF000000u)) {
      const I4 opaque = a == I4{255, 255, 255, 255};
      // Transparent lanes are never used; they divide by 1 rather than by 0.
      const I4 one = {1, 1, 1, 1};
      const F4 fa = __builtin_convertvector(a < one ? one : a, F4);
      R = opaque ? R : Rc * k255 / fa / k255;
      G = opaque ? G : Gc * k255 / fa / k255;
      B = opaque ? B : Bc * k255 / fa / k255;
    }
    F4 r = Clamp01(Splat(1.12f) * R + Splat(0.05f) * G - Splat(0.02f) * B + Splat(offR));
    F4 g = Clamp01(Splat(-0.02f) * R + Splat(1.0f) * G + Splat(0.05f) * B + Splat(offG));
    F4 b = Clamp01(Splat(-0.04f) * R - Splat(0.04f) * G + Splat(0.9f) * B + Splat(offB));
    const F4 Y = Splat(0.299f) * r + Splat(0.587f) * g + Splat(0.114f) * b;
    const F4 s = Splat(sat);
    r = Clamp01(Y + (r - Y) * s);
    g = Clamp01(Y + (g - Y) * s);
    b = Clamp01(Y + (b - Y) * s);
    const F4 c = Splat(con), half = Splat(0.5f);
    const I4 ri = Round255(Clamp01((r - half) * c + half));
    const I4 gi = Round255(Clamp01((g - half) * c + half));
    const I4 bi = Round255(Clamp01((b - half) * c + half));
    std::memcpy(out, &ri, sizeof ri);
    std::memcpy(out + 4, &gi, sizeof gi);
    std::memcpy(out + 8, &bi, sizeof bi);
  }

  // Grain, vignette and premultiplication of the graded bytes of pixel x.
  uint32_t Finish(uint32_t p, int x, int y, double dy2, int ri, int gi, int bi) const {
    const int a = int(gfx::AlphaOf(p));
    if (A > 0) {
      const int grain = (FilmGrainNoise(uint32_t(x), uint32_t(y)) * A) / 256;
      ri = Clamp255(ri + grain);
      gi = Clamp255(gi + grain);
      bi = Clamp255(bi + grain);
    }
    if (vignette.on) {
      const double f = vignette.Factor(x, dy2);
      // Round(c x 1) is c: the centre is left alone without the multiplications.
      if (f != 1.0) {
        ri = RoundSmallDouble(double(ri) * f);
        gi = RoundSmallDouble(double(gi) * f);
        bi = RoundSmallDouble(double(bi) * f);
      }
    }
    if (a < 255) {
      ri = ri * a / 255;
      gi = gi * a / 255;
      bi = bi * a / 255;
    }
    return gfx::PackArgb(uint32_t(a), uint32_t(Clamp255(ri)), uint32_t(Clamp255(gi)),
                         uint32_t(Clamp255(bi)));
  }

  void Row(uint32_t* row, int y, int W) const {
    const double dy = double(y) - vignette.cy;
    const double dy2 = dy * dy;
    int x = 0;
    int c[12];
    for (; x + 4 <= W; x += 4) {
      Grade4(row + x, c);
      for (int i = 0; i < 4; ++i) {
        const uint32_t p = row[x + i];
        if (gfx::AlphaOf(p) <= 4) continue;  // stays as drawn
        row[x + i] = Finish(p, x + i, y, dy2, c[i], c[4 + i], c[8 + i]);
      }
    }
    for (; x < W; ++x) {
      const uint32_t p = row[x];
      if (gfx::AlphaOf(p) <= 4) continue;
      Grade(p, c);
      row[x] = Finish(p, x, y, dy2, c[0], c[1], c[2]);
    }
  }
};

}  // namespace

void RetroFilm(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
               bool Preview) {
  if (Source.isNull() || Dest.width() <= 0 || Dest.height() <= 0) return;
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);

  Dest.save();
  Dest.clear(0);
  Dest.drawImage(Source, 0, 0, gfx::Sampling::Nearest);
  Dest.flush();
  Dest.restore();

  const int W = std::min(Source.width(), Dest.width());
  const int H = std::min(Source.height(), Dest.height());
  if (W <= 0 || H <= 0) return;

  const RetroPass pass(Source.width(), Source.height(), P1, P2, P3, P4, P5);

  // As in Vintage / Sepia: rows of a 64-row block shared out between threads (each
  // pixel depends only on itself), progress and cancellation on this thread at every
  // 64th row.
  uint8_t* const bits = Dest.bits();
  const qsizetype stride = Dest.bytesPerLine();
  constexpr int kBlock = 64;
  for (int y0 = 0; y0 < H; y0 += kBlock) {
    if (!Preview) {
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
