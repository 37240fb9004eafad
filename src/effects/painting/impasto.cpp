// Impasto brushstrokes: the picture repainted in thick, loaded strokes of a bristle
// brush, each in the colour of the spot it covers and laid along the forms. Broad
// strokes block in the masses first, smaller ones follow, and the last passes go back
// only where the painting still strays from the subject. A stroke is kept only when
// it brings the painting closer to the photograph, and every stroke above 15 pixels
// catches the light on its ridges and grooves like paint standing off the canvas.
#include "effects/painting/impasto.h"

#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/pixel.h"

#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace quillora {

namespace {

constexpr int kImpastoStrength = 30;
constexpr double kPi = 3.14159265358979323846;

// Rows of the shared pictures per lock: composites of neighbouring bands that reach
// the same rows take turns, so that no composite's read-modify-write of a pixel is
// lost under another's.
constexpr int kLockRows = 16;

bool HasTransparency(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* r = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if ((r[x] >> 24) != 255) return true;
  }
  return false;
}

// Holds the locks of the rows [first, last], always taken in ascending order so that
// two composites can never wait on each other.
class RowLocks {
 public:
  RowLocks(std::vector<std::mutex>& locks, int first, int last) : locks_(locks) {
    first_ = std::max(0, first / kLockRows);
    last_ = std::min(int(locks.size()) - 1, last / kLockRows);
    for (int i = first_; i <= last_; ++i) locks_[size_t(i)].lock();
  }
  ~RowLocks() {
    for (int i = last_; i >= first_; --i) locks_[size_t(i)].unlock();
  }
  RowLocks(const RowLocks&) = delete;
  RowLocks& operator=(const RowLocks&) = delete;

 private:
  std::vector<std::mutex>& locks_;
  int first_ = 0, last_ = -1;
};

// Stops the band workers. Only the effect's own thread may ask the runner (its run
// context lives there); it passes the answer on to the pool threads through `stop`.
struct CancelProbe {
  std::atomic<bool> stop{false};
  bool Poll(bool onEffectThread) {
    if (onEffectThread && !stop.load(std::memory_order_relaxed) && EffectCancelled())
      stop.store(true, std::memory_order_relaxed);
    return stop.load(std::memory_order_relaxed);
  }
};

// Runs fn(band, onEffectThread) for band = 0 .. count - 1: the calling (effect)
// thread and up to count - 1 threads of the global pool take bands until none is
// left; the effect thread then waits for the rest, asking for cancellation every
// few milliseconds on their behalf. The first exception of a band is rethrown here.
void RunBands(int count, CancelProbe& probe, const std::function<void(int, bool)>& fn) {
  struct Shared {
    std::atomic<int> next{0};
    int count = 0;
    const std::function<void(int, bool)>* fn = nullptr;
    CancelProbe* probe = nullptr;
    std::mutex m;
    std::condition_variable cv;
    int finished = 0;  // guarded by m
    std::exception_ptr error;
  };
  // Shared by the helpers, which may start after every band is done and must then
  // find nothing to do rather than a dead frame.
  auto shared = std::make_shared<Shared>();
  shared->count = count;
  shared->fn = &fn;
  shared->probe = &probe;
  auto work = [](Shared& s, bool onEffectThread) {
    for (;;) {
      const int band = s.next.fetch_add(1);
      if (band >= s.count) return;
      try {
        (*s.fn)(band, onEffectThread);
      } catch (...) {
        s.probe->stop.store(true);
        std::lock_guard lock(s.m);
        if (!s.error) s.error = std::current_exception();
      }
      std::lock_guard lock(s.m);
      ++s.finished;
      s.cv.notify_all();
    }
  };
  for (int i = 1; i < count; ++i)
    QThreadPool::globalInstance()->start([shared, work] { work(*shared, false); });
  work(*shared, true);
  std::unique_lock lock(shared->m);
  while (shared->finished < count) {
    shared->cv.wait_for(lock, std::chrono::milliseconds(2));
    lock.unlock();
    probe.Poll(true);
    lock.lock();
  }
  if (shared->error) std::rethrow_exception(shared->error);
}

struct Brushes {
  std::vector<StrokeBrush> unique;      // one per distinct picture
  std::vector<const StrokeBrush*> set;  // kBrushCount entries
  std::vector<float> angles;            // BrushAngles
};

