// Watercolor splashes: the picture painted wet in wet with blotches, washes, blooms
// and spatter of colour, each laid along the forms it sits on. The first broad
// splashes flood the whole sheet on a loose grid; smaller ones follow only where the
// painting still strays from the subject, and a splash is kept only when it helps.
// Pigment settling at a splash's rim gives it the light relief of a dried bloom.
#include "effects/painting/watercolor_splashes.h"

#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quillora {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Side of the scratch square: Round(1.5 x 512) + 10, so that the largest splash fits
// turned by any angle; the centre is side div 2.
constexpr int kScratchSide = 778;
constexpr int kReliefStrength = 20;
// A try's value on the first pass over a blank sheet, where every splash is wanted.
constexpr int64_t kFirstPassValue = 100000;

bool HasTransparency(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* r = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if ((r[x] >> 24) != 255) return true;
  }
  return false;
}

struct SplashBrush {
  StrokeBrush brush;
  float angle = 0.0f;  // its principal axis
};

// One sample of the scored grid: the photo and the painting under a scratch pixel.
struct Sample {
  int col;
  uint32_t S, D;
  int e0;  // how far the painting is from the photo there
};

struct SampleRow {
  int row;
  size_t begin, end;  // into the sample list
};

class SplashPainter {
 public:
  SplashPainter(const Image& source, Surface& dest, const TSplashSettings& set,
                const TGradientMap& grad, const std::vector<SplashBrush>& brushes)
      : source_(source),
        dest_(dest),
        set_(set),
        grad_(grad),
        brushes_(brushes),
        w_(source.width()),
        h_(source.height()),
        scratch_(kScratchSide) {
    Refresh();
  }

  // Dest's pixels move when it is written after a snapshot (the snapshot keeps the
  // old ones), so the address is taken again after each.
  void Refresh() {
    dst_ = reinterpret_cast<uint32_t*>(dest_.bits());
    stride_ = dest_.bytesPerLine() / 4;
  }

  uint32_t Dst(int x, int y) const { return dst_[qsizetype(y) * stride_ + x]; }

  void Pass(const TSplashPass& pass, bool firstOnBlank) {
    pass_ = &pass;
    firstOnBlank_ = firstOnBlank;
    const int z = scratch_.centre();
    win0_ = std::max(0, z - pass.HalfExtent);
    win1_ = std::min(kScratchSide - 1, z + pass.HalfExtent);
    if (pass.Grid) {
      const int g = pass.GridStep;
      for (int y = Random(g); y < h_; y += g) {
        CheckCancellation();
        for (int x = Random(g); x < w_; x += g) Splash(x, y);
      }
      return;
    }
    for (int n = 0; n < pass.Strokes; ++n) {
      CheckCancellation();
      // The sampled spot where the painting is furthest from the photo.
      int best = -1, bx = 0, by = 0;
      for (int i = 0; i < set_.SeedSamples; ++i) {
        const int x = Random(w_);
        const int y = Random(h_);
        const int d = PixelDelta(source_.row(y)[x], Dst(x, y));
        if (d > best) {
          best = d;
          bx = x;
          by = y;
        }
      }
      if (best >= pass.SeedThreshold) Splash(bx, by);
    }
  }

