// Pencil Sketch 2: a grey pencil drawing built up from thousands of straight strokes on
// white paper. Each stroke is the best of many tries: a random place, a length and a
// tone, kept only when it brings the drawing closer to the photo's greys along its
// path. Strokes lie along the edges of the forms and keep one slant in flat areas; at
// the end the edges are pressed a little harder and the photo's colour can be washed
// over the drawing.
#include "effects/sketch/pencil_sketch_2.h"

#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quillora {

namespace pencil6 {

int StrokeIterations(int width, int height, int P3, bool preview) {
  const int64_t N0 = 20 * int64_t(P3) + 100;
  // Capped so that the loop counter cannot overflow on numbers a script made up.
  const int64_t N = preview ? N0 : RoundRatio(int64_t(width) * int64_t(height) * N0, 40000) + 1;
  return int(std::min<int64_t>(N, INT32_MAX - 1));
}

int Quality(int P5) { return int(RoundRatio(int64_t(P5) * 25, 10)); }

int CandidatesPerStroke(int pct, int q) {
  int C = q > 127 ? (110 - pct) * ((q - 127) / 15 + 1) : (110 - pct) / ((128 - q) / 25 + 1);
  if (pct < 5) C /= 4;
  return C;
}

int StrokeGroups(int s, int N) {
  const int pct = int(int64_t(s) * 100 / N);
  return pct > 5 ? int(int64_t(s) * 4 / N) : 25;
}

}  // namespace pencil6

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// The two slants of flat areas (radians, y pointing down): about 151 and 157 degrees,
// strokes rising to the right.
constexpr float kSlantA = 2.7415926f;
constexpr float kSlantB = 2.6415927f;

// Everything a candidate reads at a pixel, in one word of eight bytes, so that its
// start costs one cache miss and its path touches as few lines as possible.
struct Cell {
  uint8_t target;   // T: the photo's grey, composited over the paper
  uint8_t grey;     // the drawing (255 where the paper is transparent)
  uint8_t alpha;    // the source's alpha
  uint8_t edgeLen;  // min(gradient magnitude div 2500, 40): extra length along edges
  // The stroke direction. While the directions are set up, negative values mark the
  // pixels that take a random slant: -2 the perfectly flat ones, -1 the others.
  float theta;
};
static_assert(sizeof(Cell) == 8);

// The gradient magnitude of T at an inner pixel, with the weights 47 and 162.
inline int GradientOf(const Cell* mid, int W, int x, int& gx, int& gy) {
  const Cell* up = mid - W;
  const Cell* down = mid + W;
  const int ul = up[x - 1].target, u = up[x].target, ur = up[x + 1].target;
  const int l = mid[x - 1].target, r = mid[x + 1].target;
  const int ll = down[x - 1].target, lo = down[x].target, lr = down[x + 1].target;
  gx = (47 * ul + 162 * l + 47 * ll) - (47 * ur + 162 * r + 47 * lr);
  gy = (47 * ul + 162 * u + 47 * ur) - (47 * ll + 162 * lo + 47 * lr);
  return std::abs(gx) + std::abs(gy);
}

struct HalfStep {
  double cx, cy;
};

// cx and cy, half the cosine and sine of the direction, computed when a candidate
// needs them: most pixels carry one of the two slants, whose values are kept, and the
// others cost one sincos per tried stroke instead of sixteen bytes per pixel.
inline HalfStep HalfStepOf(float theta) {
  static const HalfStep a{std::cos(double(kSlantA)) / 2, std::sin(double(kSlantA)) / 2};
  static const HalfStep b{std::cos(double(kSlantB)) / 2, std::sin(double(kSlantB)) / 2};
  if (theta == kSlantB) return b;
  if (theta == kSlantA) return a;
  return {std::cos(double(theta)) / 2, std::sin(double(theta)) / 2};
}

// The generator's state `steps` draws after `state` (see engine/random.h), without
// drawing.
inline uint32_t LcgAdvance(uint32_t state, int steps) {
  for (int i = 0; i < steps; ++i) state = state * 134775813u + 1u;
  return state;
}
inline int32_t DrawFrom(uint32_t nextState, int32_t n) {
  return n <= 0 ? 0 : int32_t((uint64_t(nextState) * uint32_t(n)) >> 32);
}
// The pixel of the candidate whose first draw follows `state`.
inline size_t CandidateAt(uint32_t state, int W, int H) {
  const uint32_t sx = state * 134775813u + 1u, sy = sx * 134775813u + 1u;
  const int x = std::min(DrawFrom(sx, W - 2) + 1, W - 1);
  const int y = std::min(DrawFrom(sy, H - 2) + 1, H - 1);
  return size_t(y) * size_t(W) + size_t(x);
}

