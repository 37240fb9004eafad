#include "effects/painting/post_processing.h"

#include "engine/effect_host.h"
#include "engine/effect_services.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <QThreadPool>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace quillora {

using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::PackArgb;
using gfx::RedOf;

namespace {

// ---- smoothing ---------------------------------------------------------------------

struct SmoothPlan {
  int w = 0, h = 0;
  int radius = 0;
  int kerSize = 0;
  int64_t threshold2 = 0;
  const float* spatialKer = nullptr;  // kerSize x kerSize, row-major by (dy, dx)
  const float* rangeLut = nullptr;    // 256 entries
  bool flatRange = false;             // every range weight is 1
};

// The integer mean of the pixels of the 3 x 3 neighbourhood that are not fully
// transparent (the centre always is one), with the centre's alpha. Only reached when
// the weight sum is not above 0.001, which takes a degenerate sigma (NaN weights).
uint32_t NeighbourhoodMean(const SmoothPlan& p, const uint32_t* in, int x, int y, uint32_t centre) {
  int sr = 0, sg = 0, sb = 0, count = 0;
  for (int yy = std::max(0, y - 1); yy <= std::min(p.h - 1, y + 1); ++yy) {
    const uint32_t* row = in + size_t(yy) * size_t(p.w);
    for (int xx = std::max(0, x - 1); xx <= std::min(p.w - 1, x + 1); ++xx) {
      const uint32_t e = row[xx];
      if (AlphaOf(e) == 0) continue;
      sr += int(RedOf(e));
      sg += int(GreenOf(e));
      sb += int(BlueOf(e));
      ++count;
    }
  }
  const uint32_t a = AlphaOf(centre);
  return PackArgb(a, std::min(uint32_t(sr / count), a), std::min(uint32_t(sg / count), a),
                  std::min(uint32_t(sb / count), a));
}

typedef int32_t SmoothI8 __attribute__((vector_size(32)));
typedef uint32_t SmoothU8 __attribute__((vector_size(32)));
typedef float SmoothF8 __attribute__((vector_size(32)));

// Eight neighbouring output pixels whose windows lie wholly inside the picture's
// columns, each lane summing its own window in exactly the scalar order: a tap that
// fails the tests adds W = 0, and x + 0 * e = x, so every lane's sums are bit for bit
// those of the one-pixel loop. Writes the lanes whose weight sum is usable and returns
// a bit mask of the lanes left for the one-pixel loop (transparent centres and
// degenerate weights).
__attribute__((target_clones("avx2", "default"))) unsigned SmoothEight(
    const SmoothPlan& p, const uint32_t* in, const uint32_t* guide, uint32_t* outRow, int x,
    int y, int dy0, int dy1) {
  const int R = p.radius;
  SmoothU8 g;
  std::memcpy(&g, guide + size_t(y) * size_t(p.w) + size_t(x), sizeof g);
  const SmoothI8 gr = SmoothI8((g >> 16) & 0xFF), gg = SmoothI8((g >> 8) & 0xFF),
                 gb = SmoothI8(g & 0xFF);
  // Distances above 3 * 255^2 never occur, so a larger threshold fits 32 bits clipped.
  const int32_t thr2 = int32_t(std::min<int64_t>(p.threshold2, 3 * 255 * 255 + 1));
  SmoothF8 sumR = {}, sumG = {}, sumB = {}, sumW = {};
  for (int dy = dy0; dy <= dy1; ++dy) {
    const size_t rowStart = size_t(y + dy) * size_t(p.w) + size_t(x);
    const uint32_t* eRow = in + rowStart;
    const uint32_t* aRow = guide + rowStart;
    const float* ker = p.spatialKer + size_t(dy + R) * size_t(p.kerSize) + size_t(R);
    for (int dx = -R; dx <= R; ++dx) {
      SmoothU8 e, a;
      std::memcpy(&e, eRow + dx, sizeof e);
      std::memcpy(&a, aRow + dx, sizeof a);
      const SmoothI8 dr = gr - SmoothI8((a >> 16) & 0xFF);
      const SmoothI8 dg = gg - SmoothI8((a >> 8) & 0xFF);
      const SmoothI8 db = gb - SmoothI8(a & 0xFF);
      const SmoothI8 dist2 = dr * dr + dg * dg + db * db;
      const SmoothI8 take = (dist2 <= thr2) & ((e >> 24) != 0);
      SmoothF8 W;
      if (p.flatRange) {
        W = ker[dx] + SmoothF8{};
      } else {
        const SmoothI8 ar = dr < 0 ? -dr : dr, ag = dg < 0 ? -dg : dg, ab = db < 0 ? -db : db;
        SmoothI8 m = ar > ag ? ar : ag;
        m = m > ab ? m : ab;
        for (int i = 0; i < 8; ++i) W[i] = ker[dx] * p.rangeLut[m[i]];
      }
      W = SmoothF8(SmoothI8(W) & take);
      sumR += W * __builtin_convertvector(SmoothI8((e >> 16) & 0xFF), SmoothF8);
      sumG += W * __builtin_convertvector(SmoothI8((e >> 8) & 0xFF), SmoothF8);
      sumB += W * __builtin_convertvector(SmoothI8(e & 0xFF), SmoothF8);
      sumW += W;
    }
  }
  const uint32_t* inRow = in + size_t(y) * size_t(p.w);
  unsigned rest = 0;
  for (int i = 0; i < 8; ++i) {
    const uint32_t centre = inRow[x + i];
    if (AlphaOf(centre) == 0 || !(double(sumW[i]) > 0.001)) {
      rest |= 1u << i;
      continue;
    }
    const float a = float(AlphaOf(centre));
    auto channel = [&](float sum) {
      return uint32_t(std::clamp(std::nearbyint(sum / sumW[i]), 0.0f, a));
    };
    outRow[x + i] = PackArgb(AlphaOf(centre), channel(sumR[i]), channel(sumG[i]), channel(sumB[i]));
  }
  return rest;
}

void SmoothPixel(const SmoothPlan& p, const uint32_t* in, const uint32_t* guide, uint32_t* outRow,
                 int x, int y, int dy0, int dy1);

// One output row. Reads only `in` and `guide`, writes only its own row of `out`, so
// rows may run on any thread in any order with the same result.
void SmoothRow(const SmoothPlan& p, const uint32_t* in, const uint32_t* guide, uint32_t* out,
               int y) {
  const int R = p.radius;
  const int dy0 = std::max(-R, -y), dy1 = std::min(R, p.h - 1 - y);
  uint32_t* outRow = out + size_t(y) * size_t(p.w);
  int x = 0;
  for (; x < std::min(R, p.w); ++x) SmoothPixel(p, in, guide, outRow, x, y, dy0, dy1);
  for (; x + 7 + R <= p.w - 1; x += 8) {
    unsigned rest = SmoothEight(p, in, guide, outRow, x, y, dy0, dy1);
    for (int i = 0; rest; ++i, rest >>= 1)
      if (rest & 1u) SmoothPixel(p, in, guide, outRow, x + i, y, dy0, dy1);
  }
  for (; x < p.w; ++x) SmoothPixel(p, in, guide, outRow, x, y, dy0, dy1);
}

// The one-pixel rule: the picture's borders, and the lanes the eight-pixel path leaves.
void SmoothPixel(const SmoothPlan& p, const uint32_t* in, const uint32_t* guide, uint32_t* outRow,
                 int x, int y, int dy0, int dy1) {
  const int R = p.radius;
  const uint32_t* inRow = in + size_t(y) * size_t(p.w);
  const uint32_t* guideRow = guide + size_t(y) * size_t(p.w);
  {
    const uint32_t centre = inRow[x];
    if (AlphaOf(centre) == 0) {
      outRow[x] = centre;
      return;
    }
    const uint32_t g = guideRow[x];
    const int gr = int(RedOf(g)), gg = int(GreenOf(g)), gb = int(BlueOf(g));
    const int dx0 = std::max(-R, -x), dx1 = std::min(R, p.w - 1 - x);
    float sumR = 0.0f, sumG = 0.0f, sumB = 0.0f, sumW = 0.0f;
    for (int dy = dy0; dy <= dy1; ++dy) {
      const size_t rowStart = size_t(y + dy) * size_t(p.w) + size_t(x);
      const uint32_t* eRow = in + rowStart;
      const uint32_t* aRow = guide + rowStart;
      const float* ker = p.spatialKer + size_t(dy + R) * size_t(p.kerSize) + size_t(R);
      for (int dx = dx0; dx <= dx1; ++dx) {
        const uint32_t e = eRow[dx];
        if (AlphaOf(e) == 0) continue;
        const uint32_t a = aRow[dx];
        const int dr = std::abs(gr - int(RedOf(a)));
        const int dg = std::abs(gg - int(GreenOf(a)));
        const int db = std::abs(gb - int(BlueOf(a)));
        if (int64_t(dr * dr + dg * dg + db * db) > p.threshold2) continue;
        const float W = ker[dx] * p.rangeLut[std::max(dr, std::max(dg, db))];
        sumR += W * float(RedOf(e));
        sumG += W * float(GreenOf(e));
        sumB += W * float(BlueOf(e));
        sumW += W;
      }
    }
    if (double(sumW) > 0.001) {
      // Premultiplied colour never exceeds its alpha; a mean of neighbours that are
      // more opaque than the centre would, so it is held at the centre's alpha.
      const float a = float(AlphaOf(centre));
      auto channel = [&](float sum) {
        return uint32_t(std::clamp(std::nearbyint(sum / sumW), 0.0f, a));
      };
      outRow[x] = PackArgb(AlphaOf(centre), channel(sumR), channel(sumG), channel(sumB));
    } else {
      outRow[x] = NeighbourhoodMean(p, in, x, y, centre);
    }
  }
}

// ---- colour lift -------------------------------------------------------------------

struct VibranceAmounts {
  double vibrance, saturation, contrast, skinProtect, mix;
};

inline double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

// max(0, 1 - s)^1.5 by the largest and smallest byte (index hi * 256 + lo): for opaque
// pixels s depends on nothing else, and the table holds exactly what the formula gives,
// so the pow per pixel, the bulk of the work, is paid once per process.
const double* DullnessTable() {
  static const std::vector<double> table = [] {
    std::vector<double> t(256 * 256, 0.0);
    for (int hi = 0; hi < 256; ++hi)
      for (int lo = 0; lo <= hi; ++lo) {
        const double s = double(hi) / 255.0 - double(lo) / 255.0;
        t[size_t(hi) * 256 + size_t(lo)] = std::pow(std::max(0.0, 1.0 - s), 1.5);
      }
    return t;
  }();
  return table.data();
}

uint32_t VibrancePixel(uint32_t p, const VibranceAmounts& k, const double* dullness) {
  const uint32_t A = AlphaOf(p);
  const double R = RedOf(p), G = GreenOf(p), B = BlueOf(p);
  double r, g, b;
  if (A > 0 && A < 255) {
    r = R * 255.0 / double(A) / 255.0;
    g = G * 255.0 / double(A) / 255.0;
    b = B * 255.0 / double(A) / 255.0;
  } else {
    r = R / 255.0;
    g = G / 255.0;
    b = B / 255.0;
  }
  const double L = 0.299 * r + 0.587 * g + 0.114 * b;
  const double mx = std::max(r, std::max(g, b));
  const double mn = std::min(r, std::min(g, b));
  const double s = mx - mn;
  const double M =
      A > 0 && A < 255
          ? std::pow(std::max(0.0, 1.0 - s), 1.5)
          : dullness[size_t(std::max(RedOf(p), std::max(GreenOf(p), BlueOf(p)))) * 256 +
                     size_t(std::min(RedOf(p), std::min(GreenOf(p), BlueOf(p))))];
  double F = (2.0 * k.vibrance * M + 1.0) * std::max(0.0, k.saturation + 1.0);
  const double Lp = k.contrast != 0.0 ? (L - 0.5) * (0.8 * k.contrast + 1.0) + 0.5 : L;
  if (k.skinProtect > 0.0) {
    double H = 0.0;
    if (s != 0.0) {
      if (mx == r)
        H = 60.0 * (g - b) / s;
      else if (mx == g)
        H = 60.0 * ((b - r) / s + 2.0);
      else
        H = 60.0 * ((r - g) / s + 4.0);
      if (H < 0.0) H += 360.0;
    }
    double delta = std::abs(H - 35.0);
    if (delta > 180.0) delta = 360.0 - delta;
    const double t = std::max(0.0, 1.0 - delta / 30.0);
    const double wgt = t * t;
    F = (F - 1.0) * (1.0 - 0.7 * k.skinProtect * wgt) + 1.0;
  }
  auto channel = [&](double x) {
    const double x1 = Clamp01(Lp + F * (x - L));
    const double x2 = Clamp01((1.0 - k.mix) * x + k.mix * x1);
    int v = int(std::nearbyint(255.0 * x2));
    if (A < 255) v = v * int(A) / 255;
    return uint32_t(std::clamp(v, 0, 255));
  };
  return PackArgb(A, channel(r), channel(g), channel(b));
}

// ---- edge hatching -----------------------------------------------------------------

// Darkens one layer pixel by d (floored at 0). On a transparent layer an untouched
// pixel first becomes white, and every touched pixel is opaque.
inline void DarkenLayerPixel(uint32_t& px, int64_t d, bool transparent) {
  if (transparent && AlphaOf(px) == 0) px = 0xFFFFFFFFu;
  auto sub = [d](uint32_t c) { return uint32_t(std::max<int64_t>(0, int64_t(c) - d)); };
  px =
      PackArgb(transparent ? 255u : AlphaOf(px), sub(RedOf(px)), sub(GreenOf(px)), sub(BlueOf(px)));
}

}  // namespace

