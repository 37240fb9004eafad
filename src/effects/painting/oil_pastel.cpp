// Oil Pastel: a crayon drawing built up the way a pastel artist works, blocking in the
// picture with broad, grainy sticks of colour and going over it with ever smaller marks
// where it still looks wrong. Every mark is the best of a few tries of stick and angle
// at the spot that differs most from the photo, and is kept only when it clearly
// improves the drawing; thick marks catch a little light on their ridges.
// The random generator is seeded from the clock's millisecond, so runs differ.
#include "effects/painting/oil_pastel.h"

#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/pixel.h"

#include <QTime>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace quillora {

namespace {

constexpr int kReliefStrength = 35;
// Brush coverage planes carry two texels of clamped border on every side, so the
// cubic's four taps never need a bounds test.
constexpr int kPad = 2;
constexpr int kPlaneSide = kBrushCellSize + 2 * kPad;

std::atomic<MillisecondSource> g_millisecondSource{nullptr};

int WallClockMillisecond() { return QTime::currentTime().msec(); }

// Mitchell-Netravali B = C = 1/3, the cubic every high-quality draw of the program uses.
double Mitchell(double x) {
  x = std::abs(x);
  if (x < 1.0) return (7.0 * x * x * x - 12.0 * x * x + 16.0 / 3.0) / 6.0;
  if (x < 2.0) return (-7.0 / 3.0 * x * x * x + 12.0 * x * x - 20.0 * x + 32.0 / 3.0) / 6.0;
  return 0.0;
}

// The four tap weights for 256 sub-texel phases, in 1/1024, summing to exactly 1024 so
// that a flat area keeps its value.
struct CubicTable {
  int w[256][4];
  CubicTable() {
    for (int ph = 0; ph < 256; ++ph) {
      const double f = ph / 256.0;
      const double k[4] = {Mitchell(f + 1.0), Mitchell(f), Mitchell(1.0 - f), Mitchell(2.0 - f)};
      const double sum = k[0] + k[1] + k[2] + k[3];
      int total = 0;
      for (int j = 0; j < 4; ++j) total += w[ph][j] = int(std::lround(k[j] / sum * 1024.0));
      w[ph][f < 0.5 ? 1 : 2] += 1024 - total;
    }
  }
};

const CubicTable& Cubic() {
  static const CubicTable table;
  return table;
}

// A brush's coverage (alpha) with its clamped border, and the texels that hold any.
// The brush's colour is never used: a mark takes its colour from the photo alone.
struct PastelBrush {
  std::vector<uint8_t> plane;
  // One bit per texel of the plane, set where any of the 4 x 4 taps starting there is
  // non-zero: the grain leaves many samples with nothing to add up, and as bits the
  // test stays in cache while the marks jump between brushes.
  std::vector<uint64_t> anyTap;
  int tx0 = kBrushCellSize, tx1 = -1, ty0 = kBrushCellSize, ty1 = -1;  // covered texels
};

PastelBrush MakePastelBrush(const Image& brush) {
  PastelBrush b;
  b.plane.resize(size_t(kPlaneSide) * kPlaneSide);
  const int bw = brush.width(), bh = brush.height();
  for (int y = 0; y < kPlaneSide; ++y) {
    const int ty = std::clamp(y - kPad, 0, kBrushCellSize - 1);
    uint8_t* out = &b.plane[size_t(y) * kPlaneSide];
    for (int x = 0; x < kPlaneSide; ++x) {
      const int tx = std::clamp(x - kPad, 0, kBrushCellSize - 1);
      out[x] = tx < bw && ty < bh ? uint8_t(gfx::AlphaOf(brush.row(ty)[tx])) : 0;
      if (out[x] != 0 && x == tx + kPad && y == ty + kPad) {
        b.tx0 = std::min(b.tx0, tx);
        b.tx1 = std::max(b.tx1, tx);
        b.ty0 = std::min(b.ty0, ty);
        b.ty1 = std::max(b.ty1, ty);
      }
    }
  }
  b.anyTap.assign((b.plane.size() + 63) / 64, 0);
  for (int y = 0; y + 3 < kPlaneSide; ++y)
    for (int x = 0; x + 3 < kPlaneSide; ++x) {
      uint8_t any = 0;
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) any |= b.plane[size_t(y + j) * kPlaneSide + size_t(x + i)];
      const size_t bit = size_t(y) * kPlaneSide + size_t(x);
      if (any != 0) b.anyTap[bit / 64] |= uint64_t(1) << (bit % 64);
    }
  return b;
}