 private:
  // Tries brushes and angles for a splash centred on (x, y) and lays the best one, if
  // it helps enough.
  void Splash(int x, int y) {
    const TSplashPass& pass = *pass_;
    const int gy = std::clamp(y * grad_.height / h_, 0, grad_.height - 1);
    const int gx = std::clamp(x * grad_.width / w_, 0, grad_.width - 1);
    const TGradientInfo& cell = grad_.at(gx, gy);
    const uint32_t C = source_.row(y)[x];
    double phi;
    if (cell.Magnitude < 16)
      phi = Random(360) * kPi / 180.0;
    else
      phi = double(cell.Angle) + kPi / 2;  // along the edge, not across it

    // The window's scratch pixels whose picture pixel lies inside the picture.
    const int z = scratch_.centre();
    const int c0 = std::max(win0_, z - x), c1 = std::min(win1_, z + w_ - 1 - x);
    const int r0 = std::max(win0_, z - y), r1 = std::min(win1_, z + h_ - 1 - y);
    if (!firstOnBlank_) Gather(x, y, c0, c1, r0, r1);

    const TintTable tint(C);
    const int count = int(brushes_.size());
    int64_t best = -2147483647;
    int bestBrush = -1;
    double bestTheta = 0.0;
    for (int a = 0; a < pass.Attempts; ++a) {
      const int b = Random(count);
      if (b < 0 || b >= count) continue;
      const double theta =
          phi - double(brushes_[size_t(b)].angle) + (Random(40) - 20) * kPi / 180.0;
      int64_t value = kFirstPassValue;
      if (!firstOnBlank_) {
        const BrushStamp stamp(brushes_[size_t(b)].brush, pass.Size, theta, z, z, set_.Opacity);
        value = Score(stamp, tint, c0, c1);
      }
      if (value > best) {
        best = value;
        bestBrush = b;
        bestTheta = theta;
      }
      if (set_.EarlyStop && value > 2 * pass.Acceptance) break;
    }
    if (bestBrush < 0 || best <= pass.Acceptance) return;

    // Only the window's part over the picture is laid; it is rendered with a margin of
    // one pixel, whose coverage the relief of its rim reads.
    const QRect laid(QPoint(c0, r0), QPoint(c1, r1));
    Render(BrushStamp(brushes_[size_t(bestBrush)].brush, pass.Size, bestTheta, z, z, set_.Opacity),
           tint, laid.adjusted(-1, -1, 1, 1));
    if (pass.Size > 14) ImpastoRelief(scratch_, pass.Size, kReliefStrength);
    CompositeStroke(scratch_, laid, dst_, stride_, x - z, y - z, QRect(0, 0, w_, h_));
  }

  // StrokeScratch::Render limited to `area`.
  void Render(const BrushStamp& stamp, const TintTable& tint, const QRect& area) {
    scratch_.Clear();
    const QRect r =
        stamp.Bounds().intersected(area).intersected(QRect(0, 0, kScratchSide, kScratchSide));
    if (r.isEmpty()) return;
    scratch_.MarkWritten(r);
    for (int y = r.top(); y <= r.bottom(); ++y) {
      int first, last;
      if (!stamp.RowSpan(y, r.left(), r.right(), first, last)) continue;
      uint32_t* row = scratch_.row(y);
      for (int x = first; x <= last; ++x) row[x] = tint.pixel[stamp.CoverageAt(x, y)];
    }
  }

  // The photo and the painting under every scored scratch pixel (on multiples of the
  // sample step), read once per splash: each try only adds its own paint.
  void Gather(int x, int y, int c0, int c1, int r0, int r1) {
    const int z = scratch_.centre(), st = pass_->SampleStep;
    samples_.clear();
    rows_.clear();
    first_ = (c0 + st - 1) / st * st;
    for (int r = (r0 + st - 1) / st * st; r <= r1; r += st) {
      const int iy = y + r - z;
      const uint32_t* srow = source_.row(iy);
      const size_t begin = samples_.size();
      for (int col = first_; col <= c1; col += st) {
        const int ix = x + col - z;
        const uint32_t S = srow[ix], D = Dst(ix, iy);
        samples_.push_back({col, S, D, PixelDelta(S, D)});
      }
      rows_.push_back({r, begin, samples_.size()});
    }
  }

