// Adjustments: the darkroom's basic corrections in one pass. Luminosity and contrast
// lift or stretch the tones around middle grey, vibrance pulls colours towards or away
// from their grey, "structure" brings out the texture of surfaces (local contrast on
// the brightness alone, so colours do not shift), and the last slider softens the
// picture like a diffusion filter or crisps it like an unsharp mask.
#include "effects/photolab/adjustments.h"

#include "engine/numeric.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quillora {

namespace {

// Round to nearest, ties to even, of 0 <= v < 2^22: adding 1.5 * 2^23 leaves no
// fraction bits, so the addition itself rounds in the default mode.
inline int RoundSmallFloat(float v) {
  const float magic = 12582912.0f;
  return int((v + magic) - magic);
}

// Box blur of a W x H byte plane with radius r, edges replicated: rows first, then
// columns, each output the truncated mean of its 2r + 1 samples. Running sums make the
// cost independent of r; rows and column strips are independent, so any split gives
// the same plane.
void BoxBlurPlane(const std::vector<uint8_t>& in, std::vector<uint8_t>& across,
                  std::vector<uint8_t>& out, int W, int H, int r) {
  const int n = 2 * r + 1;
  // Sums reach 255 * n; a table replaces the division.
  std::vector<uint8_t> mean(size_t(255) * n + 1);
  for (size_t s = 0; s < mean.size(); ++s) mean[s] = uint8_t(s / size_t(n));

  gfx::ParallelFor(
      H,
      [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          const uint8_t* src = &in[size_t(y) * W];
          uint8_t* dst = &across[size_t(y) * W];
          int sum = 0;
          for (int i = -r; i <= r; ++i) sum += src[std::clamp(i, 0, W - 1)];
          dst[0] = mean[size_t(sum)];
          for (int x = 1; x < W; ++x) {
            sum += int(src[std::min(x + r, W - 1)]) - int(src[std::max(x - r - 1, 0)]);
            dst[x] = mean[size_t(sum)];
          }
        }
      },
      16);

  // Columns: one running sum per column, walked down the rows so memory is read in
  // order.
  gfx::ParallelFor(
      W,
      [&](int x0, int x1) {
        const int span = x1 - x0;
        std::vector<int> sums(size_t(span), 0);
        for (int i = -r; i <= r; ++i) {
          const uint8_t* row = &across[size_t(std::clamp(i, 0, H - 1)) * W + x0];
          for (int x = 0; x < span; ++x) sums[size_t(x)] += row[x];
        }
        for (int y = 0; y < H; ++y) {
          uint8_t* dst = &out[size_t(y) * W + x0];
          for (int x = 0; x < span; ++x) dst[x] = mean[size_t(sums[size_t(x)])];
          if (y + 1 == H) break;
          const uint8_t* enter = &across[size_t(std::min(y + r + 1, H - 1)) * W + x0];
          const uint8_t* leave = &across[size_t(std::max(y - r, 0)) * W + x0];
          for (int x = 0; x < span; ++x) sums[size_t(x)] += int(enter[x]) - int(leave[x]);
        }
      },
      64);
}

