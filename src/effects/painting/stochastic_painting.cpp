// Stochastic Painting: a painting built up the way a quick alla prima study is, from a
// few broad, sweeping strokes that block in the masses down to a flurry of small ones
// that bring back the detail. Every stroke is a single curved mark of a loaded brush,
// laid along the forms in the colour under it, and it stays on the canvas only if it
// brings the picture closer to the subject; otherwise a few other marks are tried in
// its place.
#include "effects/painting/stochastic_painting.h"

#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace quillora {

namespace {

constexpr double kPi = 3.14159265358979323846;

inline int ColourDistance(uint32_t a, uint32_t b) {
  return std::abs(int(gfx::RedOf(a)) - int(gfx::RedOf(b))) +
         std::abs(int(gfx::GreenOf(a)) - int(gfx::GreenOf(b))) +
         std::abs(int(gfx::BlueOf(a)) - int(gfx::BlueOf(b)));
}

bool HasTransparentPixel(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* row = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if (gfx::AlphaOf(row[x]) != 255) return true;
  }
  return false;
}

struct AtlasBrush {
  stochastic_painting::TTestBrush test;
  StrokeBrush stamp;   // for drawing
  float angle = 0.0f;  // ComputeBrushAngle
};

std::vector<AtlasBrush> CutBrushes(const Image& atlas) {
  using namespace stochastic_painting;
  std::vector<AtlasBrush> brushes(static_cast<size_t>(kBrushCount));
  // White, with 1 - luminance as coverage: the dark strokes become paint.
  const gfx::ColorMatrixValues coverage = {0, 0, 0, 0, 1, 0,       0,       0,       0, 1,
                                           0, 0, 0, 0, 1, -0.299f, -0.587f, -0.114f, 0, 1};
  const Image cov = gfx::ColorMatrix(atlas, coverage);
  for (int k = 0; k < kBrushCount; ++k) {
    Surface cell(kBrushSide, kBrushSide);
    cell.clear(0);
    cell.drawImageRect(cov,
                       QRectF(kBrushSide * (k % 5), kBrushSide * (k / 5), kBrushSide, kBrushSide),
                       QRectF(0, 0, kBrushSide, kBrushSide), gfx::Sampling::Cubic);
    const Image brush = cell.snapshot();
    AtlasBrush& b = brushes[size_t(k)];
    b.angle = ComputeBrushAngle(brush);
    b.stamp = StrokeBrush(brush);
    b.test = MakeTestBrush(brush);
  }
  return brushes;
}

// The brushes of the last atlas cut. Cutting takes longer than painting a preview, and
// the atlas is an immutable picture, so every run of the same atlas shares one cut.
std::shared_ptr<const std::vector<AtlasBrush>> BrushesOf(const Image& atlas) {
  static std::mutex mutex;
  static uint64_t cachedId = 0;
  static std::shared_ptr<const std::vector<AtlasBrush>> cached;
  std::lock_guard lock(mutex);
  if (!cached || cachedId != atlas.uniqueId()) {
    cached = std::make_shared<const std::vector<AtlasBrush>>(CutBrushes(atlas));
    cachedId = atlas.uniqueId();
  }
  return cached;
}

}  // namespace

TStochasticSettings StochasticPaintingSettings(int w, int h, int P1, int P2, int P3, int P4,
                                               int P5) {
  TStochasticSettings s;
  s.MinSize = std::clamp(2 * P1, 5, 250);
  s.MaxSize = std::clamp(2 * P2, 10, 250);
  if (s.MaxSize < s.MinSize) std::swap(s.MinSize, s.MaxSize);
  s.Precision = std::clamp(P4, 1, 100);
  // Round((w h div 400) (1.5 P3 + 5) k), exactly: (3 P3 + 10) / 2, and k = 3/4 when
  // the precision is above 80.
  const int64_t cells = int64_t(w) * int64_t(h) / 400;
  const int64_t perCell = std::max<int64_t>(0, 3 * int64_t(P3) + 10);
  s.StrokeCount =
      s.Precision > 80 ? RoundRatio(cells * perCell * 3, 8) : RoundRatio(cells * perCell, 2);
  s.TestStep = std::max(1, 10 - s.Precision / 10);
  if (P3 > 60) s.TestStep = std::max(s.TestStep, 2);
  if (P3 > 85) s.TestStep = std::max(s.TestStep, 3);
  s.Attempts = s.Precision / 10 + 1;
  if (P3 > 50) s.Attempts = std::min(s.Attempts, 5);
  if (P3 > 80) s.Attempts = std::min(s.Attempts, 2);
  s.Opacity = int(std::clamp<int64_t>(RoundRatio(255 * int64_t(P5), 100), 20, 255));
  return s;
}