  // value = the sum over the covered samples of e0 - Δ(S, blended), lowered by the
  // first pass's bonus when the painting there is already close to the photo.
  int64_t Score(const BrushStamp& stamp, const TintTable& tint, int c0, int c1) const {
    const int st = pass_->SampleStep;
    int64_t value = 0, sumE0 = 0, covered = 0;
    for (const SampleRow& row : rows_) {
      int first, last;
      if (!stamp.RowSpan(row.row, c0, c1, first, last)) continue;
      const size_t k0 = row.begin + size_t(std::max(0, (first - first_ + st - 1) / st));
      const size_t k1 = std::min(row.end, row.begin + size_t((last - first_) / st) + 1);
      for (size_t k = k0; k < k1; ++k) {
        const Sample& smp = samples_[k];
        const uint32_t P = tint.pixel[stamp.CoverageAt(smp.col, row.row)];
        // A splash leaves much of its square bare: an uncovered sample adds nothing.
        if ((P >> 24) == 0) continue;
        value += smp.e0 - PixelDelta(smp.S, BlendStroke(P, smp.D));
        sumE0 += smp.e0;
        ++covered;
      }
    }
    if (covered > 0 && sumE0 / covered < pass_->SeedThreshold) value -= kFirstPassValue;
    return value;
  }

  const Image& source_;
  Surface& dest_;
  const TSplashSettings& set_;
  const TGradientMap& grad_;
  const std::vector<SplashBrush>& brushes_;
  const int w_, h_;
  StrokeScratch scratch_;
  uint32_t* dst_ = nullptr;
  qsizetype stride_ = 0;
  const TSplashPass* pass_ = nullptr;
  bool firstOnBlank_ = false;
  int win0_ = 0, win1_ = 0;
  int first_ = 0;  // the first sampled column
  std::vector<Sample> samples_;
  std::vector<SampleRow> rows_;
};

void Paint(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
           bool Preview) {
  CheckCancellation();
  const int w = Source.width(), h = Source.height();
  if (w <= 9 || h <= 9 || Dest.width() < w || Dest.height() < h) return;

  bool DoClear = true;
  if (Preview) {
    Dest.clear(0);
  } else {
    // The canvas: white (transparent when the photo has transparency) with "Erase
    // background" on, else the current picture.
    Image probe, base;
    bool erase = true;
    if (!SynchronizeUi([&] {
          EffectHost* host = CurrentHost();
          if (!host) return;
          erase = host->EraseBackgroundChecked();
          if (erase) {
            probe = host->SourceImage();
          } else if (!host->ResultImage().isEmpty()) {
            base = host->ManualBrushBaseImage();
            if (base.isEmpty()) base = host->ResultImage();
          }
        }))
      return;
    DoClear = erase;
    if (erase) {
      Dest.clear(HasTransparency(probe.isEmpty() ? Source : probe) ? 0u : 0xFFFFFFFFu);
    } else {
      Dest.clear(0);
      if (!base.isEmpty()) Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
    const Image shown = Dest.snapshot();
    QueueUi([shown] {
      if (!CancelRequested()) ShowIntermediateImage(shown, 1);
    });
  }
  const bool paintOver = !DoClear;
  const TSplashSettings set = SplashSettings(P1, P2, P3, P4, P5, paintOver);

  CheckCancellation();
  const int gradW = std::min(w, 256);
  // At least one row, also for a picture far wider than high.
  const int gradH = std::max(1, int(RoundRatio(int64_t(h) * gradW, w)));
  const TGradientMap grad = BuildGradientMap(Source, gradW, gradH);

  std::vector<Image> cells;
  if (!SynchronizeUi([&] {
        cells = ExtractSheetBrushes(TForm3::Instance().Picture(QStringLiteral("Brushes")));
      }))
    return;
  std::vector<SplashBrush> brushes;
  brushes.reserve(cells.size());
  for (const Image& cell : cells) {
    // The axis of the body of the splash: faint spatter and bleed at the rim would
    // turn it, and a mark with too little paint has no axis worth following.
    brushes.push_back({StrokeBrush(cell), ComputeBrushAngle(cell, 21, 1000.0)});
  }
  cells.clear();

  SplashPainter painter(Source, Dest, set, grad, brushes);
  const int N = set.LastPass;
  for (int k = 0; k <= N; ++k) {
    CheckCancellation();
    const TSplashPass pass = SplashPass(set, k, paintOver, w, h);
    painter.Pass(pass, k == 0 && DoClear);
    const int p = int(RoundRatio(100 * int64_t(k + 1), N + 1)) + 1;
    if (Preview) {
      SafeUpdatePreview(Dest, p);
    } else {
      const Image shown = Dest.snapshot();
      const int percent = std::min(p, 100);
      QueueUi([shown, percent] {
        if (!CancelRequested()) ShowIntermediateImage(shown, percent);
      });
    }
    painter.Refresh();
  }
  if (!Preview) {
    const Image shown = Dest.snapshot();
    QueueUi([shown] {
      if (!CancelRequested()) ShowIntermediateImage(shown, 101);
    });
  }
}

}  // namespace