void SimilaritySmoothSurface_MT(gfx::Surface& Surface, const gfx::Image* Guide, int Radius,
                                int ColorThreshold, int Iterations, bool UseRangeWeights,
                                float SpatialSigma, float RangeSigma, int ThreadCount,
                                const std::function<void(float)>& OnProgress) {
  const int w = Surface.width(), h = Surface.height();
  if (w <= 0 || h <= 0 || Iterations <= 0) return;
  const size_t count = size_t(w) * size_t(h);
  std::vector<uint32_t> A(count), B(count);
  {
    const uint8_t* bits = Surface.bits();
    const qsizetype stride = Surface.bytesPerLine();
    for (int y = 0; y < h; ++y)
      std::memcpy(&A[size_t(y) * size_t(w)], bits + qsizetype(y) * stride, size_t(w) * 4);
  }
  // A guide of another size cannot be matched pixel for pixel; the picture guides
  // itself then.
  std::vector<uint32_t> guidePixels;
  if (Guide && Guide->width() == w && Guide->height() == h) {
    guidePixels.resize(count);
    for (int y = 0; y < h; ++y)
      std::memcpy(&guidePixels[size_t(y) * size_t(w)], Guide->row(y), size_t(w) * 4);
  }

  const int R = std::max(0, Radius);
  const int kerSize = 2 * R + 1;
  double s = SpatialSigma;
  if (SpatialSigma < R / 2.5) s = std::max(0.5, R / 2.5);
  std::vector<float> spatialKer(size_t(kerSize) * size_t(kerSize));
  for (int dy = -R; dy <= R; ++dy)
    for (int dx = -R; dx <= R; ++dx)
      spatialKer[size_t(dy + R) * size_t(kerSize) + size_t(dx + R)] =
          float(std::exp(-0.5 * double(dx * dx + dy * dy) / (s * s)));

  std::array<float, 256> rangeLut{};
  SmoothPlan plan;
  plan.w = w;
  plan.h = h;
  plan.radius = R;
  plan.kerSize = kerSize;
  plan.threshold2 = int64_t(ColorThreshold) * int64_t(ColorThreshold);
  plan.spatialKer = spatialKer.data();
  plan.rangeLut = rangeLut.data();

  // A caller that names a thread count gets a pool of its own of that size (threads
  // start on demand, one per band in flight); otherwise the shared pool serves.
  std::unique_ptr<QThreadPool> privatePool;
  if (ThreadCount > 0) {
    privatePool = std::make_unique<QThreadPool>();
    privatePool->setMaxThreadCount(ThreadCount);
  }
  QThreadPool* pool = privatePool ? privatePool.get() : QThreadPool::globalInstance();

  for (int n = 1; n <= Iterations; ++n) {
    if (OnProgress) OnProgress(float(n) / float(Iterations));
    if (UseRangeWeights) {
      const double sigma = double(RangeSigma) * (1.0 + 0.2 * double(n - 1));
      for (int d = 0; d < 256; ++d)
        rangeLut[size_t(d)] = float(std::exp(-double(d * d) / (2.0 * sigma * sigma)));
    } else {
      rangeLut.fill(1.0f);
    }
    plan.flatRange = !UseRangeWeights;
    const uint32_t* in = (n % 2 == 1) ? A.data() : B.data();
    uint32_t* out = (n % 2 == 1) ? B.data() : A.data();
    const uint32_t* guide = guidePixels.empty() ? in : guidePixels.data();
    gfx::ParallelFor(
        pool, h,
        [&](int y0, int y1) {
          for (int y = y0; y < y1; ++y) SmoothRow(plan, in, guide, out, y);
        },
        4);
  }

  const std::vector<uint32_t>& last = (Iterations % 2 == 1) ? B : A;
  uint8_t* bits = Surface.bits();
  const qsizetype stride = Surface.bytesPerLine();
  for (int y = 0; y < h; ++y)
    std::memcpy(bits + qsizetype(y) * stride, &last[size_t(y) * size_t(w)], size_t(w) * 4);
}