// One placement of a brush on the scratch: its whole 256 x 256 picture drawn into the
// square (-s/2, -s/2) - (s/2, s/2) turned by theta radians (clockwise on screen) about
// the scratch centre, with cubic sampling, the paint's opacity and anti-aliased edges.
class PastelStamp {
 public:
  PastelStamp(const PastelBrush& brush, int s, double theta, int c0, float opacity)
      : plane_(brush.plane.data()),
        anyTap_(brush.anyTap.data()),
        cs_(float(std::cos(theta))),
        sn_(float(std::sin(theta))),
        half_(float(s) / 2.0f),
        scale_(float(kBrushCellSize) / float(s)),
        c0_(float(c0)),
        opacity_(opacity) {
    if (brush.tx1 < 0) return;  // nothing to draw
    // Pastel marks fill only part of their cell. Outside the covered texels, widened by
    // the cubic's reach of two texels, every tap reads zero, so only the turned box of
    // those texels is visited (coordinates clamp to the cell at its edges, hence the
    // fringe where the coverage touches them).
    const double half = double(s) / 2.0, texel = double(s) / kBrushCellSize;
    auto lo = [&](int t) { return t - 2 <= 0 ? -half - 1.0 : (t - 2) * texel - half; };
    auto hi = [&](int t) { return t + 3 >= kBrushCellSize ? half + 1.0 : (t + 3) * texel - half; };
    const double x0 = lo(brush.tx0), x1 = hi(brush.tx1), y0 = lo(brush.ty0), y1 = hi(brush.ty1);
    const double c = std::cos(theta), sn = std::sin(theta);
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (const double px : {x0, x1})
      for (const double py : {y0, y1}) {
        const double dx = px * c - py * sn, dy = px * sn + py * c;
        minX = std::min(minX, dx);
        maxX = std::max(maxX, dx);
        minY = std::min(minY, dy);
        maxY = std::max(maxY, dy);
      }
    // Pixel centres at col + 0.5; one pixel of slack for the single-precision mapping.
    colFirst_ = int(std::floor(c0 + minX - 0.5)) - 1;
    colLast_ = int(std::ceil(c0 + maxX - 0.5)) + 1;
    rowFirst_ = int(std::floor(c0 + minY - 0.5)) - 1;
    rowLast_ = int(std::ceil(c0 + maxY - 0.5)) + 1;
  }

  // The scratch pixels that may be covered; empty (first > last) for a blank brush.
  int colFirst() const { return colFirst_; }
  int colLast() const { return colLast_; }
  int rowFirst() const { return rowFirst_; }
  int rowLast() const { return rowLast_; }

  // The coverage 0..255 of scratch pixel (col, row).
  int CoverageAt(int col, int row) const {
    const float dx = float(col) + 0.5f - c0_;
    const float dy = float(row) + 0.5f - c0_;
    const float px = dx * cs_ + dy * sn_;
    const float py = dy * cs_ - dx * sn_;
    const float ex = half_ + 0.5f - std::fabs(px);
    const float ey = half_ + 0.5f - std::fabs(py);
    if (ex <= 0.0f || ey <= 0.0f) return 0;
    const float u = std::clamp((px + half_) * scale_, 0.0f, 255.99f);
    const float v = std::clamp((py + half_) * scale_, 0.0f, 255.99f);
    // (u - 0.5) in 1/256 texel, offset by two texels to stay positive.
    const int iu = int(u * 256.0f + 384.0f);
    const int iv = int(v * 256.0f + 384.0f);
    const size_t first = size_t((iv >> 8) - 1) * kPlaneSide + size_t((iu >> 8) - 1);
    if ((anyTap_[first / 64] >> (first % 64) & 1) == 0) return 0;
    const int* wx = Cubic().w[iu & 255];
    const int* wy = Cubic().w[iv & 255];
    const uint8_t* t = plane_ + first;
    int acc = 0;
    for (int j = 0; j < 4; ++j, t += kPlaneSide)
      acc += wy[j] * (wx[0] * t[0] + wx[1] * t[1] + wx[2] * t[2] + wx[3] * t[3]);
    const int alpha = std::clamp((acc + (1 << 19)) >> 20, 0, 255);
    const float edge = std::min(ex, 1.0f) * std::min(ey, 1.0f);
    return int(float(alpha) * opacity_ * edge + 0.5f);
  }

