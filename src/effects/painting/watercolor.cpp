// Watercolor: the picture laid down in thousands of flat washes. Each wash starts on
// one spot of the photo and runs outwards, like pigment in wet paper, until it meets
// a different colour; broad washes go down first and small touches of detail last.
// The painting is then softened without losing its edges, its colours lifted a
// little, its contours traced faintly with hatching, and the whole crisped.
#include "effects/painting/watercolor.h"

#include "effects/painting/post_processing.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <emmintrin.h>
#include <sys/mman.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace quillora {

using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::Div255;
using gfx::GreenOf;
using gfx::PackArgb;
using gfx::RedOf;

namespace {

constexpr int kAlphaFloor = 10;  // A0: pixels fainter than this count as empty

// Round to nearest, ties to even. The processor's conversion does exactly that in the
// default rounding mode, which nothing in the program changes; unlike nearbyint it is
// no library call, which counts at millions of spoke probes per picture.
inline int RoundHalfEven(double v) { return _mm_cvtsd_si32(_mm_set_sd(v)); }

// Round(d / 2^k) for d >= 0, ties to even, without a division.
template <int k>
inline int RoundShift(int d) {
  const int q = d >> k, rest = d & ((1 << k) - 1), half = 1 << (k - 1);
  return q + int(rest > half || (rest == half && (q & 1) != 0));
}

// The colour distance before its square root: red-weighted squared differences.
inline int DistanceSquared(uint32_t p, uint32_t q) {
  const int rp = int(RedOf(p)), rq = int(RedOf(q));
  const int rmean = (rp + rq) / 2;
  const int dR = rp - rq, dG = int(GreenOf(p)) - int(GreenOf(q)),
            dB = int(BlueOf(p)) - int(BlueOf(q));
  return ((dR * dR * (rmean + 512)) >> 8) + 4 * dG * dG + (((767 - rmean) * dB * dB) >> 8);
}

inline int Distance(uint32_t p, uint32_t q) {
  if (p == q) return 0;
  const int ap = int(AlphaOf(p)), aq = int(AlphaOf(q));
  if (ap < kAlphaFloor || aq < kAlphaFloor) return (ap < kAlphaFloor && aq < kAlphaFloor) ? 0 : 255;
  const int v = DistanceSquared(p, q);
  // v < 2^20 is exact in single precision, and the square root of an integer stays at
  // least 1.6e-4 away from a rounding boundary k + 0.5 (v would have to be k^2 + k +
  // 1/4), far more than the single-precision error near 766 (3e-5): the rounded root
  // is that of the double-precision root (checked for every v below 2^20), at a lower
  // cost.
  const int d = _mm_cvtss_si32(_mm_sqrt_ss(_mm_set_ss(float(v))));
  if (ap == aq) return d;  // the alpha factor is exactly 1
  const float factor = float(std::abs(ap - aq)) / 255.0f * 0.5f + 1.0f;
  return RoundHalfEven(double(d) * double(factor));
}

// The Gaussian mean of each spoke length and the three on either side, all in single
// precision; the weights depend only on sigma, so they are worked out once per run.
class SpokeSmoother {
 public:
  explicit SpokeSmoother(float sigma) {
    for (int k = -3; k <= 3; ++k) {
      const float t = float(k) / sigma;
      weight_[k + 3] = std::exp(-0.5f * (t * t));
      weightSum_ += weight_[k + 3];
    }
  }

  // `padded` has room for n + 6 values; the means go back into lengths.
  void Apply(int* lengths, int n, int* padded) const {
    // lengths[-3 .. n + 2], circularly, so the window needs no modulo.
    for (int i = 0; i < n + 6; ++i) padded[i] = lengths[((i - 3) % n + n) % n];
    for (int j = 0; j < n; ++j) {
      const int* window = padded + j;
      float sum = 0.0f;
      for (int k = 0; k < 7; ++k) sum += weight_[k] * float(window[k]);
      lengths[j] = RoundHalfEven(double(sum / weightSum_));
    }
  }