Brushes PrepareBrushes(const gfx::Image& sheet, int count) {
  Brushes b;
  TBrushSet cells = ExtractCountedBrushes(sheet, count);
  // Cells beyond the sheet share one blank picture; it is prepared once.
  std::map<uint64_t, size_t> seen;
  std::vector<size_t> index(cells.images.size());
  for (size_t i = 0; i < cells.images.size(); ++i) {
    const gfx::Image& img = cells.images[i];
    const uint64_t id = img.isNull() ? 0 : img.uniqueId();
    auto it = seen.find(id);
    if (it == seen.end()) {
      it = seen.emplace(id, b.unique.size()).first;
      b.unique.emplace_back(img);
    }
    index[i] = it->second;
  }
  for (size_t i = 0; i < index.size(); ++i) b.set.push_back(&b.unique[index[i]]);
  b.angles = std::move(cells.angles);
  return b;
}

// Everything the band workers of one pass share. The work source, the gradient map
// and the brushes are only read; the work destination and Dest are written only by
// CompositeStroke under the row locks and read with whole-word atomic loads.
struct PassContext {
  const TImpastoSettings* set = nullptr;
  TImpastoPass pass;
  bool SkipCheck = false;
  int threadCount = 1;
  const uint32_t* workSrc = nullptr;
  qsizetype workSrcStride = 0;  // in pixels
  uint32_t* workDst = nullptr;  // WorkW x WorkH, rows WorkW apart
  uint32_t* dest = nullptr;     // Dest's pixels
  qsizetype destStride = 0;     // in pixels
  int destW = 0, destH = 0;
  const TGradientMap* grad = nullptr;
  const Brushes* brushes = nullptr;
  std::vector<std::mutex>* workLocks = nullptr;
  std::vector<std::mutex>* destLocks = nullptr;
  CancelProbe* probe = nullptr;
};

struct Sample {
  int col;
  uint32_t S, D;
  int e0;
};

struct SampleRow {
  int row;
  size_t begin, end;  // into the sample list
};

class BandWorker {
 public:
  BandWorker(const PassContext& c, int band, bool onEffectThread)
      : c_(c),
        set_(*c.set),
        p_(c.pass),
        onEffectThread_(onEffectThread),
        scratch_(set_.ScratchSize) {
    const int m = set_.WorkH / c.threadCount;
    y0_ = band * m;
    y1_ = band == c.threadCount - 1 ? set_.WorkH : y0_ + m;
    const int z = scratch_.centre();
    win0_ = std::max(0, z - p_.ScanLimit);
    win1_ = std::min(scratch_.side() - 1, z + p_.ScanLimit);
  }

  void Run() {
    if (y0_ >= y1_) return;
    if (p_.IsStochastic) CollectTiles();
    for (int layer = 1; layer <= p_.DensityLayers; ++layer) {
      if (c_.probe->Poll(onEffectThread_)) return;
      if (p_.IsStochastic)
        Scatter();
      else
        Grid(layer);
    }
  }

 private:
  struct Tile {
    int left, top, width, height;
  };

  uint32_t Src(int x, int y) const { return c_.workSrc[qsizetype(y) * c_.workSrcStride + x]; }
  uint32_t Dst(int x, int y) const {
    return LoadSharedPixel(&c_.workDst[qsizetype(y) * set_.WorkW + x]);
  }
  const TGradientInfo* Cell(int x, int y) const {
    const int gx = x * c_.grad->width / set_.WorkW, gy = y * c_.grad->height / set_.WorkH;
    if (gx < 0 || gy < 0 || gx >= c_.grad->width || gy >= c_.grad->height) return nullptr;
    return &c_.grad->at(gx, gy);
  }

  // Tiles of the band where the painting is still far from the source.
  void CollectTiles() {
    const int d = std::max(32, p_.WorkBrushSize);
    for (int top = y0_; top < y1_; top += d) {
      const int height = std::min(d, y1_ - top);
      for (int left = 0; left < set_.WorkW; left += d) {
        const int width = std::min(d, set_.WorkW - left);
        int64_t sum = 0, count = 0;
        for (int y = (top + 3) / 4 * 4; y < top + height; y += 4)
          for (int x = (left + 3) / 4 * 4; x < left + width; x += 4) {
            const uint32_t s = Src(x, y), t = Dst(x, y);
            sum += std::abs(int(gfx::RedOf(s)) - int(gfx::RedOf(t))) +
                   std::abs(int(gfx::GreenOf(s)) - int(gfx::GreenOf(t))) +
                   std::abs(int(gfx::BlueOf(s)) - int(gfx::BlueOf(t)));
            ++count;
          }
        if (count > 0 && sum > int64_t(set_.SkipLimit) * count)
          tiles_.push_back({left, top, width, height});
      }
    }
  }