 private:
  const uint8_t* plane_;
  const uint64_t* anyTap_;
  float cs_, sn_, half_, scale_, c0_, opacity_;
  int colFirst_ = 0, colLast_ = -1, rowFirst_ = 0, rowLast_ = -1;
};

// The first value >= v on the grid start, start + step, ...
int OnGrid(int v, int start, int step) {
  if (v <= start) return start;
  return start + (v - start + step - 1) / step * step;
}

bool HasTransparency(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* row = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if (gfx::AlphaOf(row[x]) != 255) return true;
  }
  return false;
}

}  // namespace

TOilPastelSizes OilPastelSizes(int P1, int P2, bool paintOver) {
  if (P1 >= P2) P1 = P2 - 5;
  P1 = std::max(P1, 0);
  TOilPastelSizes sizes;
  sizes.MinSize = 4 * P1 + 3;
  sizes.MaxSize = 4 * P2 + 3;
  if (paintOver) sizes.MaxSize = (2 * sizes.MaxSize) / 3;
  sizes.MinSize = std::min(sizes.MinSize, sizes.MaxSize);
  return sizes;
}

TOilPastelRoundPlan OilPastelRoundPlan(int s, int MaxSize, int P3, int P4) {
  s = std::max(s, 1);
  const int quality = std::max(1, P4);
  const int Q = 25 * quality;
  TOilPastelRoundPlan plan;
  // Broad marks search hardest; the finishing touches are many, so each looks less.
  int B = 2 * Q;
  if (3 * MaxSize > 4 * s) B = Q;
  if (MaxSize > 2 * s) B = B / 3;
  if (MaxSize > 4 * s) B = B / 2;
  plan.seedBudget = std::max(B, 1);
  plan.step = s > 60 ? 4 : (s > 30 ? 2 : 1);
  plan.extraRounds = s < 50 ? std::clamp((((14000 / (s * s)) * 2) / 3 - 1) / 5, 0, 50) : 0;
  int Rp = std::max(1, P3);
  if (s > 30) Rp = std::max(1, Rp / 2);
  if (s > 60) Rp = std::max(1, Rp / 3);
  plan.repeats = Rp;
  plan.attempts = s < 15 ? 1 : quality / 15 + 1;
  return plan;
}

int OilPastelBrushSize(int a, int MinSize, int MaxSize, int w, int h) {
  int s;
  if (a >= 951) {
    s = MaxSize;
  } else {
    // The size falls with the fourth power of the remaining iterations: a few broad
    // marks block the picture in, most of the work is done small.
    const float u = float(a) / 950.0f;
    const float v = u * u * u * u;
    const int C = RoundEven(double(float(MaxSize - MinSize + 1) * v)) + MinSize;
    s = C + Random(std::max(1, int(RoundRatio(int64_t(C) * 2, 10)))) -
        int(RoundRatio(int64_t(C), 10));
  }
  s = std::max(s, MinSize);
  return std::min(s, std::min(w / 2, h / 2));
}

int64_t OilPastelAcceptLevel(int s, int a, bool paintOver) {
  const int64_t s2 = int64_t(s) * s;
  // 1.1 s^2 (3 a / 500 + 2) exactly: late, small marks must earn less per pixel.
  int64_t L = a < 501 ? RoundRatio(11 * s2 * (3 * int64_t(a) + 1000), 5000) : RoundRatio(5 * s2, 2);
  if (paintOver) L /= 2;
  return L;
}