void VibrancePop(const gfx::Image& Source, gfx::Surface& Dest, int Vibrance, int Saturation,
                 int Contrast, int SkinProtect, int Mix, bool Preview) {
  (void)Preview;
  const VibranceAmounts k{std::clamp(Vibrance, -100, 100) / 100.0,
                          std::clamp(Saturation, -100, 100) / 100.0,
                          std::clamp(Contrast, -100, 100) / 100.0,
                          std::clamp(SkinProtect, 0, 100) / 100.0, std::clamp(Mix, 0, 100) / 100.0};
  gfx::Image adjusted;
  if (!Source.isEmpty()) {
    const int w = Source.width(), h = Source.height();
    QImage out = gfx::AllocateImage(w, h);
    const double* dullness = DullnessTable();
    for (int y = 0; y < h; ++y) {
      const uint32_t* src = Source.row(y);
      auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
      for (int x = 0; x < w; ++x) dst[x] = VibrancePixel(src[x], k, dullness);
    }
    adjusted = gfx::Image::FromQImage(out);
  }
  auto copyIntoDest = [&] {
    Dest.clear(0);
    Dest.drawImage(adjusted, 0, 0, gfx::Sampling::Nearest);
    Dest.flush();
  };
  const bool done = SynchronizeUi([&] {
    copyIntoDest();
    if (EffectHost* host = CurrentHost()) host->RedrawMainView();
  });
  // The interface is closing and dropped the call; the caller still gets its picture.
  if (!done) copyIntoDest();
}