 private:
  float weight_[7] = {};
  float weightSum_ = 0.0f;
};

// The premultiplied paint at coverage `cov` (0..255) of the shape.
inline uint32_t CoveredPaint(uint32_t straight, uint32_t paintAlpha, uint32_t cov) {
  const uint32_t a = Div255(paintAlpha * cov);
  return PackArgb(a, Div255(RedOf(straight) * a), Div255(GreenOf(straight) * a),
                  Div255(BlueOf(straight) * a));
}

// ---- polygon coverage --------------------------------------------------------------

// Exact-area anti-aliasing of a closed polygon over a pixel box, one row at a time.
// Every edge deposits, cell by cell, the signed area it leaves to its right; a running
// sum along the row then gives each pixel's coverage. Rows depend only on the edges,
// so they can be computed on any thread in any order with the same result.
// Per-thread working rows of the rasteriser, sized for one box width.
struct RowScratch {
  std::vector<float> acc;  // bw + 2 cells, all zero between rows
  std::vector<std::pair<int, int>> touched;
  // The edges crossing the current row, in the raster's edge order, and the next edge
  // to come in: rows walked downwards only add and drop edges.
  std::vector<uint32_t> active;
  size_t next = 0;
  int lastRow = -2;
  // Makes the scratch ready for a new shape of box width bw.
  void Start(int bw) {
    if (acc.size() < size_t(bw) + 2) acc.assign(size_t(bw) + 2, 0.0f);
    active.clear();
    next = 0;
    lastRow = -2;
  }
};

class PolygonRaster {
 public:
  void Prepare(const double* xs, const double* ys, int n, int bx, int by, int bw, int bh) {
    segs_.clear();
    bw_ = bw;
    bh_ = bh;
    for (int j = 0; j < n; ++j) {
      const int k = j + 1 < n ? j + 1 : 0;
      AddEdge(xs[j] - bx, ys[j] - by, xs[k] - bx, ys[k] - by);
    }
    // By the row where each edge starts. The order is fixed by the shape alone, so a
    // row sums its edges in the same order whichever band computes it.
    std::sort(segs_.begin(), segs_.end(), [](const Segment& a, const Segment& b) {
      return a.ymin < b.ymin || (a.ymin == b.ymin && a.order < b.order);
    });
  }

  int width() const { return bw_; }
  int height() const { return bh_; }

  // Reports the coverage of box row `row` as runs: span(x0, x1, cov) for pixels x0 to
  // x1 - 1, all of coverage cov (0..255), left to right, covering the whole row. Only
  // the cells an edge touches need the running sum; between them the coverage stays
  // as it is, which makes long interiors one run. Rows of one scratch go downwards.
  template <typename SpanFn>
  void Row(int row, RowScratch& scratch, const SpanFn& span) const {
    float* acc = scratch.acc.data();
    auto& touched = scratch.touched;
    touched.clear();
    const double top = row, bottom = row + 1.0;
    if (row != scratch.lastRow + 1) {
      scratch.active.clear();
      scratch.next = 0;
    }
    scratch.lastRow = row;
    while (scratch.next < segs_.size() && segs_[scratch.next].ymin < bottom)
      scratch.active.push_back(uint32_t(scratch.next++));
    std::erase_if(scratch.active, [&](uint32_t i) { return segs_[i].ymax <= top; });
    for (const uint32_t index : scratch.active) {
      const Segment& s = segs_[index];
      double x0 = s.x0, y0 = s.y0, x1 = s.x1, y1 = s.y1, dir = 1.0;
      if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
        dir = -1.0;
      }
      const double dxdy = (x1 - x0) / (y1 - y0);
      const double ya = std::max(y0, top), yb = std::min(y1, bottom);
      const double xa = std::clamp(x0 + (ya - y0) * dxdy, 0.0, double(bw_));
      const double xb = std::clamp(x0 + (yb - y0) * dxdy, 0.0, double(bw_));
      touched.push_back(Deposit(acc, xa, xb, (yb - ya) * dir));
    }
    // A handful of edges per row, nearly in order already: insertion sort.
    for (size_t a = 1; a < touched.size(); ++a) {
      const std::pair<int, int> t = touched[a];
      size_t b = a;
      for (; b > 0 && t < touched[b - 1]; --b) touched[b] = touched[b - 1];
      touched[b] = t;
    }
    float sum = 0.0f;
    int x = 0;
    for (const auto& [lo, hiIn] : touched) {
      const int hi = std::min(hiIn, bw_ - 1);
      if (hi < x) continue;
      if (x < lo) {
        span(x, lo, Coverage(sum));
        x = lo;
      }
      for (; x <= hi; ++x) {
        sum += acc[x];
        acc[x] = 0.0f;
        span(x, x + 1, Coverage(sum));
      }
    }
    if (x < bw_) span(x, bw_, Coverage(sum));
    acc[bw_] = acc[bw_ + 1] = 0.0f;
  }

 private:
  struct Segment {
    double x0, y0, x1, y1, ymin, ymax;
    uint32_t order;  // position along the outline
  };