  void Scatter() {
    const int64_t s2 = std::max<int64_t>(1, int64_t(p_.WorkBrushSize) * p_.WorkBrushSize);
    const int bandH = y1_ - y0_;
    const int64_t T = std::clamp<int64_t>(
        RoundRatio(int64_t(set_.WorkW) * bandH * set_.DensityPer10000, 10000 * s2), 1, 100000);
    int64_t tries = 0, accepted = 0;
    while (tries <= 20 * T && accepted < T) {
      if (c_.probe->Poll(onEffectThread_)) return;
      ++tries;
      int x, y;
      bool fromTile = false;
      if (!tiles_.empty() && Random(100) < 80) {
        const Tile& t = tiles_[size_t(Random(int32_t(tiles_.size())))];
        x = t.left + Random(std::max(1, t.width));
        y = t.top + Random(std::max(1, t.height));
        fromTile = true;
      } else {
        y = y0_ + Random(bandH);
        x = Random(set_.WorkW);
      }
      if (y < y0_ || y >= y1_ || x < 0 || x >= set_.WorkW) continue;
      const int delta = PixelDelta(Src(x, y), Dst(x, y));
      int p;
      if (fromTile) {
        p = delta < 31 ? 100 : 300;
      } else {
        const TGradientInfo* cell = Cell(x, y);
        const int M = cell ? cell->Magnitude : 0;
        p = M;
        if (delta > set_.SkipLimit + 20)
          p = 300;
        else if (set_.SkipLimit < delta && p < 100)
          p = 120;
        if (delta < set_.SkipLimit && M < 20) p = 5;
      }
      if (Random(255) < std::min(255, p)) {
        ++accepted;
        Stroke(x, y, false);
      }
    }
  }

  void Grid(int layer) {
    const int g = p_.GridStep;
    int ox = 0, oy = 0;
    if (layer > 1) {
      ox = Random(g);
      oy = Random(g);
    }
    int y = y0_ + Random(g / 2) + oy;
    int x = Random(g / 2) + ox;
    while (y < y1_) {
      if (x >= set_.WorkW) {
        y += g;
        x = Random(g / 2);
        continue;
      }
      if (c_.probe->Poll(onEffectThread_)) return;
      Stroke(x, y, true);
      x += g;
    }
  }