// The structure pass: each pixel's brightness moved by the overlay of its own
// brightness with its deviation from the neighbourhood, the colour scaled along.
// Reads the source's premultiplied rows as they are and writes a new image; an
// unreadable (empty) source gives an empty image.
Image Structure(const Image& Source, int P4, bool Preview) {
  if (Source.isEmpty()) return Image();
  const int W = Source.width(), H = Source.height();
  const size_t N = size_t(W) * size_t(H);
  QImage out = gfx::AllocateImage(W, H);
  if (!Preview) SafeUpdateProgress(5);

  const float a = std::min(float(P4) / 100.0f, 1.0f);
  const int r = P4 / 10 + 5;
  const double k = double(P4) / 50.0 + 1.0;

  std::vector<uint8_t> Y(N), across(N), Yb(N);
  gfx::ParallelFor(H, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* src = Source.row(y);
      uint8_t* lum = &Y[size_t(y) * W];
      for (int x = 0; x < W; ++x) {
        const uint32_t p = src[x];
        lum[x] = uint8_t((77 * gfx::RedOf(p) + 150 * gfx::GreenOf(p) + 29 * gfx::BlueOf(p)) >> 8);
      }
    }
  });
  if (!Preview) SafeUpdateProgress(15);
  BoxBlurPlane(Y, across, Yb, W, H, r);
  across = {};
  if (!Preview) {
    SafeUpdateProgress(30);
    SafeUpdateProgress(40);
  }

  // The pixel's new brightness depends only on (L, M), so the single-precision formula
  // is evaluated once per pair; the ratio applied to the colour bytes is kept per pair
  // too. The results are those of the formula evaluated at every pixel.
  std::vector<float> ratioOf(256 * 256);
  for (int L = 0; L < 256; ++L)
    for (int M = 0; M < 256; ++M) {
      const float t = float(L) / 255.0f;
      const float d = float(L - M) / 255.0f;
      const float d2 = d > 0 ? float(double(d) * k * 0.5) : float(double(d) * k);
      const float e = std::clamp(d2 + 0.5f, 0.0f, 1.0f);
      const float v = t < 0.5f ? 2.0f * t * e : 1.0f - 2.0f * (1.0f - t) * (1.0f - e);
      const int Lp = RoundSmallFloat(v * 255.0f);
      const float step = float(Lp - L) * a;
      const int target = L + (step < 0 ? -RoundSmallFloat(-step) : RoundSmallFloat(step));
      ratioOf[size_t(L) * 256 + size_t(M)] = L > 0 ? float(target) / float(L) : 1.0f;
    }

  // Progress goes out every 65536 pixels from this thread (the run's own); the pixels
  // of each block are shared out between threads. The output's memory is taken once,
  // before any thread writes it.
  uint32_t* const dst = reinterpret_cast<uint32_t*>(out.bits());
  const size_t block = 65536;
  for (size_t start = 0; start < N; start += block) {
    if (!Preview) SafeUpdateProgress(40 + int(RoundRatio(int64_t(start) * 50, int64_t(N))));
    const size_t end = std::min(N, start + block);
    gfx::ParallelFor(
        int(end - start),
        [&](int i0, int i1) {
          const size_t first = start + size_t(i0), last = start + size_t(i1);
          size_t y = first / size_t(W), x = first - y * size_t(W);
          const uint32_t* src = Source.row(int(y));
          for (size_t i = first; i < last; ++i) {
            const uint32_t p = src[x];
            const float ratio = ratioOf[size_t(Y[i]) * 256 + Yb[i]];
            // Colour is capped at alpha, not at 255: the bytes stay valid premultiplied
            // colour on translucent pixels; on opaque ones the two caps are the same.
            const int alpha = int(gfx::AlphaOf(p));
            auto scale = [&](uint32_t c) {
              return uint32_t(std::min(RoundSmallFloat(float(c) * ratio), alpha));
            };
            dst[i] = ratio == 1.0f ? p
                                   : gfx::PackArgb(uint32_t(alpha), scale(gfx::RedOf(p)),
                                                   scale(gfx::GreenOf(p)), scale(gfx::BlueOf(p)));
            if (++x == size_t(W) && i + 1 < last) {
              x = 0;
              src = Source.row(int(++y));
            }
          }
        },
        8192);
  }
  if (!Preview) SafeUpdateProgress(90);
  return Image::FromQImage(out);
}

using Matrix = gfx::ColorMatrixValues;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};

// S x M for 4 x 5 colour matrices read as affine maps (an implied last row 0 0 0 0 1):
// M is applied first.
Matrix Concat(const Matrix& S, const Matrix& M) {
  Matrix out{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 5; ++j) {
      float v = 0.0f;
      for (int k = 0; k < 4; ++k) v += S[size_t(i * 5 + k)] * M[size_t(k * 5 + j)];
      if (j == 4) v += S[size_t(i * 5 + 4)];
      out[size_t(i * 5 + j)] = v;
    }
  return out;
}

}  // namespace

void Adjustments(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                 bool Preview) {
  const float b = float(P1 - 50) / 200.0f;
  const float c = float(P2) / 50.0f;
  const float s = float(P3) / 50.0f;
  const float sigma = P5 < 50 ? float(50 - P5) / 5.0f : 0.0f;
  const float q = P5 > 50 ? float(P5 - 50) / 30.0f : 0.0f;

  if (Source.isEmpty()) return;
  Image working = Source;
  if (P4 > 0) {
    const Image structured = Structure(Source, P4, Preview);
    if (!structured.isEmpty()) working = structured;
  }
  if (!Preview) SafeUpdateProgress(92);

  Matrix m = kIdentity;
  if (std::fabs(c - 1.0f) > 0.001f) {
    m[0] = m[6] = m[12] = c;
    m[4] = m[9] = m[14] = (1.0f - c) * 0.5f;
  }
  if (std::fabs(b) > 0.001f) {
    m[4] += b;
    m[9] += b;
    m[14] += b;
  }
  if (std::fabs(s - 1.0f) > 0.001f) {
    const float u = 1.0f - s;
    const float wr = 0.213f * u, wg = 0.715f * u, wb = 0.072f * u;
    const Matrix S = {wr + s, wg,     wb,     0, 0,  //
                      wr,     wg + s, wb,     0, 0,  //
                      wr,     wg,     wb + s, 0, 0,  //
                      0,      0,      0,      1, 0};
    m = Concat(S, m);
  }

  // The identity matrix is left out: its unpremultiply and premultiply round trip would
  // move translucent pixels by a level where nothing was asked for.
  Image result = m == kIdentity ? working : gfx::ColorMatrix(working, m);
  if (sigma > 0) {
    // Decal: the picture fades to transparent at its borders, as a blur of a print
    // on an empty sheet.
    result = gfx::GaussianBlur(result, sigma, sigma, gfx::TileMode::Decal);
  } else if (q > 0) {
    const float kernel[9] = {0, -q, 0, -q, 1 + 4 * q, -q, 0, -q, 0};
    result = gfx::MatrixConvolution(result, QSize(3, 3), kernel, 1.0f, 0.0f, QPoint(1, 1),
                                    gfx::TileMode::Clamp, true);
  }

  Dest.clear(0);
  Dest.drawImage(result, 0, 0, gfx::Sampling::Nearest);
  Dest.flush();
  if (!Preview) SafeUpdateProgress(101);
}

}  // namespace quillora