  // Pieces of an edge left of the box or right of it are flattened onto the border:
  // there they still carry their winding into the box, which is all that matters.
  void AddEdge(double ax, double ay, double bx, double by) {
    if (ay == by) return;  // a horizontal edge encloses no area
    double ts[4] = {0.0, 0.0, 0.0, 1.0};
    int nt = 1;
    for (const double edge : {0.0, double(bw_)}) {
      if ((ax < edge && bx > edge) || (ax > edge && bx < edge)) ts[nt++] = (edge - ax) / (bx - ax);
    }
    if (nt == 3 && ts[1] > ts[2]) std::swap(ts[1], ts[2]);
    ts[nt] = 1.0;
    for (int i = 0; i < nt; ++i) {
      const double t0 = ts[i], t1 = ts[i + 1];
      const double px0 = i == 0 ? ax : ax + (bx - ax) * t0;
      const double py0 = i == 0 ? ay : ay + (by - ay) * t0;
      const double px1 = i + 1 == nt ? bx : ax + (bx - ax) * t1;
      const double py1 = i + 1 == nt ? by : ay + (by - ay) * t1;
      if (py0 == py1) continue;
      Segment s;
      s.x0 = std::clamp(px0, 0.0, double(bw_));
      s.x1 = std::clamp(px1, 0.0, double(bw_));
      s.y0 = py0;
      s.y1 = py1;
      s.ymin = std::min(py0, py1);
      s.ymax = std::max(py0, py1);
      s.order = uint32_t(segs_.size());
      segs_.push_back(s);
    }
  }

  // The area a piece of edge within one row (from x = xa to xb, height d with its
  // winding sign) adds to each cell, so that a running sum gives the coverage.
  // Returns the first and last cell it wrote.
  static std::pair<int, int> Deposit(float* acc, double xa, double xb, double d) {
    const double x0 = std::min(xa, xb), x1 = std::max(xa, xb);
    const double x0floor = std::floor(x0);
    const int x0i = int(x0floor);
    const double x1ceil = std::ceil(x1);
    const int x1i = int(x1ceil);
    if (x1i <= x0i + 1) {
      const double xmf = 0.5 * (xa + xb) - x0floor;
      acc[x0i] += float(d - d * xmf);
      acc[x0i + 1] += float(d * xmf);
      return {x0i, x0i + 1};
    }
    const double s = 1.0 / (x1 - x0);
    const double x0f = x0 - x0floor;
    const double a0 = 0.5 * s * (1.0 - x0f) * (1.0 - x0f);
    const double x1f = x1 - x1ceil + 1.0;
    const double am = 0.5 * s * x1f * x1f;
    acc[x0i] += float(d * a0);
    if (x1i == x0i + 2) {
      acc[x0i + 1] += float(d * (1.0 - a0 - am));
    } else {
      const double a1 = s * (1.5 - x0f);
      acc[x0i + 1] += float(d * (a1 - a0));
      const float step = float(d * s);
      for (int xi = x0i + 2; xi < x1i - 1; ++xi) acc[xi] += step;
      const double a2 = a1 + double(x1i - x0i - 3) * s;
      acc[x1i - 1] += float(d * (1.0 - a2 - am));
    }
    acc[x1i] += float(d * am);
    return {x0i, x1i};
  }

  static uint32_t Coverage(float sum) {
    const float c = std::fabs(sum);
    return c >= 1.0f ? 255u : uint32_t(c * 255.0f + 0.5f);
  }

  std::vector<Segment> segs_;
  int bw_ = 0, bh_ = 0;
};

// Shapes this large spread their rows over the worker threads; smaller ones are not
// worth the hand-over.
bool WorthSplitting(int bw, int bh) { return bh >= 64 && int64_t(bw) * bh >= (int64_t(1) << 16); }

// Runs rows(begin, end, scratch) over the box rows: on the caller's scratch for a
// small box, in bands with scratch of their own for a large one.
template <typename RowsFn>
void ForEachRowBand(int bw, int bh, RowScratch& scratch, const RowsFn& rows) {
  if (!WorthSplitting(bw, bh)) {
    scratch.Start(bw);
    rows(0, bh, scratch);
    return;
  }
  gfx::ParallelFor(
      bh,
      [&](int begin, int end) {
        RowScratch band;
        band.Start(bw);
        rows(begin, end, band);
      },
      16);
}

// ---- spokes ---------------------------------------------------------------------------