void SobelEffectSource(const gfx::Image& Source, gfx::Surface& Dest, int EdgeThreshold,
                       int Darkness, int StrokeScale) {
  if (EdgeThreshold < 1) EdgeThreshold = 24;
  Darkness = std::clamp(Darkness, 0, 255);
  if (StrokeScale < 1) StrokeScale = 60;
  Dest.clear(0);
  const int w = Source.width(), h = Source.height();
  if (w <= 2 || h <= 2) return;

  std::vector<int> lum(size_t(w) * size_t(h));
  bool transparent = false;
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = Source.row(y);
    int* out = &lum[size_t(y) * size_t(w)];
    for (int x = 0; x < w; ++x) {
      const uint32_t p = row[x];
      if (AlphaOf(p) != 255) transparent = true;
      out[x] = int(30 * RedOf(p) + 59 * GreenOf(p) + 11 * BlueOf(p)) / 100;
    }
  }

  QImage layerImage = gfx::AllocateImage(w, h);
  layerImage.fill(transparent ? 0u : 0xFFFFFFFFu);
  auto* layer = reinterpret_cast<uint32_t*>(layerImage.bits());
  const size_t layerStride = size_t(layerImage.bytesPerLine() / 4);
  auto darken = [&](int64_t px, int64_t py, int64_t d) {
    if (px < 0 || py < 0 || px >= w || py >= h) return;
    DarkenLayerPixel(layer[size_t(py) * layerStride + size_t(px)], d, transparent);
  };
  const int darknessOffset = (150 - Darkness) / 4;
  // Beyond this step both ends of a stroke lie outside the picture (the stroke's
  // longer axis advances at least 0.7 pixel per step), so longer strokes, which only
  // an absurd StrokeScale asks for, change nothing and are cut short.
  const int64_t stepLimit = 2 * int64_t(std::max(w, h)) + 2;

  for (int y = 1; y <= h - 2; ++y) {
    const int* up = &lum[size_t(y - 1) * size_t(w)];
    const int* mid = &lum[size_t(y) * size_t(w)];
    const int* down = &lum[size_t(y + 1) * size_t(w)];
    for (int x = 1; x <= w - 2; ++x) {
      const int TL = up[x - 1], TC = up[x], TR = up[x + 1];
      const int ML = mid[x - 1], MR = mid[x + 1];
      const int BL = down[x - 1], BC = down[x], BR = down[x + 1];
      const int gx = (TL + 2 * ML + BL - TR - 2 * MR - BR) / 4;
      const int gy = (TL + 2 * TC + TR - BL - 2 * BC - BR) / 4;
      const int m = (std::abs(gx) + std::abs(gy)) / 2;
      if (m < EdgeThreshold || std::abs(std::abs(gx) - std::abs(gy)) <= 1) continue;
      // The stroke runs along the edge, across the gradient.
      const double theta = gx != 0 ? std::atan(double(gy) / double(gx)) + 1.5707 : 3.14159;
      const int64_t n = int64_t(StrokeScale) * (m / 4) / 50;
      if (n <= 0) continue;
      const double c = std::cos(theta), s = std::sin(theta);
      const int64_t d0 = int64_t(StrokeScale) * (m / 2) / 50 - darknessOffset;
      const int64_t last = std::min(n, stepLimit);
      for (int64_t j = 0; j <= last; ++j) {
        const int64_t d = d0 - j;
        if (d < 1) break;
        const auto ox = int64_t(std::floor(double(j) * c));
        const auto oy = int64_t(std::floor(double(j) * s));
        darken(x - ox, y - oy, d);
        darken(x + ox, y + oy, d);
      }
    }
  }

  Dest.drawImage(gfx::Image::FromQImage(layerImage), 0, 0, gfx::Sampling::Nearest);
  Dest.flush();
}