float StochasticStrokeSize(const TStochasticSettings& s, int64_t i) {
  const float t = 1.0f - float(i) / float(std::max<int64_t>(1, s.StrokeCount));
  return float(s.MinSize) + float(s.MaxSize - s.MinSize) * (t * t * t);
}

namespace stochastic_painting {

const TDirectionCell& TDirectionMap::CellOf(int x, int y, int w, int h) const {
  const int gx = std::clamp(int(int64_t(x) * width / std::max(1, w)), 0, width - 1);
  const int gy = std::clamp(int(int64_t(y) * height / std::max(1, h)), 0, height - 1);
  return cells[size_t(gy) * size_t(width) + size_t(gx)];
}

TDirectionMap BuildDirectionMap(const Image& source) {
  TDirectionMap map;
  if (source.isEmpty()) return map;
  const int w = source.width(), h = source.height();
  map.width = std::min(w, 256);
  // At least one row: a wide strip would otherwise round to no cells at all.
  map.height = std::max(1, int(RoundRatio(int64_t(h) * map.width, w)));
  map.cells.assign(size_t(map.width) * size_t(map.height), TDirectionCell{});
  const Image small = ScaleImageMedium(source, map.width, map.height);
  for (int y = 1; y <= map.height - 2; ++y) {
    const uint32_t* T = small.row(y - 1);
    const uint32_t* M = small.row(y);
    const uint32_t* B = small.row(y + 1);
    for (int x = 1; x <= map.width - 2; ++x) {
      auto red = [](uint32_t p) { return int(gfx::RedOf(p)); };
      const int TL = red(T[x - 1]), TC = red(T[x]), TR = red(T[x + 1]);
      const int ML = red(M[x - 1]), MR = red(M[x + 1]);
      const int BL = red(B[x - 1]), BC = red(B[x]), BR = red(B[x + 1]);
      const int gx = 2 * MR + TR + BR - 2 * ML - TL - BL;
      const int gy = 2 * BC + BL + BR - 2 * TC - TL - TR;
      TDirectionCell& cell = map.cells[size_t(y) * size_t(map.width) + size_t(x)];
      cell.Magnitude = uint8_t(std::min(255, std::abs(gx) + std::abs(gy)));
      cell.Angle = std::atan2(float(gy), float(gx)) + float(kPi / 2);
    }
  }
  return map;
}

TTestBrush MakeTestBrush(const Image& brush) {
  TTestBrush b;
  b.coverage.assign(size_t(kBrushSide) * kBrushSide, 0);
  b.covered.assign(size_t(kBrushSide) * 4, 0);
  const int w = std::min(brush.width(), kBrushSide), h = std::min(brush.height(), kBrushSide);
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = brush.row(y);
    for (int x = 0; x < w; ++x) {
      const uint32_t a = gfx::AlphaOf(row[x]);
      b.coverage[size_t(y) * kBrushSide + size_t(x)] = uint8_t(a);
      if (a > 10) b.covered[size_t(y) * 4 + size_t(x / 64)] |= uint64_t(1) << (x % 64);
    }
  }
  return b;
}