// Bresenham's line from (x0, y0) to (x1, y1), both inside the picture, as pixel indices
// in order from the first end. Returns the number of points.
int Rasterise(int x0, int y0, int x1, int y1, int W, size_t* out) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int n = 0;
  for (;;) {
    out[n++] = size_t(y0) * size_t(W) + size_t(x0);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  return n;
}

// How much of the paper's grey shows through at point i of n: none in the middle of the
// stroke, more toward its ends.
inline int Fade(int i, int n) {
  if (n == 1) return 0;
  return std::min(255, (std::abs(i - n / 2) * 384) / (n - 1));
}

// Fade for the stroke lengths the sliders give (up to 106 points), looked up instead of
// divided at every point of every candidate.
struct FadeTable {
  static constexpr int kMax = 128;
  uint8_t v[kMax][kMax] = {};
  FadeTable() {
    for (int n = 1; n < kMax; ++n)
      for (int i = 0; i < n; ++i) v[n][i] = uint8_t(Fade(i, n));
  }
};
const FadeTable kFades;

// Every pixel of the drawing as an opaque grey, or transparent paper.
Image DrawingImage(const std::vector<Cell>& cells, int W, int H, bool transparentPaper) {
  QImage img = gfx::AllocateImage(W, H);
  gfx::ParallelFor(H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      auto* out = reinterpret_cast<uint32_t*>(img.scanLine(y));
      const Cell* c = &cells[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x)
        out[x] = transparentPaper && c[x].alpha < 10
                     ? 0u
                     : 0xFF000000u | uint32_t(c[x].grey) * 0x010101u;
    }
  });
  return Image::FromQImage(img);
}

}  // namespace