void SetOilPastelMillisecondSource(MillisecondSource source) { g_millisecondSource.store(source); }

std::vector<uint8_t> OilPastelMarkCoverage(const Image& brush, int s, double theta, int side,
                                           float opacity) {
  std::vector<uint8_t> coverage(size_t(side) * size_t(side), 0);
  if (brush.isEmpty()) return coverage;
  const PastelBrush pastel = MakePastelBrush(brush);  // the stamp points into it
  const PastelStamp stamp(pastel, s, theta, side / 2, opacity);
  for (int row = std::max(0, stamp.rowFirst()); row <= std::min(side - 1, stamp.rowLast()); ++row)
    for (int col = std::max(0, stamp.colFirst()); col <= std::min(side - 1, stamp.colLast()); ++col)
      coverage[size_t(row) * size_t(side) + size_t(col)] = uint8_t(stamp.CoverageAt(col, row));
  return coverage;
}

void NewRandomStrokes_BestOfN(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                              int P5, bool Preview) {
  CheckCancellation();
  const MillisecondSource clock = g_millisecondSource.load();
  SetRandomSeed(uint32_t(clock ? clock() : WallClockMillisecond()));
  // Sliders reach 0..100; scripts and parameter files are held to the same range, so
  // that no size can reach zero (it divides the seed rounds).
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);
  const float opacity = std::max(0.1f, float(P5) / 100.0f);
  if (Source.isEmpty()) return;
  const int w = Source.width(), h = Source.height();
  if (w <= 99 || h <= 99) return;

  // In a preview of a large picture most repeats are skipped, so the preview crop gets
  // about the share of marks it would get in the full render.
  double rho = 1.0;
  bool DoClear = true;
  if (Preview) {
    SynchronizeUi([&] {
      if (EffectHost* host = CurrentHost()) {
        const Image full = host->SourceImage();
        if (!full.isEmpty()) rho = double(w) * double(h) / (double(full.width()) * full.height());
      }
    });
    Dest.clear(0);
  } else {
    // The main window's images are read on the interface thread; images are immutable,
    // so the background is prepared here on the worker.
    bool erase = true;
    Image mainSource = Source, base;
    SynchronizeUi([&] {
      if (EffectHost* host = CurrentHost()) {
        erase = host->EraseBackgroundChecked();
        if (const Image s = host->SourceImage(); !s.isEmpty()) mainSource = s;
        if (!erase && !host->ResultImage().isEmpty()) {
          base = host->ManualBrushBaseImage();
          if (base.isEmpty()) base = host->ResultImage();
        }
      }
    });
    DoClear = erase;
    if (erase) {
      Dest.clear(HasTransparency(mainSource) ? 0u : 0xFFFFFFFFu);
    } else {
      Dest.clear(0);
      if (!base.isEmpty()) Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
  }
  const bool paintOver = !DoClear;

  const TOilPastelSizes sizes = OilPastelSizes(P1, P2, paintOver);
  const int MinSize = sizes.MinSize, MaxSize = sizes.MaxSize;
  const int Sc = std::max(
      370, int(RoundRatio(16 * int64_t(std::min(MaxSize, std::min(w / 2, h / 2))), 10)) + 20);
  StrokeScratch scratch(Sc);
  const int c0 = scratch.centre();

  std::vector<Image> brushImages;
  SynchronizeUi([&] {
    brushImages = ExtractSheetBrushes(TForm3::Instance().Picture(QStringLiteral("Brushes")));
  });
  std::vector<PastelBrush> brushes;
  brushes.reserve(brushImages.size());
  for (const Image& brush : brushImages)
    if (!brush.isEmpty()) brushes.push_back(MakePastelBrush(brush));
  brushImages.clear();
  const int brushCount = int(brushes.size());

  std::vector<const uint32_t*> src(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) src[size_t(y)] = Source.row(y);
  // Dest's pixels move when a snapshot of it is written to afterwards (the snapshot
  // keeps the old ones), so the address is taken again after every snapshot.
  uint32_t* dstBase = nullptr;
  qsizetype dstStride = 0;
  auto refreshDest = [&] {
    dstBase = reinterpret_cast<uint32_t*>(Dest.bits());
    dstStride = Dest.bytesPerLine() / 4;
  };
  refreshDest();
  auto dst = [&](int x, int y) -> uint32_t& { return dstBase[qsizetype(y) * dstStride + x]; };

  for (int a = 1000; a >= 0; --a) {
    CheckCancellation();
    const int s = OilPastelBrushSize(a, MinSize, MaxSize, w, h);
    const int e = int(RoundRatio(3 * int64_t(s), 4)) + 4;
    const int winFirst = std::max(1, c0 - e), winLast = std::min(Sc - 2, c0 + e);
    const TOilPastelRoundPlan plan = OilPastelRoundPlan(s, MaxSize, P3, P4);
    const int st = plan.step;
    const int64_t earlyAccept = 20 * int64_t(s) * s;
    const int64_t acceptLevel = OilPastelAcceptLevel(s, a, paintOver);
    // Covering a pixel that already matches the picture below costs, more for big marks.
    const int penalty = s > 39 ? 35 : (s > 14 ? 15 : 5);
    const int groups = std::clamp(plan.seedBudget / 10, 1, 15);
    const int reach = std::max(1, s / 3);

    for (int r = 0; r <= plan.repeats; ++r) {
      if (Preview && rho < 1.0 && RandomFloat() > 2.0 * rho) continue;
      for (int x = 0; x <= plan.extraRounds; ++x) {
        CheckCancellation();
        // The seed: the sampled spot where the drawing is furthest from the photo.
        int bestScore = -1, seedX = 0, seedY = 0;
        bool done = false;
        for (int g = 0; g < groups && !done; ++g) {
          const int cx = Random(w - 20) + 10;
          const int cy = Random(h - 20) + 10;
          // The ten samples are drawn first so that their pixels can be fetched from
          // memory together: the seed search is random access all over the picture
          // and would otherwise wait on every read in turn. When the search ends early
          // the generator is put back to where it stood after the last sample used.
          int sx[10], sy[10];
          uint32_t stateAfter[10];
          for (int k = 0; k < 10; ++k) {
            sx[k] = cx + Random(64) - 32;
            sy[k] = cy + Random(64) - 32;
            stateAfter[k] = RandomSeed();
          }
          for (int k = 0; k < 10; ++k)
            if (sx[k] >= 1 && sx[k] <= w - 2 && sy[k] >= 1 && sy[k] <= h - 2) {
              __builtin_prefetch(&src[size_t(sy[k])][sx[k]]);
              __builtin_prefetch(&dst(sx[k], sy[k]));
              // The diagonal neighbours are read for most samples too.
              const int xl = std::max(sx[k] - reach, 0);
              for (const int ny : {sy[k] - reach, sy[k] + reach})
                if (ny >= 0 && ny < h) {
                  __builtin_prefetch(&src[size_t(ny)][xl]);
                  __builtin_prefetch(&dst(xl, ny));
                }
            }
          for (int k = 0; k < 10; ++k) {
            const int px = sx[k], py = sy[k];
            if (px < 1 || px > w - 2 || py < 1 || py > h - 2) continue;
            const uint32_t S = src[size_t(py)][px];
            if (gfx::AlphaOf(S) <= 9) continue;
            const uint32_t D = dst(px, py);
            int score = PixelDelta(S, D);
            // Early on, bare white paper is where the drawing is missing most.
            if (DoClear && a > 800 && gfx::RedOf(D) > 230 && gfx::GreenOf(D) > 230 &&
                gfx::BlueOf(D) > 230)
              score *= 50;
            if (score > 20) {
              for (const int nx : {px - reach, px + reach})
                for (const int ny : {py - reach, py + reach})
                  if (nx >= 0 && nx < w && ny >= 0 && ny < h)
                    score += PixelDelta(src[size_t(ny)][nx], dst(nx, ny));
            }
            if (score > bestScore) {
              bestScore = score;
              seedX = px;
              seedY = py;
            }
            if (score > 2000) {
              SetRandomSeed(stateAfter[k]);
              done = true;
              break;
            }
          }
        }
        if (bestScore < 0 || brushCount == 0) continue;

        const TintTable tint(src[size_t(seedY)][seedX]);
        const int offX = seedX - c0, offY = seedY - c0;
        // Scratch pixels whose image pixel lies inside the picture.
        const int colMin = std::max(winFirst, -offX), colMax = std::min(winLast, w - 1 - offX);
        const int rowMin = std::max(winFirst, -offY), rowMax = std::min(winLast, h - 1 - offY);

        int64_t bestValue = -2147483647;
        int bestBrush = -1;
        double bestTheta = 0.0;
        for (int n = 0; n < plan.attempts; ++n) {
          const int i = Random(brushCount);
          const double theta = Random(360) * M_PI / 180.0;
          const PastelStamp stamp(brushes[size_t(i)], s, theta, c0, opacity);
          // Only the scored grid is rendered: the rest of the scratch would not count.
          int64_t gain = 0;
          const int yEnd = std::min(rowMax, stamp.rowLast());
          const int xEnd = std::min(colMax, stamp.colLast());
          const int xStart = OnGrid(std::max(colMin, stamp.colFirst()), winFirst, st);
          for (int row = OnGrid(std::max(rowMin, stamp.rowFirst()), winFirst, st); row <= yEnd;
               row += st) {
            const uint32_t* srow = src[size_t(row + offY)];
            const uint32_t* drow = &dst(0, row + offY);
            for (int col = xStart; col <= xEnd; col += st) {
              const int A = stamp.CoverageAt(col, row);
              if (A == 0) continue;
              const uint32_t P = tint.pixel[A];
              if ((P >> 24) == 0) continue;
              const uint32_t S = srow[col + offX], D = drow[col + offX];
              const int before = PixelDelta(S, D);
              if (DoClear || before > 0)
                gain += before - PixelDelta(S, BlendStroke(P, D));
              else
                gain -= penalty;
            }
          }
          const int64_t value = int64_t(st) * st * gain;
          if (value > bestValue) {
            bestValue = value;
            bestBrush = i;
            bestTheta = theta;
          }
          if (value > earlyAccept) break;
        }
        if (bestBrush < 0 || bestValue <= acceptLevel) continue;

        // The kept mark, rendered whole, shaded and laid on.
        const PastelStamp stamp(brushes[size_t(bestBrush)], s, bestTheta, c0, opacity);
        const int rowFirst = std::max(winFirst, stamp.rowFirst());
        const int rowLast = std::min(winLast, stamp.rowLast());
        const int colFirst = std::max(winFirst, stamp.colFirst());
        const int colLast = std::min(winLast, stamp.colLast());
        if (rowFirst > rowLast || colFirst > colLast) continue;
        for (int row = rowFirst; row <= rowLast; ++row) {
          uint32_t* out = scratch.row(row);
          for (int col = colFirst; col <= colLast; ++col) {
            const int A = stamp.CoverageAt(col, row);
            if (A != 0) out[col] = tint.pixel[A];
          }
        }
        scratch.MarkWritten(QRect(QPoint(colFirst, rowFirst), QPoint(colLast, rowLast)));
        // The crayon's relief reaches over the whole window, not only the mark's square
        // as with the impasto strokes.
        if (s > 29) ImpastoRelief(scratch, s, kReliefStrength, winFirst + 1, winLast - 1);
        CompositeStroke(scratch, QRect(QPoint(winFirst, winFirst), QPoint(winLast, winLast)),
                        dstBase, dstStride, offX, offY, QRect(0, 0, w, h));
        scratch.Clear();
      }
    }

    if ((a + 10) % 50 == 0) {
      CheckCancellation();
      const int p = (1000 - a) / 10;
      if (Preview) {
        SafeUpdatePreview(Dest, p);
      } else {
        SafeUpdateProgress(p);
        if ((a + 10) % 100 == 0) {
          Dest.flush();
          const Image img = Dest.snapshot();
          QueueUi([img, p] {
            if (!CancelRequested()) ShowIntermediateImage(img, p);
          });
        }
      }
      refreshDest();
    }
  }

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace quillora