  // Tries brushes and angles for a stroke centred on work pixel (x, y) and lays the
  // best one, if it helps enough, on the work picture and at full size on Dest.
  void Stroke(int x, int y, bool grid) {
    const uint32_t S = Src(x, y);
    if (gfx::AlphaOf(S) <= 9) return;
    if (grid && !c_.SkipCheck && PixelDelta(S, Dst(x, y)) < set_.SkipLimit) return;

    float angle;
    const TGradientInfo* cell = Cell(x, y);
    if (!cell || cell->Magnitude < 16)
      angle = float(2.0 * kPi * RandomFloat());
    else
      angle = cell->Angle + float(kPi / 2);  // along the edge, not across it

    // The scored window: the scratch window kept inside the work picture, its first
    // row and column on the sampling grid.
    const int z = scratch_.centre(), step = p_.CheckStep;
    int r0 = std::max(win0_, z - y), r1 = std::min(win1_, z + set_.WorkH - 1 - y);
    int c0 = std::max(win0_, z - x), c1 = std::min(win1_, z + set_.WorkW - 1 - x);
    r0 = (r0 + step - 1) / step * step;
    c0 = (c0 + step - 1) / step * step;
    if (r0 > r1 || c0 > c1) return;
    GatherSamples(x, y, r0, r1, c0, c1);

    const Brushes& b = *c_.brushes;
    const int count = int(b.set.size());
    const double s = p_.WorkBrushSize;
    const TintTable tint(S);
    int64_t best = INT32_MIN;
    int bestBrush = -1;
    float bestAngle = 0.0f;
    for (int r = 0; r < p_.CurrentRefineCount; ++r) {
      const int i = Random(count);
      if (i < 0 || i >= count || b.set[size_t(i)]->isMissing()) continue;
      // A brush without coverage scores nothing and can never be chosen.
      if (b.set[size_t(i)]->isBlank()) continue;
      for (int j = -p_.CurrentSideSteps; j <= p_.CurrentSideSteps; ++j) {
        const float a = angle - b.angles[size_t(i)] + float(j) * float(kPi / 36);
        const BrushStamp stamp(*b.set[size_t(i)], s, a, z, z, set_.GlobalOpacity);
        int64_t gain = 0, err = 0, n = 0;
        Score(stamp, tint, c0, c1, gain, err, n);
        const int64_t score = gain - 2 * (n > 0 ? err / n : int64_t(INT_MAX));
        if (gain > p_.Threshold && score > best) {
          best = score;
          bestBrush = i;
          bestAngle = a;
        }
      }
    }
    if (bestBrush < 0) return;

    const StrokeBrush& brush = *b.set[size_t(bestBrush)];
    const int c = p_.CurrentBrushSize;
    scratch_.Render(BrushStamp(brush, s, bestAngle, z, z, set_.GlobalOpacity), S);
    if (c > 15) ImpastoRelief(scratch_, c, kImpastoStrength);
    {
      RowLocks lock(*c_.workLocks, y + r0 - z, y + r1 - z);
      CompositeStroke(scratch_, QRect(QPoint(c0, r0), QPoint(c1, r1)), c_.workDst, set_.WorkW,
                      x - z, y - z, QRect(0, 0, set_.WorkW, set_.WorkH));
    }

    // At full size; with a work picture of the source's own size the stroke just
    // rendered is that stroke already.
    const int sf = set_.ScaleFactor;
    if (sf != 1) {
      scratch_.Render(BrushStamp(brush, c, bestAngle, z, z, set_.GlobalOpacity), S);
      if (c > 15) ImpastoRelief(scratch_, c, kImpastoStrength);
    }
    const int hs = int(RoundRatio(7 * int64_t(c), 10)) + 2;
    const int fx = sf * x, fy = sf * y;
    RowLocks lock(*c_.destLocks, fy - hs, fy + hs);
    CompositeStroke(scratch_, QRect(QPoint(z - hs, z - hs), QPoint(z + hs, z + hs)), c_.dest,
                    c_.destStride, fx - z, fy - z, QRect(0, 0, c_.destW, c_.destH));
  }

  // The source and painting pixels under every scored scratch pixel, read once per
  // stroke: each try only adds its own paint.
  void GatherSamples(int x, int y, int r0, int r1, int c0, int c1) {
    const int z = scratch_.centre(), step = p_.CheckStep;
    samples_.clear();
    rows_.clear();
    for (int r = r0; r <= r1; r += step) {
      const int iy = y + r - z;
      const size_t begin = samples_.size();
      for (int col = c0; col <= c1; col += step) {
        const int ix = x + col - z;
        const uint32_t S = Src(ix, iy), D = Dst(ix, iy);
        samples_.push_back({col, S, D, PixelDelta(S, D)});
      }
      rows_.push_back({r, begin, samples_.size()});
    }
  }

  void Score(const BrushStamp& stamp, const TintTable& tint, int c0, int c1, int64_t& gain,
             int64_t& err, int64_t& n) const {
    const int step = p_.CheckStep;
    for (const SampleRow& row : rows_) {
      int first, last;
      if (!stamp.RowSpan(row.row, c0, c1, first, last)) continue;
      const size_t k0 = row.begin + size_t((first - c0 + step - 1) / step);
      const size_t k1 = std::min(row.end, row.begin + size_t((last - c0) / step) + 1);
      for (size_t k = k0; k < k1; ++k) {
        const Sample& smp = samples_[k];
        const int cov = stamp.CoverageAt(smp.col, row.row);
        // Without branches: a pixel the stroke leaves untouched (P = 0) blends to D
        // itself and gains nothing; it is only kept out of err and n.
        const uint32_t P = tint.pixel[cov];
        const int e1 = PixelDelta(smp.S, BlendStroke(P, smp.D));
        const int painted = int((P >> 24) != 0);
        gain += smp.e0 - e1;
        err += e1 & -painted;
        n += painted;
      }
    }
  }