void Pencil6(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
             bool Preview) {
  CheckCancellation();
  const int Lmax = P2 + 5;
  const int Lmin = std::min(P1, Lmax);
  const int tintAlpha = int(RoundRatio(int64_t(P4) * 255, 100));
  const int q = pencil6::Quality(P5);
  if (Source.isEmpty()) return;
  const int W = Source.width(), H = Source.height();
  const int N = std::max(1, pencil6::StrokeIterations(W, H, P3, Preview));
  const size_t count = size_t(W) * size_t(H);

  // The paper is transparent where the photo is, but only for pictures that show
  // transparency early on; the rest get white paper everywhere.
  bool transparentPaper = false;
  for (int y = 0, seen = 0; y < H && seen < 2001 && !transparentPaper; ++y) {
    const uint32_t* row = Source.row(y);
    for (int x = 0; x < W && seen < 2001; ++x, ++seen)
      if (gfx::AlphaOf(row[x]) < 250) {
        transparentPaper = true;
        break;
      }
  }

  // The target greys. A translucent pixel is taken as it shows on the white paper, so
  // the grey runs on smoothly into the fully transparent parts (which count as white).
  std::vector<Cell> cells(count);
  gfx::ParallelFor(H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const uint32_t* row = Source.row(y);
      Cell* c = &cells[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) {
        const uint32_t p = row[x];
        const int a = int(gfx::AlphaOf(p));
        const int paper = 255 - a;
        const int R = int(gfx::RedOf(p)) + paper, G = int(gfx::GreenOf(p)) + paper,
                  B = int(gfx::BlueOf(p)) + paper;
        c[x] = Cell{uint8_t(a < 11 ? 255 : (3 * R + 6 * G + B) / 10), 255, uint8_t(a), 0, kSlantB};
      }
    }
  });

  // Directions: across the gradient of T where there is an edge, a random one of two
  // slants elsewhere. The edge directions need no random numbers and are computed on
  // all threads; the slants are drawn in row order afterwards, as the sequence of the
  // generator demands.
  constexpr int kBlock = 128;
  for (int y0 = 1; y0 <= H - 2; y0 += kBlock) {
    const int y1 = std::min(H - 2, y0 + kBlock - 1);
    gfx::ParallelFor(
        y1 - y0 + 1,
        [&](int begin, int end) {
          for (int y = y0 + begin; y < y0 + end; ++y) {
            Cell* mid = &cells[size_t(y) * size_t(W)];
            for (int x = 1; x <= W - 2; ++x) {
              int gx, gy;
              const int m = GradientOf(mid, W, x, gx, gy);
              mid[x].edgeLen = uint8_t(std::min(m / 2500, 40));
              if (m > 3000) {
                float theta = float(std::atan2(double(gy), double(gx)) + 1.5707);
                if (theta < 0) theta = float(double(theta) + kTwoPi);
                if (theta > kPi) theta = float(double(theta) - kPi);
                mid[x].theta = theta;
              } else {
                mid[x].theta = m == 0 ? -2.0f : -1.0f;
              }
            }
          }
        },
        8);
    for (int y = y0; y <= y1; ++y) {
      CheckCancellation();
      Cell* c = &cells[size_t(y) * size_t(W)];
      for (int x = 1; x <= W - 2; ++x) {
        if (c[x].theta >= 0) continue;
        const float slant = Random(100) <= 50 ? kSlantA : kSlantB;
        // Perfectly flat pixels all keep the second slant.
        c[x].theta = c[x].theta == -2.0f ? kSlantB : slant;
      }
    }
  }

  // The stroke search. Only the candidate's own pixels are read: its trial greys are
  // computed on the fly instead of being painted into a scratch copy, which gives the
  // same score without a second picture.
  // Pictures that fit in the cache do not wait for their pixels.
  const bool farApart = count * sizeof(Cell) > (size_t(4) << 20);
  std::vector<size_t> lineA(2001), lineB(2001);
  size_t* line = lineA.data();
  size_t* bestLine = lineB.data();
  uint32_t lastShown = TickCount();
  for (int s = 0; s <= N; ++s) {
    CheckCancellation();
    if (!Preview && uint32_t(TickCount() - lastShown) > 200) {
      const Image picture = DrawingImage(cells, W, H, transparentPaper);
      // Counted from when the picture is ready, so that making it never takes the
      // larger share of the time on big photos.
      lastShown = TickCount();
      // Never 101 on the last iteration: that value means finished, and would free the
      // busy marker while the drawing is still being finished.
      const int percent = std::min(int(int64_t(s) * 100 / N) + 1, 100);
      QueueUi([picture, percent] {
        if (!CancelRequested()) ShowIntermediateImage(picture, percent);
      });
    }
    const int pct = int(int64_t(s) * 100 / N);
    const int G = pencil6::StrokeGroups(s, N);
    const int C = pencil6::CandidatesPerStroke(pct, q);
    const int patienceLimit = C / 20 + 5;
    for (int g = 0; g <= G; ++g) {
      int best = 0, patience = 0, bestTone = 0, bestCount = 0;
      for (int c = 0; c <= C; ++c) {
        // The next candidates' places are already fixed by the generator: one after
        // this candidate is passed over (three draws) or tried (five), and one after
        // two passed over. Requesting their pixels now hides most of the wait for
        // them, as each place is a jump across the whole picture.
        if (farApart) {
          const uint32_t state = RandomSeed();
          const uint32_t s3 = LcgAdvance(state, 3), s5 = LcgAdvance(s3, 2), s6 = LcgAdvance(s5, 1);
          __builtin_prefetch(&cells[CandidateAt(s3, W, H)]);
          __builtin_prefetch(&cells[CandidateAt(s5, W, H)]);
          __builtin_prefetch(&cells[CandidateAt(s6, W, H)]);
        }
        // Tiny pictures have no inner pixels; their candidates stay on the picture.
        const int x = std::min(Random(W - 2) + 1, W - 1);
        const int y = std::min(Random(H - 2) + 1, H - 1);
        const size_t at = size_t(y) * size_t(W) + size_t(x);
        const Cell here = cells[at];
        const int d = here.alpha >= 10 ? std::abs(int(here.target) - int(here.grey)) : 0;
        const int r = Random(pct * 5);
        // Late in the drawing, places that already match the photo are passed over.
        if (d < r && pct > 4) continue;
        const int t = (2 * int(here.grey) + int(here.target)) / 3;

        const int lengthDraw = Random(Lmax / 2 - pct + 100) / 3;
        const int edgeDraw = Random(here.edgeLen);
        int D = std::min(lengthDraw + edgeDraw + Lmin + 3, Lmax);
        const HalfStep h = HalfStepOf(here.theta);
        {
          // A stroke that would run round a corner is cut to a third.
          const int ex = std::clamp(x + RoundEven(D * h.cx), 0, W - 1);
          const int ey = std::clamp(y + RoundEven(D * h.cy), 0, H - 1);
          double turn = std::abs(double(here.theta) -
                                 double(cells[size_t(ey) * size_t(W) + size_t(ex)].theta));
          if (turn > kPi) turn = kTwoPi - turn;
          if (turn > 1.05) D = std::max(D / 3, 1);
        }
        const int hx = RoundEven(D * h.cx), hy = RoundEven(D * h.cy);
        const int x0 = std::clamp(x - hx, 0, W - 1), y0 = std::clamp(y - hy, 0, H - 1);
        const int x1 = std::clamp(x + hx, 0, W - 1), y1 = std::clamp(y + hy, 0, H - 1);
        int n = 0;
        if (std::abs(x1 - x0) <= 2000 && std::abs(y1 - y0) <= 2000)
          n = Rasterise(x0, y0, x1, y1, W, line);
        // All the path's cache lines requested at once rather than one after another.
        for (int i = 0; i < n; ++i) __builtin_prefetch(&cells[line[i]]);

        int score = 0;
        const uint8_t* fades = n < FadeTable::kMax ? kFades.v[n] : nullptr;
        for (int i = 0; i < n; ++i) {
          const Cell& p = cells[line[i]];
          if (p.alpha <= 9) continue;  // left as it is: adds nothing to the score
          const int gFade = fades ? fades[i] : Fade(i, n);
          const int trial = ((255 - gFade) * t + gFade * int(p.grey)) / 255;
          score += std::abs(trial - int(p.target)) - std::abs(int(p.grey) - int(p.target));
        }
        if (score < best) {
          best = score;
          bestTone = t;
          bestCount = n;
          std::swap(line, bestLine);
          patience = 0;
        }
        if (++patience >= patienceLimit) {
          if (best < 0) break;
          patience = 0;
        }
      }
      if (best < 0) {
        // The committed stroke is lighter than its trial, so strokes build up the tone
        // in layers instead of reaching it at once.
        for (int i = 0; i < bestCount; ++i) {
          Cell& p = cells[bestLine[i]];
          if (p.alpha <= 9) continue;
          const int f = std::min(255, Fade(i, bestCount) + 64);
          p.grey = uint8_t(((255 - f) * bestTone + f * int(p.grey)) / 255);
        }
      }
    }
  }

  // Edges pressed harder, in proportion to their strength (T has not changed, so the
  // magnitude is taken again rather than kept for every pixel).
  gfx::ParallelFor(std::max(H - 2, 0), [&](int begin, int end) {
    for (int y = begin + 1; y <= end; ++y) {
      Cell* mid = &cells[size_t(y) * size_t(W)];
      for (int x = 1; x <= W - 2; ++x) {
        Cell& p = mid[x];
        if (p.alpha <= 9 || 3 * int(p.grey) >= 540) continue;
        int gx, gy;
        p.grey = uint8_t(std::max(0, int(p.grey) - GradientOf(mid, W, x, gx, gy) / 1800));
      }
    }
  });

  const Image drawing = DrawingImage(cells, W, H, transparentPaper);
  cells = {};
  Dest.clear(0);
  Dest.drawImage(drawing, 0, 0, gfx::Sampling::Nearest);
  if (!Preview)
    SynchronizeUi([&] {
      if (!CancelRequested()) ShowIntermediateImage(drawing, -1);
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
    });
  if (P4 > 0) {
    // The photo's hue and saturation over the drawing's greys.
    const gfx::Paint wash{float(tintAlpha) / 255.0f, gfx::BlendMode::Color};
    Dest.drawImage(Source, 0, 0, gfx::Sampling::Cubic, &wash);
  }
  if (!Preview) {
    const Image tinted = P4 > 0 ? Dest.snapshot() : Image();
    SynchronizeUi([&] {
      if (P4 > 0 && !CancelRequested()) ShowIntermediateImage(tinted, -1);
      if (EffectHost* host = CurrentHost()) host->RedrawMainView();
    });
  }
}

}  // namespace quillora