TSplashSettings SplashSettings(int P1, int P2, int P3, int P4, int P5, bool paintOver) {
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);
  TSplashSettings s;
  s.MinSize = int(std::clamp<int64_t>(RoundRatio(512 * int64_t(P1), 100), 3, 512));
  P2 = std::max(P2, P1);
  // A splash is never smaller than the smallest brush size, 3 pixels: at 0 it would
  // paint nothing, however long the passes ran over every pixel.
  s.MaxSize = int(std::clamp<int64_t>(RoundRatio(512 * int64_t(P2), 100), 3, 512));
  s.MinSize = std::min(s.MinSize, s.MaxSize);
  if (paintOver) {
    s.MaxSize = std::max(3, (2 * s.MaxSize) / 3);
    s.MinSize = std::min(s.MinSize, s.MaxSize);
  }
  s.GridDivisor = float(std::max(1, P3)) / 15.0f + 0.8f;
  s.LastPass = int(RoundRatio(4 * int64_t(P4), 100)) + 10;
  s.Attempts = P4 < 20 ? 1 : P4 < 50 ? 2 : P4 < 70 ? 3 : P4 < 90 ? 5 : 8;
  s.SeedSamples = P4 > 80 ? 30 : P4 > 50 ? 20 : 10;
  s.EarlyStop = P4 < 75;
  s.LowerThreshold = P4 > 70;
  s.Opacity = std::max(0.1f, float(P5) / 100.0f);
  return s;
}

TSplashPass SplashPass(const TSplashSettings& set, int k, bool paintOver, int w, int h) {
  TSplashPass p;
  const int N = set.LastPass;
  // MinSize + Round((MaxSize - MinSize) f^3) with f = (N - k) / N, exactly.
  const int64_t f = N - k, n3 = int64_t(N) * N * N;
  p.Size = set.MinSize + int(RoundRatio(int64_t(set.MaxSize - set.MinSize) * f * f * f, n3));
  const int64_t s = p.Size;
  p.Grid = 100 * f > 87 * int64_t(N);  // f > 0.87
  p.GridStep = std::max(1, RoundEven(double(float(p.Size) / set.GridDivisor)));
  p.HalfExtent = int(RoundRatio(7 * s, 10)) + 2;
  p.Attempts = set.Attempts + (p.Size > 40 ? 2 : 0);
  const int R =
      int(RoundRatio(50 * int64_t(set.MaxSize - p.Size), std::max(1, set.MaxSize - set.MinSize)));
  p.SeedThreshold = std::max(2, set.LowerThreshold ? R - 7 : R + 3);
  if (paintOver) p.SeedThreshold /= 2;
  p.Acceptance = RoundRatio(s * s, 10);
  if (paintOver) p.Acceptance /= 4;
  p.SampleStep = p.Size > 50 ? 4 : p.Size > 30 ? 3 : 2;
  p.Strokes = int(std::clamp<int64_t>(RoundRatio(3 * int64_t(w) * h, s * s), 200, 30000));
  return p;
}

void NewDirectionalStrokesgood(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                               int P5, bool Preview) {
  if (Source.isEmpty()) return;
  try {
    Paint(Source, Dest, P1, P2, P3, P4, P5, Preview);
  } catch (const EEffectAborted&) {
    // Cancelled: the splashes laid so far stay. CheckCancellation has already told the
    // progress bar.
  }
}

}  // namespace quillora