  const PassContext& c_;
  const TImpastoSettings& set_;
  const TImpastoPass& p_;
  const bool onEffectThread_;
  StrokeScratch scratch_;
  int y0_ = 0, y1_ = 0;
  int win0_ = 0, win1_ = 0;
  std::vector<Tile> tiles_;
  std::vector<Sample> samples_;
  std::vector<SampleRow> rows_;
};

}  // namespace

TImpastoSettings ImpastoSettings(int w, int h, int P1, int P2, int P3, int P4, int P5) {
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  TImpastoSettings s;
  s.MinSize = int(std::clamp<int64_t>(RoundRatio(512 * int64_t(P1), 100), 3, 1024));
  s.MaxSize = int(std::clamp<int64_t>(RoundRatio(512 * int64_t(P2), 100), s.MinSize, 2048));
  s.DensityLayers = P3 < 40 ? 1 : (P3 < 80 ? 2 : 3);
  // (P3 / 100)^2 * 8 + 0.002, exactly, in ten-thousandths.
  s.DensityPer10000 = 8 * int64_t(P3) * P3 + 20;
  s.LastPass = std::clamp(4 * int(RoundRatio(P4, 25)) + 8, 6, 18);
  s.RefineCount = P4 / 10 + 2;
  s.SkipLimit = int(RoundRatio(45 * int64_t(100 - P4), 100)) + 20;
  s.GlobalOpacity = std::max(0.05f, float(std::clamp(P5, 0, 100)) / 100.0f);
  s.ScaleFactor = int64_t(w) * h > 1'920'000 && P4 < 98 ? 2 : 1;
  s.WorkW = std::max(1, w / s.ScaleFactor);
  s.WorkH = std::max(1, h / s.ScaleFactor);
  const int m = std::min(s.MaxSize, std::min(s.WorkW, s.WorkH) / 2);
  s.ScratchSize = int(RoundRatio(3 * int64_t(m), 2)) + 256;
  return s;
}

TImpastoPass ImpastoPass(const TImpastoSettings& s, int k) {
  TImpastoPass p;
  const int N = s.LastPass, n = std::max(1, N);
  // MinSize + Round((MaxSize - MinSize) F^4) with F = (N - k) / max(1, N), exactly.
  const int64_t f = N - k, f4 = f * f * f * f, n4 = int64_t(n) * n * n * n;
  p.CurrentBrushSize = s.MinSize + int(RoundRatio(int64_t(s.MaxSize - s.MinSize) * f4, n4));
  p.WorkBrushSize = std::max(1, p.CurrentBrushSize / s.ScaleFactor);
  const int64_t wb = p.WorkBrushSize;
  p.IsStochastic = 10 * k > 7 * N;
  p.ScanLimit = int(RoundRatio(7 * wb, 10)) + 2;
  p.Threshold = int(RoundRatio(35 * wb * wb, 100));
  p.CheckStep = wb >= 81 ? 5 : wb >= 41 ? 4 : wb >= 21 ? 3 : wb >= 9 ? 2 : 1;
  p.CurrentRefineCount = s.RefineCount;
  p.CurrentSideSteps = 4;
  if (wb < 40) {
    p.CurrentRefineCount = std::max(1, s.RefineCount / 2);
    p.CurrentSideSteps = 1;
  }
  if (wb < 10) {
    p.CurrentRefineCount = 1;
    p.CurrentSideSteps = 0;
  }
  if (p.IsStochastic) {
    p.GridStep = 1;
    p.DensityLayers = 1;
  } else {
    p.GridStep = std::max(2, int(RoundRatio(8 * wb, 10)));
    p.DensityLayers = s.DensityLayers;
  }
  return p;
}

void SystematicPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview) {
  // One processor is left to the interface.
  SystematicPaintingBands(Source, Dest, P1, P2, P3, P4, P5, Preview,
                          std::max(1, QThread::idealThreadCount() - 1));
}