// Walks all spokes of a shape outwards together, one step of each per round: every
// spoke reads pixels far apart in a large picture, and stepping them side by side
// lets those reads overlap instead of waiting on each in turn. Each spoke's walk is
// its own, so the lengths are those of walking them one after the other. `work`
// holds 3 * n ints.
void CastSpokes(const watercolor::SpokeProbe& p, int n, const double* cosv, const double* sinv,
                double cx, double cy, uint32_t C, const int* budgets, int* lengths, int* work) {
  int* b = work;
  int* alive = work + n;
  int* reach = work + 2 * n;
  // Most probes land on the seed's colour or near it, where a step costs 1 whatever the
  // exact distance: d <= 23 gives max(1, Round(d / 16)) = 1 (24 / 16 rounds to 2), and
  // d <= threshold keeps the gentle branch. With equal alphas d = Round(sqrt(v)), so
  // both hold exactly when v <= 552 (23.5^2 = 552.25) and v <= threshold^2 + threshold;
  // no root is needed there.
  const int gentle = std::min(552, p.threshold * p.threshold + p.threshold);
  const bool seedHasAlpha = int(AlphaOf(C)) >= kAlphaFloor;
  const double fw = p.w, fh = p.h;
  int count = 0;
  for (int s = 0; s < n; ++s) {
    b[s] = reach[s] = budgets[s];
    lengths[s] = 1;
    alive[count++] = s;
  }
  for (int r = 1; count > 0; ++r) {
    int kept = 0;
    for (int k = 0; k < count; ++k) {
      const int s = alive[k];
      if (r > reach[s]) continue;
      // The spoke walks while its point is on the paper, and reads the pixel nearest to
      // it. Rounding a point within half a pixel of the bottom or right edge lands
      // beyond the edge (the centre sits at x + 0.5), so that pixel is the last one;
      // ending there instead would stop spokes up to 1.5 pixels short of those edges,
      // and seeds in the last column or row could not spread along it at all: a bare
      // seam. The edge is no change of colour, so the spoke's tip is its first point
      // off the paper and the wash covers the border pixels (the outline is clipped
      // to the picture).
      const double fx = cx + double(r) * cosv[s], fy = cy + double(r) * sinv[s];
      if (!(fx >= 0.0 && fx < fw && fy >= 0.0 && fy < fh)) {
        lengths[s] = r;
        continue;
      }
      const int px = std::min(RoundHalfEven(fx), p.w - 1);
      const int py = std::min(RoundHalfEven(fy), p.h - 1);
      const uint32_t P = p.source->at(px, py);
      int budget = b[s];
      if (p.transparent && int(AlphaOf(P)) < kAlphaFloor) {
        budget = budget / 2;
        if (p.c > 0.6f) continue;
      } else if (seedHasAlpha && (P >> 24) == (C >> 24) && DistanceSquared(P, C) <= gentle) {
        budget -= 1;
      } else {
        const int d = Distance(P, C);
        if (d > p.threshold) {
          budget = p.c > 0.8f ? budget / 2 : (3 * budget) / 4;
          budget -= RoundShift<3>(d);
        } else {
          budget -= std::max(1, RoundShift<4>(d));
        }
      }
      budget -= 1;
      if (budget <= 0) continue;
      b[s] = budget;
      lengths[s] = r;
      alive[kept++] = s;
    }
    count = kept;
  }
}

// ---- the effect ----------------------------------------------------------------------

// Where the routine must end: the cancel flag, or for a preview a newer request (its
// picture would never be shown). A full render then reports the finished value, which
// hides the progress bar; a preview reports no progress.
bool Stopped(bool preview) {
  if (!CancelRequested() && !(preview && EffectCancelled())) return false;
  if (!preview) {
    try {
      SafeUpdateProgress(101);
    } catch (const EEffectAborted&) {
      // A cancelled run queues the 101 and then raises; ending here is what we want,
      // and Dest keeps the painting so far.
    }
  }
  return true;
}

struct Canvas {
  uint32_t* base = nullptr;
  size_t stride = 0;  // in pixels
  uint32_t* row(int y) const { return base + size_t(y) * stride; }
};

Canvas DestCanvas(Surface& dest) {
  // bits() also gives the surface back its own pixels after a snapshot shared them.
  return Canvas{reinterpret_cast<uint32_t*>(dest.bits()), size_t(dest.bytesPerLine() / 4)};
}