int64_t StrokeGain(const TStrokeTest& test, const TTestBrush& brush, int x, int y, float s,
                   double theta, uint32_t C, int t) {
  const float half = s / 2.0f;
  const int reach = int(std::ceil(1.414 * double(half)));
  t = std::max(1, t);
  // The first multiple of t at or after v >= 0.
  auto onGrid = [t](int v) { return (v + t - 1) / t * t; };
  const int c0 = onGrid(std::max(0, x - reach)), c1 = std::min(test.w - 1, x + reach);
  const int r0 = onGrid(std::max(0, y - reach)), r1 = std::min(test.h - 1, y + reach);
  if (c0 > c1 || r0 > r1) return 0;
  // Box pixel -> brush cell: turned back by theta about the stroke's centre and
  // scaled from the stroke's size to the cell's 250 pixels. The column and row
  // products are taken once each; every sample then adds them in the written order,
  // so the result is that of the plain formula.
  const double cs = std::cos(-theta), sn = std::sin(-theta);
  const double k = double(kBrushSide) / double(s);
  thread_local std::vector<double> colCos, colSin;
  const int columns = (c1 - c0) / t + 1;
  colCos.resize(size_t(columns));
  colSin.resize(size_t(columns));
  for (int j = 0; j < columns; ++j) {
    const double dx = c0 + j * t - x;
    colCos[size_t(j)] = dx * cs;
    colSin[size_t(j)] = dx * sn;
  }
  // Adding and taking away 1.5 x 2^52 rounds a double of magnitude below 2^51 to the
  // nearest integer, ties to even, as nearbyint does in the default rounding mode.
  constexpr double kRound = 6755399441055744.0;
  const uint64_t* covered = brush.covered.data();
  const uint8_t* coverage = brush.coverage.data();
  const uint32_t opaqueC = C | 0xFF000000u;
  const uint32_t K_R = gfx::RedOf(C), K_G = gfx::GreenOf(C), K_B = gfx::BlueOf(C);
  int64_t gain = 0;
  for (int r = r0; r <= r1; r += t) {
    const uint32_t* srow = test.src + ptrdiff_t(r) * test.srcStride;
    const uint32_t* drow = test.dst + ptrdiff_t(r) * test.dstStride;
    const double dy = r - y;
    const double rowSin = dy * sn, rowCos = dy * cs;
    for (int j = 0, c = c0; j < columns; ++j, c += t) {
      const double fu = (colCos[size_t(j)] - rowSin) * k + 125.0;
      const double fv = (colSin[size_t(j)] + rowCos) * k + 125.0;
      if (!(fu >= -0.5 && fu <= 250.5 && fv >= -0.5 && fv <= 250.5)) continue;
      const int u = int((fu + kRound) - kRound);
      const int v = int((fv + kRound) - kRound);
      if (u < 0 || v < 0 || u >= kBrushSide || v >= kBrushSide) continue;
      if ((covered[size_t(v) * 4 + size_t(u >> 6)] >> (u & 63) & 1) == 0) continue;
      const int a = coverage[size_t(v) * kBrushSide + size_t(u)];
      const uint32_t S = srow[c];
      if (test.HasTransparency && gfx::AlphaOf(S) <= 9) continue;
      const int K = a * test.Opacity / 255;
      const uint32_t D = drow[c];
      uint32_t P;
      if (K == 0) {
        P = D;
      } else if (K == 255) {
        P = opaqueC;
      } else {
        const uint32_t k1 = uint32_t(K), k0 = uint32_t(255 - K);
        P = gfx::PackArgb(255, (K_R * k1 + gfx::RedOf(D) * k0) / 255,
                          (K_G * k1 + gfx::GreenOf(D) * k0) / 255,
                          (K_B * k1 + gfx::BlueOf(D) * k0) / 255);
      }
      gain += ColourDistance(S, D) - ColourDistance(S, P);
    }
  }
  return gain;
}

}  // namespace stochastic_painting

using namespace stochastic_painting;

void StochasticPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview) {
  if (Source.isEmpty() || Dest.width() <= 0 || Dest.height() <= 0) return;
  CheckCancellation();
  const int w = std::min(Source.width(), Dest.width()),
            h = std::min(Source.height(), Dest.height());
  const TStochasticSettings set = StochasticPaintingSettings(w, h, P1, P2, P3, P4, P5);
  const bool HasTransparency = HasTransparentPixel(Source);

  // The canvas: white for a preview; for a full render white (a white silhouette of the
  // picture when it has transparency) with "Erase background" on, else the current
  // picture to paint over.
  if (Preview) {
    Dest.clear(0xFFFFFFFFu);
  } else {
    bool DoClear = true;
    Image base;
    SynchronizeUi([&] {
      EffectHost* host = CurrentHost();
      if (!host) return;
      DoClear = host->EraseBackgroundChecked();
      if (!DoClear && !host->ResultImage().isEmpty()) {
        base = host->ManualBrushBaseImage();
        if (base.isEmpty()) base = host->ResultImage();
      }
    });
    if (DoClear) {
      if (HasTransparency) {
        // The silhouette of the picture being painted. (The photo of the main window
        // can differ from it in a script or a manual-brush region, and would then
        // not fit.)
        Dest.clear(0);
        for (int y = 0; y < h; ++y) {
          const uint32_t* s = Source.row(y);
          uint32_t* d = Dest.row(y);
          for (int x = 0; x < w; ++x) d[x] = gfx::AlphaOf(s[x]) != 0 ? 0xFFFFFFFFu : 0u;
        }
      } else {
        Dest.clear(0xFFFFFFFFu);
      }
    } else if (!base.isEmpty()) {
      Dest.clear(0);
      Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
  }
  Dest.flush();

  uint32_t* dest = reinterpret_cast<uint32_t*>(Dest.bits());
  const int destStride = int(Dest.bytesPerLine() / 4);
  CheckCancellation();

  const TDirectionMap directions = BuildDirectionMap(Source);
  CheckCancellation();
  Image BrushSheet;
  SynchronizeUi(
      [&] { BrushSheet = TForm3::Instance().Picture(QStringLiteral("TemplateMatchingBrushes")); });

  std::shared_ptr<const std::vector<AtlasBrush>> cut;
  if (!BrushSheet.isEmpty()) cut = BrushesOf(BrushSheet);
  BrushSheet = Image();
  static const std::vector<AtlasBrush> kNone;
  const std::vector<AtlasBrush>& brushes = cut ? *cut : kNone;

  const int64_t n = brushes.empty() ? 0 : set.StrokeCount;
  const int64_t progressInterval = std::max<int64_t>(100, n / 100);
  uint32_t lastUpdate = TickCount();
  const float opacity = float(set.Opacity) / 255.0f;
  // Room for the largest stroke turned by any angle, with a margin for the stamp's
  // slack.
  StrokeScratch scratch(int(std::ceil(1.415 * set.MaxSize)) + 8);
  const int z = scratch.centre();
  TStrokeTest test;
  test.src = Source.row(0);
  test.srcStride = int(Source.bytesPerLine() / 4);
  test.dstStride = destStride;
  test.w = w;
  test.h = h;
  test.HasTransparency = HasTransparency;
  test.Opacity = set.Opacity;

  for (int64_t i = 0; i < n; ++i) {
    if (i % 500 == 0) CheckCancellation();
    const float s = StochasticStrokeSize(set, i);
    const int x = Random(w);
    const int y = Random(h);
    const uint32_t C = Source.row(y)[x];
    if (!(HasTransparency && gfx::AlphaOf(C) <= 9)) {
      const TDirectionCell& cell = directions.CellOf(x, y, w, h);
      const double phi = cell.Magnitude < 16 ? 2.0 * kPi * RandomFloat() : double(cell.Angle);
      const int t = s > 20.0f ? set.TestStep : 1;
      test.dst = dest;
      for (int attempt = 1; attempt <= set.Attempts; ++attempt) {
        const int b = Random(kBrushCount);
        const double spread = attempt == 1 ? 0.2 : 0.3;
        const double theta =
            phi - double(brushes[size_t(b)].angle) + (RandomFloat() - 0.5) * spread;
        if (StrokeGain(test, brushes[size_t(b)].test, x, y, s, theta, C, t) <= 0) continue;
        // The source colour with the brush's coverage, at the paint's opacity.
        scratch.Render(BrushStamp(brushes[size_t(b)].stamp, s, theta, z, z, opacity), C);
        CompositeStroke(scratch, scratch.dirty(), dest, destStride, x - z, y - z,
                        QRect(0, 0, w, h));
        break;
      }
    }

    if (i % progressInterval == 0) {
      const uint32_t now = TickCount();
      const int percent = int(RoundRatio(100 * i, n));
      if (!Preview && uint32_t(now - lastUpdate) > 200) {
        lastUpdate = now;
        const Image Snap = Dest.snapshot();
        QueueUi([Snap, percent] {
          if (!CancelRequested()) ShowIntermediateImage(Snap, percent);
        });
        dest = reinterpret_cast<uint32_t*>(Dest.bits());
      } else if (Preview && uint32_t(now - lastUpdate) > 100) {
        lastUpdate = now;
        SafeUpdatePreview(Dest, percent);
        dest = reinterpret_cast<uint32_t*>(Dest.bits());
      }
    }
  }

  Dest.flush();
  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    const Image FinalSnap = Dest.snapshot();
    QueueUi([FinalSnap] {
      if (CancelRequested()) return;
      ShowIntermediateImage(FinalSnap, 101);
      if (EffectHost* host = CurrentHost()) host->RedrawMainView();
    });
  }
}

}  // namespace quillora