void SystematicPaintingBands(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                             int P5, bool Preview, int ThreadCount) {
  if (Source.isEmpty() || Dest.width() <= 0 || Dest.height() <= 0) return;
  ThreadCount = std::max(1, ThreadCount);

  // The canvas: transparent for a preview; for a full render white (transparent when
  // the photo has transparency) with "Erase background" on, else the current picture.
  bool DoClear = true;
  if (Preview) {
    Dest.clear(0);
  } else {
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
    } else if (!base.isEmpty()) {
      Dest.clear(0);
      Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
  }

  const int w = Source.width(), h = Source.height();
  const TImpastoSettings set = ImpastoSettings(w, h, P1, P2, P3, P4, P5);
  if (w <= 49 || h <= 49) {
    if (!Preview) SafeUpdateProgress(101);
    return;
  }

  // The work pictures: strokes are chosen and scored on them, and only the chosen
  // ones are painted at full size.
  const Image workSrc =
      set.ScaleFactor == 1 ? Source : ScaleImageMedium(Source, set.WorkW, set.WorkH);
  std::vector<uint32_t> workDst(size_t(set.WorkW) * size_t(set.WorkH), 0u);
  if (!DoClear) {
    const Image painted = ScaleImageMedium(Dest.snapshot(), set.WorkW, set.WorkH);
    for (int y = 0; y < set.WorkH; ++y)
      std::copy_n(painted.row(y), set.WorkW, &workDst[size_t(y) * size_t(set.WorkW)]);
  }
  const int gradW = std::min(set.WorkW, 256);
  const int gradH =
      std::max(1, int(RoundRatio(int64_t(set.WorkH) * gradW, std::max(1, set.WorkW))));
  const TGradientMap grad = BuildGradientMap(workSrc, gradW, gradH);

  int kBrushCount = kDefaultBrushCount;
  Image BrushSheet;
  if (!SynchronizeUi([&] {
        if (EffectHost* host = CurrentHost()) kBrushCount = host->GlobalBrushCount();
        BrushSheet = TForm3::Instance().Picture(QStringLiteral("Brushes"));
      }))
    return;
  const Brushes brushes = PrepareBrushes(BrushSheet, kBrushCount);
  BrushSheet = Image();

  std::vector<std::mutex> workLocks(size_t(set.WorkH / kLockRows + 1));
  std::vector<std::mutex> destLocks(size_t(Dest.height() / kLockRows + 1));
  CancelProbe probe;
  PassContext ctx;
  ctx.set = &set;
  ctx.threadCount = ThreadCount;
  ctx.workSrc = workSrc.row(0);
  ctx.workSrcStride = workSrc.bytesPerLine() / 4;
  ctx.workDst = workDst.data();
  ctx.destW = std::min(w, Dest.width());
  ctx.destH = std::min(h, Dest.height());
  ctx.destStride = Dest.bytesPerLine() / 4;
  ctx.grad = &grad;
  ctx.brushes = &brushes;
  ctx.workLocks = &workLocks;
  ctx.destLocks = &destLocks;
  ctx.probe = &probe;

  const int N = set.LastPass, n = std::max(1, N);
  bool cancelled = false;
  for (int k = 0; k <= N; ++k) {
    if (probe.Poll(true)) {
      cancelled = true;
      break;
    }
    ctx.pass = ImpastoPass(set, k);
    ctx.SkipCheck = k == 0 && DoClear;
    // Fetched again for every pass: a snapshot shown meanwhile shares the pixels
    // until the surface is written through its own interface.
    ctx.dest = reinterpret_cast<uint32_t*>(Dest.bits());
    RunBands(ThreadCount, probe,
             [&](int band, bool onEffectThread) { BandWorker(ctx, band, onEffectThread).Run(); });
    if (probe.Poll(true)) {
      cancelled = true;
      break;
    }
    if (Preview) {
      SafeUpdatePreview(Dest, int(RoundRatio(100 * int64_t(k) + n, n)));
    } else {
      const Image shown = Dest.snapshot();
      const int percent = int(RoundRatio(100 * int64_t(k), n));
      QueueUi([shown, percent] {
        if (!CancelRequested()) ShowIntermediateImage(shown, percent);
      });
    }
  }

  if (cancelled) {
    // A preview never owns the progress bar, so only a full render hides it.
    if (!Preview)
      SynchronizeUi([] {
        if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
      });
    return;
  }
  if (!Preview) {
    const Image shown = Dest.snapshot();
    QueueUi([shown] {
      if (!CancelRequested()) ShowIntermediateImage(shown, 101);
    });
  }
}

}  // namespace quillora