void RunCentralSpoke(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                     bool Preview, std::optional<uint32_t> seed) {
  // Scripts may pass any integer; beyond the sliders' range the counts and radii
  // would overflow.
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);

  if (Stopped(Preview)) return;

  // Source and transparency.
  const int w = Source.width(), h = Source.height();
  if (Source.isEmpty() || w <= 0 || h <= 0) return;
  if (Dest.width() != w || Dest.height() != h) return;
  std::vector<const uint32_t*> src(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) src[size_t(y)] = Source.row(y);
  bool transparent = false;
  {
    const int64_t limit = int64_t(w) * h / 1000;
    int64_t count = 0;
    for (int y = 0; y < h && !transparent; ++y)
      for (int x = 0; x < w; ++x)
        if (AlphaOf(src[size_t(y)][x]) != 255 && ++count > limit) {
          transparent = true;
          break;
        }
  }
  const uint32_t backgroundColor = transparent ? 0u : 0xFFFFFFFFu;

  // Slider mapping.
  const int N = std::max(3, P2 / 2);
  const float c = std::min(1.0f, std::max(0.0f, float(P2) / 100.0f));
  const int T = RoundEven(140.0 - 80.0 * double(c));
  const float sigma = 0.8f - 0.5f * c;
  const double scale = watercolor::SizeFactor(w, h);
  const float R = float(double(P3 * P3 + 10 * P3) / 50.0 * scale);

  // Mode.
  bool DoClear = true;
  std::vector<uint32_t> WorkBuf;
  if (Preview) {
    Dest.clear(0xFFFFFFFF);
  } else {
    // The switch and the picture to paint over belong to the interface thread. Images
    // are immutable and shared, so only the reference is taken there and the copy into
    // WorkBuf is made here.
    Image base;
    if (!SynchronizeUi([&] {
          if (EffectHost* host = CurrentHost()) {
            DoClear = host->EraseBackgroundChecked();
            if (!DoClear) {
              base = host->ManualBrushBaseImage();
              if (base.isEmpty()) base = host->ResultImage();
            }
          }
        }))
      return;
    if (DoClear) {
      Dest.clear(backgroundColor);
    } else {
      WorkBuf.assign(size_t(w) * size_t(h), 0u);
      if (!base.isEmpty()) {
        const int cw = std::min(w, base.width()), ch = std::min(h, base.height());
        for (int y = 0; y < ch; ++y)
          std::memcpy(&WorkBuf[size_t(y) * size_t(w)], base.row(y), size_t(cw) * 4);
      }
    }
  }
  Canvas canvas = DoClear ? DestCanvas(Dest) : Canvas{WorkBuf.data(), size_t(w)};
  // Painting over, the picture grows in WorkBuf; it goes into Dest at the end, and also
  // when the run stops early, so Dest always holds the painting so far.
  auto moveWorkIntoDest = [&] {
    if (DoClear || WorkBuf.empty()) return;
    Dest.clear(0);
    Dest.writePixels(WorkBuf.data(), qsizetype(w) * 4, gfx::AlphaType::Premultiplied);
    WorkBuf = {};
  };

  const int ShapeCount = watercolor::ShapeBudget(w, h, P1, Preview);
  const int Tp = DoClear ? T : std::max(15, T / 2);

  if (seed)
    SetRandomSeed(*seed);
  else
    Randomize();

  std::vector<double> cosv(static_cast<size_t>(N)), sinv(static_cast<size_t>(N));
  const double step = 2.0 * M_PI / double(N);
  for (int s = 0; s < N; ++s) {
    cosv[size_t(s)] = std::cos(double(s) * step);
    sinv[size_t(s)] = std::sin(double(s) * step);
  }
  std::vector<int> len(static_cast<size_t>(N)), padded(static_cast<size_t>(N) + 6);
  const SpokeSmoother smoother(sigma);
  std::vector<int> budget(static_cast<size_t>(N)), spokeWork(static_cast<size_t>(N) * 3);
  const watercolor::TiledSource tiled(Source);
  const watercolor::SpokeProbe probe{&tiled, w, h, transparent, c, Tp};
  std::vector<double> vx(static_cast<size_t>(N)), vy(static_cast<size_t>(N));
  PolygonRaster raster;
  RowScratch scratch;
  std::vector<uint8_t> covBox;

  const int previewEvery = std::max(1, ShapeCount / 20);
  uint32_t lastShown = TickCount();

  // Shape loop.
  for (int i = 1; i <= ShapeCount; ++i) {
    if (Stopped(Preview)) return moveWorkIntoDest();
    const int k =
        int(std::max<int64_t>(0, RoundRatio(int64_t(8) * (i - ShapeCount / 2), ShapeCount))) + 1;
    for (int shape = 0; shape < k; ++shape) {
      if (Stopped(Preview)) return moveWorkIntoDest();
      const int L =
          RoundEven((double(R) + 0.5) * 8.0 * double(ShapeCount - i) / double(ShapeCount)) + 1;

      // Seed: the candidate the canvas renders worst, or at once a blank spot.
      int sx = 0, sy = 0, best = -1;
      for (int cand = 0; cand < 8; ++cand) {
        const int x = Random(w);
        const int y = Random(h);
        const uint32_t sp = src[size_t(y)][x];
        const uint32_t cp = canvas.row(y)[x];
        const int score = Distance(sp, cp);
        if (score > best) {
          best = score;
          sx = x;
          sy = y;
        }
        if ((!transparent || int(AlphaOf(sp)) >= kAlphaFloor) && DoClear && cp == 0xFFFFFFFFu &&
            sp != 0xFFFFFFFFu) {
          sx = x;
          sy = y;
          break;
        }
      }
      const uint32_t C = src[size_t(sy)][sx];
      if (transparent && int(AlphaOf(C)) < kAlphaFloor) continue;

      // Spokes run out from the seed until the colour turns. The budgets are drawn
      // first, in spoke order, as walking one spoke after the other would draw them.
      const double cx = sx + 0.5, cy = sy + 0.5;
      for (int s = 0; s < N; ++s) budget[size_t(s)] = Random(L) / 4 + L;
      CastSpokes(probe, N, cosv.data(), sinv.data(), cx, cy, C, budget.data(), len.data(),
                 spokeWork.data());
      if (N >= 5) smoother.Apply(len.data(), N, padded.data());

      double left = 1e300, right = -1e300, top = 1e300, bottom = -1e300;
      int minLen = len[0], maxLen = len[0];
      for (int j = 0; j < N; ++j) {
        vx[size_t(j)] = cx + double(len[size_t(j)]) * cosv[size_t(j)];
        vy[size_t(j)] = cy + double(len[size_t(j)]) * sinv[size_t(j)];
        left = std::min(left, vx[size_t(j)]);
        right = std::max(right, vx[size_t(j)]);
        top = std::min(top, vy[size_t(j)]);
        bottom = std::max(bottom, vy[size_t(j)]);
        minLen = std::min(minLen, len[size_t(j)]);
        maxLen = std::max(maxLen, len[size_t(j)]);
      }

      // The paint: the seed's own colour (not its premultiplied bytes, which would
      // darken translucent seeds twice over) at the opacity.
      const uint32_t straight = gfx::Unpremultiply(C);
      const uint32_t paintAlpha = uint32_t(transparent ? RoundRatio(int64_t(AlphaOf(C)) * P4, 100)
                                                       : RoundRatio(int64_t(255) * P4, 100));
      const uint32_t fullPaint = CoveredPaint(straight, paintAlpha, 255);
      auto paintAt = [&](uint32_t cov) {
        return cov == 255 ? fullPaint : CoveredPaint(straight, paintAlpha, cov);
      };

      const int x0 = std::max(0, int(std::floor(left))), y0 = std::max(0, int(std::floor(top)));
      const int x1 = std::min(w - 1, int(std::ceil(right))),
                y1 = std::min(h - 1, int(std::ceil(bottom)));
      if (x0 <= x1 && y0 <= y1) {
        const int bw = x1 - x0 + 1, bh = y1 - y0 + 1;
        raster.Prepare(vx.data(), vy.data(), N, x0, y0, bw, bh);
        if (DoClear) {
          ForEachRowBand(bw, bh, scratch, [&](int begin, int end, RowScratch& rs) {
            for (int row = begin; row < end; ++row) {
              uint32_t* out = canvas.row(y0 + row) + x0;
              raster.Row(row, rs, [&](int xa, int xb, uint32_t cov) {
                if (cov == 0) return;
                const uint32_t s = paintAt(cov);
                const uint32_t sa = AlphaOf(s);
                if (sa == 255) {
                  std::fill(out + xa, out + xb, s);
                } else if (sa != 0) {
                  const uint32_t inv = 255 - sa;
                  for (int x = xa; x < xb; ++x) {
                    const uint32_t d = out[x];
                    out[x] = s + PackArgb(Div255(AlphaOf(d) * inv), Div255(RedOf(d) * inv),
                                          Div255(GreenOf(d) * inv), Div255(BlueOf(d) * inv));
                  }
                }
              });
            }
          });
        } else {
          // Accept-if-better: the shape stays only where it brings the canvas clearly
          // closer to the photo. Sums of integers, so the split into bands cannot
          // change them.
          if (covBox.size() < size_t(bw) * size_t(bh)) covBox.resize(size_t(bw) * size_t(bh));
          std::atomic<int64_t> before{0}, after{0};
          ForEachRowBand(bw, bh, scratch, [&](int begin, int end, RowScratch& rs) {
            int64_t eb = 0, ea = 0;
            for (int row = begin; row < end; ++row) {
              uint8_t* cov = &covBox[size_t(row) * size_t(bw)];
              raster.Row(row, rs, [cov](int xa, int xb, uint32_t c) {
                std::memset(cov + xa, int(c), size_t(xb - xa));
              });
              const uint32_t* cv = canvas.row(y0 + row) + x0;
              const uint32_t* sv = src[size_t(y0 + row)] + x0;
              for (int x = 0; x < bw; ++x) {
                const uint32_t l = paintAt(cov[x]);
                const int la = int(AlphaOf(l));
                if (la == 0) continue;
                const uint32_t cp = cv[x], sp = sv[x];
                for (int shift = 0; shift <= 16; shift += 8) {
                  const int lc = int((l >> shift) & 0xFF), cc = int((cp >> shift) & 0xFF);
                  const int sc = int((sp >> shift) & 0xFF);
                  const int blended = lc + cc * (255 - la) / 255;
                  eb += std::abs(cc - sc);
                  ea += std::abs(blended - sc);
                }
              }
            }
            before.fetch_add(eb);
            after.fetch_add(ea);
          });
          const double q = maxLen > 0 ? 1.0 - double(minLen) / double(maxLen) : 0.0;
          const double F = std::max(1.0, 1.7 - 0.4 * q);
          const int64_t eBefore = before.load(), eAfter = after.load();
          if (eBefore > 0 && double(eBefore) > double(eAfter) * F) {
            ForEachRowBand(bw, bh, scratch, [&](int begin, int end, RowScratch&) {
              for (int row = begin; row < end; ++row) {
                const uint8_t* cov = &covBox[size_t(row) * size_t(bw)];
                uint32_t* cv = canvas.row(y0 + row) + x0;
                for (int x = 0; x < bw; ++x) {
                  const uint32_t l = paintAt(cov[x]);
                  const uint32_t la = AlphaOf(l);
                  if (la == 0) continue;
                  const uint32_t cp = cv[x];
                  uint32_t outPx = 0;
                  for (int shift = 0; shift <= 24; shift += 8) {
                    const uint32_t v =
                        ((l >> shift) & 0xFF) + ((cp >> shift) & 0xFF) * (255 - la) / 255;
                    outPx |= std::min(255u, v) << shift;
                  }
                  cv[x] = outPx;
                }
              }
            });
          }
        }
      }

      // Progress.
      if (Preview) {
        if (i % previewEvery == 0) {
          SafeUpdatePreview(Dest, int(RoundRatio(int64_t(75) * i, ShapeCount)));
          canvas = DestCanvas(Dest);
        }
      } else {
        const uint32_t now = TickCount();
        if (uint32_t(now - lastShown) > 200) {
          lastShown = now;
          Image picture;
          if (DoClear) {
            picture = Dest.snapshot();
            canvas = DestCanvas(Dest);
          } else {
            picture = Image::FromPixels(WorkBuf.data(), w, h, qsizetype(w) * 4,
                                        gfx::AlphaType::Premultiplied);
          }
          const int percent = int(RoundRatio(int64_t(75) * i, ShapeCount));
          QueueUi([picture, percent] {
            if (!CancelRequested()) ShowIntermediateImage(picture, percent);
          });
          if (Stopped(Preview)) return moveWorkIntoDest();
        }
      }
    }
  }

  if (Stopped(Preview)) return moveWorkIntoDest();
  moveWorkIntoDest();
  covBox = {};

  // Soften within areas of like colour, keeping the edges between them.
  SimilaritySmoothSurface_MT(Dest, nullptr, 5, 30, 3, false, 1.2f, 5.0f, 0, [&](float f) {
    const int percent = 75 + RoundEven(15.0f * f);
    if (Preview) {
      SafeUpdatePreview(Dest, percent);
    } else {
      SynchronizeUi([percent] {
        if (EffectHost* host = CurrentHost()) host->UpdateProgress(percent);
      });
    }
  });
  if (Stopped(Preview)) return;

  Dest.flush();
  if (Preview) SafeUpdatePreview(Dest, 92);
  VibrancePop(Dest.snapshot(), Dest, 8, 5, 2, 40, 70, Preview);
  if (Preview) SafeUpdatePreview(Dest, 95);

  BlendSobelEdges(Source, Dest, 5, 230, 10, 0, P5);
  if (Stopped(Preview)) return;

  if (Preview) SafeUpdatePreview(Dest, 98);
  // Painting over an earlier picture sharpens it once more; go gently there.
  SharpenSurface(nullptr, Dest, DoClear ? 40 : 10);

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace

namespace watercolor {

double SizeFactor(int w, int h) {
  return (w > 2048 && h > 2048) ? std::min(5.0, double(int64_t(w) * h) / 4194304.0) : 1.0;
}

int ShapeBudget(int w, int h, int P1, bool preview) {
  int64_t count = preview
                      ? std::max<int64_t>(
                            50, RoundEven(std::sqrt(double(w) * double(h)) * double(P1 + 1) / 5.0))
                      : int64_t(500) * (P1 + 1);
  const double scale = SizeFactor(w, h);
  // The factor is w * h / 2^22 exactly; the product is rounded as the exact fraction.
  if (scale == 5.0)
    count *= 5;
  else if (scale != 1.0)
    count = RoundRatio(count * int64_t(w) * h, 4194304);
  return int(count);
}

int ColorDistance(uint32_t p, uint32_t q) { return Distance(p, q); }

void SmoothSpokeLengths(int* lengths, int n, float sigma) {
  std::vector<int> padded(static_cast<size_t>(n) + 6);
  SpokeSmoother(sigma).Apply(lengths, n, padded.data());
}

TiledSource::TiledSource(const Image& source) {
  const int w = source.width(), h = source.height();
  if (w <= 0 || h <= 0) return;
  tilesPerRow_ = size_t((w + 3) / 4);
  const size_t tileRows = size_t((h + 3) / 4);
  const size_t bytes = tilesPerRow_ * tileRows * 64;
  // Large pages only pay for pictures that span many pages.
  constexpr size_t kLargePage = size_t(2) << 20;
  const bool large = bytes >= 4 * kLargePage;
  const size_t alignment = large ? kLargePage : 64;
  const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  data_ = static_cast<uint32_t*>(std::aligned_alloc(alignment, rounded));
  if (!data_) throw gfx::Error("Not enough memory for the picture");
#ifdef MADV_HUGEPAGE
  if (large) madvise(data_, rounded, MADV_HUGEPAGE);  // a hint; without it all still works
#endif
  gfx::ParallelFor(
      int(tileRows),
      [&](int begin, int end) {
        for (int ty = begin; ty < end; ++ty) {
          uint32_t* tileRow = data_ + size_t(ty) * tilesPerRow_ * 16;
          for (int dy = 0; dy < 4; ++dy) {
            const int y = std::min(h - 1, ty * 4 + dy);  // the last tiles repeat the edge
            const uint32_t* row = source.row(y);
            for (size_t tx = 0; tx < tilesPerRow_; ++tx)
              for (int dx = 0; dx < 4; ++dx)
                tileRow[tx * 16 + size_t(dy * 4 + dx)] = row[std::min(w - 1, int(tx) * 4 + dx)];
          }
        }
      },
      8);
}

TiledSource::~TiledSource() { std::free(data_); }

void CastSpokes(const SpokeProbe& probe, int n, const double* cosv, const double* sinv, double cx,
                double cy, uint32_t seedColour, const int* budgets, int* lengths) {
  std::vector<int> work(static_cast<size_t>(n) * 3);
  quillora::CastSpokes(probe, n, cosv, sinv, cx, cy, seedColour, budgets, lengths, work.data());
}

std::vector<uint8_t> PolygonCoverage(const double* xs, const double* ys, int n, int x0, int y0,
                                     int bw, int bh) {
  std::vector<uint8_t> cov(size_t(std::max(0, bw)) * size_t(std::max(0, bh)));
  if (bw <= 0 || bh <= 0 || n < 3) return cov;
  PolygonRaster raster;
  raster.Prepare(xs, ys, n, x0, y0, bw, bh);
  RowScratch scratch;
  scratch.Start(bw);
  for (int row = 0; row < bh; ++row) {
    uint8_t* out = &cov[size_t(row) * size_t(bw)];
    raster.Row(row, scratch, [out](int xa, int xb, uint32_t c) {
      std::memset(out + xa, int(c), size_t(xb - xa));
    });
  }
  return cov;
}

void CentralSpokeEffectSeeded(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                              int P5, bool Preview, uint32_t seed) {
  RunCentralSpoke(Source, Dest, P1, P2, P3, P4, P5, Preview, seed);
}

}  // namespace watercolor

void CentralSpokeEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview) {
  RunCentralSpoke(Source, Dest, P1, P2, P3, P4, P5, Preview, std::nullopt);
}

}  // namespace quillora