void BlendSobelEdges(const gfx::Image& Source, gfx::Surface& Dest, int EdgeThreshold, int Darkness,
                     int StrokeScale, int Mode, int Opacity) {
  if (Source.isEmpty()) return;
  gfx::Surface layer(Source.width(), Source.height());
  SobelEffectSource(Source, layer, EdgeThreshold, Darkness, StrokeScale);
  const gfx::Image edges = layer.snapshot();
  gfx::Paint paint;
  paint.mode = Mode == 1   ? gfx::BlendMode::Darken
               : Mode == 2 ? gfx::BlendMode::Overlay
                           : gfx::BlendMode::Multiply;
  paint.alpha = float(std::clamp(Opacity, 0, 100)) / 100.0f;
  Dest.save();
  Dest.drawImage(edges, 0, 0, gfx::Sampling::Nearest, &paint);
  Dest.restore();
  Dest.flush();
}

void SharpenSurface(const gfx::Image* Image, gfx::Surface& Surface, int Amount) {
  const double s = std::clamp(Amount, 0, 100) / 100.0;
  const gfx::Image picture = Image && !Image->isEmpty() ? *Image : Surface.snapshot();
  const float edge = float(-s), centre = float(1.0 + 4.0 * s);
  const float kernel[9] = {0.0f, edge, 0.0f, edge, centre, edge, 0.0f, edge, 0.0f};
  const gfx::Image sharp = gfx::MatrixConvolution(picture, QSize(3, 3), kernel, 1.0f, 0.0f,
                                                  QPoint(1, 1), gfx::TileMode::Clamp, false);
  Surface.save();
  Surface.clear(0);
  Surface.drawImage(sharp, 0, 0, gfx::Sampling::Nearest);
  Surface.restore();
  Surface.flush();
}

}  // namespace quillora
