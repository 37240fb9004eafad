// Comic print: the photo as it comes off a cheap four-colour press. Yellow, cyan,
// magenta and black are each laid down as a screen of round dots on its own angle, so
// the inks overlap in little rosettes and mix on the paper the way printed colours do;
// big dots make the shadows, small ones the light tones. The paper soaks the dots up a
// little, and an inker's pen then draws firm black contours along the strong edges of
// the picture, thicker where an edge bends. Deterministic: no random numbers.
#include "effects/sketch/comic_print.h"

#include "engine/numeric.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <QColor>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

namespace quillora {

namespace {

struct Ink {
  double angleDegrees;
  uint8_t r, g, b;
};

// In print order: the light yellow first, black last so it stays crisp on top.
constexpr Ink kInks[4] = {
    {0.0, 255, 247, 0},   // yellow
    {15.0, 0, 200, 255},  // cyan
    {75.0, 255, 0, 144},  // magenta
    {45.0, 20, 20, 20},   // black
};

// Plane indices in print order.
enum { kYellow = 0, kCyan = 1, kMagenta = 2, kBlack = 3 };

// A premultiplied colour byte made straight again, in single precision, unrounded.
inline float Unpremultiplied(uint32_t c, uint32_t a) {
  return std::min(std::max(float(c) * 255.0f / float(a), 0.0f), 255.0f);
}

// The ink amounts of one prefiltered pixel (premultiplied), 0..255 each, written into
// the four planes at index i. q is the share of the grey component black takes over.
inline void Separate(uint32_t p, float A, float q, uint8_t* planes[4], size_t i) {
  const uint32_t a = gfx::AlphaOf(p);
  if (a == 0) {
    planes[kCyan][i] = planes[kMagenta][i] = planes[kYellow][i] = planes[kBlack][i] = 0;
    return;
  }
  float r, g, b;
  if (a == 255) {
    r = float(gfx::RedOf(p));
    g = float(gfx::GreenOf(p));
    b = float(gfx::BlueOf(p));
  } else {
    r = Unpremultiplied(gfx::RedOf(p), a);
    g = Unpremultiplied(gfx::GreenOf(p), a);
    b = Unpremultiplied(gfx::BlueOf(p), a);
  }
  // Printed colour looks duller than light: saturation is boosted by 45 % first.
  const float Lm = 0.299f * r + 0.587f * g + 0.114f * b;
  auto boost = [Lm](float c) {
    return std::clamp((Lm * 10000.0f + (c - Lm) * 14500.0f) / 10000.0f, 0.0f, 255.0f);
  };
  r = boost(r);
  g = boost(g);
  b = boost(b);
  const float k = 1.0f - std::max({r, g, b}) / 255.0f;
  if (k >= 0.999f) {
    planes[kCyan][i] = planes[kMagenta][i] = planes[kYellow][i] = 0;
    planes[kBlack][i] = 255;
    return;
  }
  const float kk = k * q;
  auto colourInk = [&](float c) {
    float v = (1.0f - c / 255.0f - kk) / (1.0f - kk);
    if (A < 1.0f)
      v = v * A;
    else if (A > 1.0f)
      v = std::min(1.0f, v * A);
    return uint8_t(RoundEven(std::clamp(v * 255.0f, 0.0f, 255.0f)));
  };
  planes[kCyan][i] = colourInk(r);
  planes[kMagenta][i] = colourInk(g);
  planes[kYellow][i] = colourInk(b);
  planes[kBlack][i] = uint8_t(RoundEven(std::clamp(k * 255.0f, 0.0f, 255.0f)));
}

void Report(Surface& Dest, bool Preview, int p) {
  if (Preview)
    SafeUpdatePreview(Dest, p);
  else
    SafeUpdateProgress(p);
}

// The grid of one screen: cell (col, row) sits at col * C along the screen's x axis and
// row * C along its y axis, the axes turned by the ink's angle. The index ranges cover
// the picture's corners mapped into the screen frame, with one cell to spare.
struct ScreenGrid {
  double cs = 1, sn = 0;
  int col0 = 0, col1 = 0, row0 = 0, row1 = 0;
};

ScreenGrid MakeGrid(double angleDegrees, int W, int H, int C) {
  ScreenGrid g;
  const double theta = angleDegrees * M_PI / 180.0;
  g.cs = std::cos(theta);
  g.sn = std::sin(theta);
  auto span = [](double a, double b, double c, int& lo, int& hi) {
    lo = int(std::floor(std::min({0.0, a, b, c}))) - 1;
    hi = int(std::ceil(std::max({0.0, a, b, c}))) + 1;
  };
  span(W * g.cs / C, H * g.sn / C, (W * g.cs + H * g.sn) / C, g.col0, g.col1);
  span(-W * g.sn / C, H * g.cs / C, (-W * g.sn + H * g.cs) / C, g.row0, g.row1);
  return g;
}

// Draws the dot screen of `ink` onto `layer`, cleared to white first: a disc for every
// grid cell whose centre lies over a visible pixel, sized by the ink there. After every
// grid row with its low four bits zero, atRow(cells visited, cells in the grid) is
// called; when it returns false the screen is left unfinished.
template <class AtRow>
void DrawScreen(Surface& layer, const Ink& ink, const uint8_t* plane, const uint8_t* alpha, int C,
                float h, float rMin, float rMax, AtRow atRow) {
  const int W = layer.width(), H = layer.height();
  // The radius depends on the ink byte alone: tone enters as v^0.75 twice, which lifts
  // the light tones so that highlights still carry a fine dot.
  float radiusOf[256];
  for (int b = 0; b < 256; ++b) {
    float v = float(b) / 255.0f;
    if (v > 0.0f) v = std::pow(v, 0.75f);
    radiusOf[b] = std::max(h * rMax * std::pow(v, 0.75f), h * rMin);
  }
  layer.clear(0xFFFFFFFFu);
  const ScreenGrid grid = MakeGrid(ink.angleDegrees, W, H, C);
  const int64_t total =
      std::max(int64_t(grid.col1 - grid.col0 + 1) * (grid.row1 - grid.row0 + 1), int64_t(1));
  int64_t count = 0;
  QPainter& painter = layer.painter();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(ink.r, ink.g, ink.b));
  for (int row = grid.row0; row <= grid.row1; ++row) {
    for (int col = grid.col0; col <= grid.col1; ++col) {
      ++count;
      const double px = col * C * grid.cs - row * C * grid.sn;
      const double py = col * C * grid.sn + row * C * grid.cs;
      int ix = RoundEven(px), iy = RoundEven(py);
      // Cells up to one cell outside the picture still print, their tone taken from
      // the nearest edge pixel, so the screens run off the borders.
      if (ix < -C || ix >= W + C || iy < -C || iy >= H + C) continue;
      ix = std::clamp(ix, 0, W - 1);
      iy = std::clamp(iy, 0, H - 1);
      const size_t i = size_t(iy) * size_t(W) + size_t(ix);
      if (alpha[i] == 0) continue;
      const float radius = radiusOf[plane[i]];
      if (radius >= 0.4f) painter.drawEllipse(QPointF(px, py), radius, radius);
    }
    if ((row & 15) == 0 && !atRow(count, total)) break;
  }
  layer.flush();
}
}  // namespace

std::vector<uint8_t> ComicContourInk(const Image& Blurred, int P5, int C) {
  const int W = Blurred.width(), H = Blurred.height();
  const size_t N = size_t(W) * size_t(H);
  std::vector<uint8_t> ink(N, 0);
  if (W <= 0 || H <= 0) return ink;
  auto at = [W](int x, int y) { return size_t(y) * size_t(W) + size_t(x); };

  std::vector<uint8_t> lum(N);
  gfx::ParallelFor(H, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* row = Blurred.row(y);
      uint8_t* out = &lum[at(0, y)];
      for (int x = 0; x < W; ++x) {
        const uint32_t p = row[x], a = gfx::AlphaOf(p);
        if (a == 0) {
          out[x] = 0;
        } else if (a == 255) {
          out[x] =
              uint8_t((299 * gfx::RedOf(p) + 587 * gfx::GreenOf(p) + 114 * gfx::BlueOf(p)) / 1000);
        } else {
          const float r = Unpremultiplied(gfx::RedOf(p), a);
          const float g = Unpremultiplied(gfx::GreenOf(p), a);
          const float b = Unpremultiplied(gfx::BlueOf(p), a);
          out[x] = uint8_t(RoundEven(0.299f * r + 0.587f * g + 0.114f * b));
        }
      }
    }
  });

  // Sobel on the interior; the border keeps no gradient.
  std::vector<int16_t> gxs(N, 0), gys(N, 0);
  std::vector<uint16_t> mag(N, 0);
  gfx::ParallelFor(std::max(H - 2, 0), [&](int r0, int r1) {
    for (int y = r0 + 1; y < r1 + 1; ++y) {
      const uint8_t* up = &lum[at(0, y - 1)];
      const uint8_t* mid = &lum[at(0, y)];
      const uint8_t* dn = &lum[at(0, y + 1)];
      for (int x = 1; x < W - 1; ++x) {
        const int gx =
            (up[x + 1] + 2 * mid[x + 1] + dn[x + 1]) - (up[x - 1] + 2 * mid[x - 1] + dn[x - 1]);
        const int gy = (dn[x - 1] + 2 * dn[x] + dn[x + 1]) - (up[x - 1] + 2 * up[x] + up[x + 1]);
        const size_t i = at(x, y);
        gxs[i] = int16_t(gx);
        gys[i] = int16_t(gy);
        mag[i] = uint16_t(std::abs(gx) + std::abs(gy));
      }
    }
  });
  lum = {};

  // Summed-area table of the magnitudes, (W + 1) x (H + 1) with a zero first row and
  // column, so that every box sum is four reads.
  const size_t W1 = size_t(W) + 1;
  std::vector<int64_t> sat(W1 * (size_t(H) + 1), 0);
  for (int y = 0; y < H; ++y) {
    int64_t rowSum = 0;
    const int64_t* prev = &sat[size_t(y) * W1];
    int64_t* cur = &sat[size_t(y + 1) * W1];
    for (int x = 0; x < W; ++x) {
      rowSum += mag[at(x, y)];
      cur[x + 1] = prev[x + 1] + rowSum;
    }
  }

  const int hi =
      P5 > 50 ? std::max(int(RoundRatio(2000 - int64_t(P5 - 50) * 36, 10)), 20) : 800 - P5 * 12;
  const int lo = hi * 3 / 10;

  // Non-maximum suppression thins every edge to the ridge of its magnitude across it.
  std::vector<uint16_t> S(N, 0);
  gfx::ParallelFor(std::max(H - 2, 0), [&](int r0, int r1) {
    for (int y = r0 + 1; y < r1 + 1; ++y) {
      for (int x = 1; x < W - 1; ++x) {
        const size_t i = at(x, y);
        const int G = mag[i];
        if (G < lo) continue;
        const int gx = gxs[i], gy = gys[i];
        size_t n1 = i, n2 = i;
        const size_t up = i - size_t(W), down = i + size_t(W);
        auto vertical = [&] { n1 = up, n2 = down; };
        auto horizontal = [&] { n1 = i - 1, n2 = i + 1; };
        if (gx == 0) {
          vertical();
        } else {
          const int ratio = std::abs(gy) * 1000 / std::abs(gx);
          if (gy == 0 || ratio <= 413) {  // within 22.5 degrees of the x axis
            horizontal();
          } else if (ratio >= 2415) {  // within 22.5 degrees of the y axis
            vertical();
          } else if (gx * gy > 0) {
            n1 = up - 1, n2 = down + 1;
          } else {
            n1 = up + 1, n2 = down - 1;
          }
        }
        if (G >= mag[n1] && G >= mag[n2]) S[i] = uint16_t(G);
      }
    }
  });

  // Double threshold against the local mean: in busy texture (grass, hair) an edge has
  // to stand out from its neighbourhood, not just from zero.
  std::vector<uint8_t> label(N, 0);
  const int R = std::max(C, 6);
  const int64_t kNum = 175 - P5;  // kHi = 3.5 - P5 * 0.02 = kNum / 50, kLo = kNum / 100
  gfx::ParallelFor(H, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const int top = std::max(y - R, 0), bottom = std::min(y + R, H - 1);
      const int64_t* satTop = &sat[size_t(top) * W1];
      const int64_t* satBottom = &sat[size_t(bottom + 1) * W1];
      for (int x = 0; x < W; ++x) {
        const size_t i = at(x, y);
        const int s = S[i];
        if (s == 0) continue;
        const int left = std::max(x - R, 0), right = std::min(x + R, W - 1);
        const int64_t sum =
            satBottom[right + 1] - satBottom[left] - satTop[right + 1] + satTop[left];
        const int64_t area = int64_t(right - left + 1) * (bottom - top + 1);
        const int64_t mean = sum / area;
        if (s >= hi && s >= RoundRatio(mean * kNum, 50))
          label[i] = 2;
        else if (s >= lo && s >= RoundRatio(mean * kNum, 100))
          label[i] = 1;
      }
    }
  });
  sat = {};
  mag = {};

  // Hysteresis: weak pixels survive only when joined to a strong one, and whole lines
  // shorter than minLen are dropped as specks.
  constexpr uint8_t kVisited = 4, kContour = 3;
  const size_t minLen = size_t(std::max(int(RoundRatio(int64_t(C) * 6, 10)), 5));
  std::vector<size_t> stack, component;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (label[at(x, y)] != 2) continue;
      stack.assign(1, at(x, y));
      component.clear();
      label[at(x, y)] = kVisited;
      while (!stack.empty()) {
        const size_t j = stack.back();
        stack.pop_back();
        component.push_back(j);
        const int jx = int(j % size_t(W)), jy = int(j / size_t(W));
        for (int ny = std::max(jy - 1, 0); ny <= std::min(jy + 1, H - 1); ++ny)
          for (int nx = std::max(jx - 1, 0); nx <= std::min(jx + 1, W - 1); ++nx) {
            uint8_t& l = label[at(nx, ny)];
            if (l == 1 || l == 2) {
              l = kVisited;
              stack.push_back(at(nx, ny));
            }
          }
      }
      const uint8_t v = component.size() < minLen ? 0 : kContour;
      for (size_t j : component) label[j] = v;
    }

  // The pen: lines of radius t, swelling up to tMax where the gradient turns (a
  // corner or a tight curve), or a one-pixel line with soft sides when t is 0.
  const int t = P5 > 25 ? std::min(int(RoundRatio(int64_t(P5 - 20) * C, 180)), 12) : 0;
  const int tMax = t + std::max(t / 2, 1);
  struct Offset {
    int dx, dy;
    double cover;
  };
  // The anti-aliased disc of every radius a stamp can have.
  std::vector<std::vector<Offset>> discs(size_t(tMax) + 1);
  for (int rho = 1; rho <= tMax; ++rho) {
    const int reach = rho + 1;
    for (int dy = -reach; dy <= reach; ++dy)
      for (int dx = -reach; dx <= reach; ++dx) {
        const double d = std::sqrt(double(dx * dx + dy * dy));
        if (d <= reach) discs[size_t(rho)].push_back({dx, dy, std::clamp(reach - d, 0.0, 1.0)});
      }
  }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const size_t i = at(x, y);
      if (label[i] != kContour) continue;
      const int Sv = S[i];
      const int s = std::min(P5 / 5 + Sv * 150 / std::max(hi, 1) + 30, 255);
      int rho = t;
      if (t > 0 && Sv > 0) {
        int64_t dev = 0;
        for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, H - 1); ++ny)
          for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, W - 1); ++nx) {
            const size_t n = at(nx, ny);
            dev += std::abs(gxs[n] - gxs[i]) + std::abs(gys[n] - gys[i]);
          }
        // ratio = dev / D; 0.35 < ratio < 1.5 and Round((ratio - 0.35) * t * 1.5), exactly.
        const int64_t D = std::max(int64_t(Sv) * 9, int64_t(1));
        if (7 * D < 20 * dev && 2 * dev < 3 * D)
          rho = std::min(t + int(RoundRatio((20 * dev - 7 * D) * 3 * t, 40 * D)), tMax);
      }
      auto put = [&](int px, int py, int v) {
        if (px < 0 || py < 0 || px >= W || py >= H) return;
        uint8_t& m = ink[at(px, py)];
        if (v > m) m = uint8_t(v);
      };
      if (rho > 0) {
        for (const Offset& o : discs[size_t(rho)]) put(x + o.dx, y + o.dy, RoundEven(s * o.cover));
      } else {
        const int side = int(RoundRatio(int64_t(s) * 65, 100));
        const int corner = int(RoundRatio(int64_t(s) * 3, 10));
        put(x, y, s);
        put(x - 1, y, side);
        put(x + 1, y, side);
        put(x, y - 1, side);
        put(x, y + 1, side);
        put(x - 1, y - 1, corner);
        put(x + 1, y - 1, corner);
        put(x - 1, y + 1, corner);
        put(x + 1, y + 1, corner);
      }
    }
  return ink;
}

void ComicPrintHalftone(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview) {
  if (Source.isEmpty()) return;
  const int W = Source.width(), H = Source.height();
  if (W <= 1 || H <= 1) return;
  CheckCancellation();
  // Scripts and parameter files hand over their numbers unchecked. Outside the sliders'
  // range the cell size reaches zero (an endless screen) or a dot grows without bound,
  // so every value is held to the range the sliders give.
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  P4 = std::clamp(P4, 0, 100);
  P5 = std::clamp(P5, 0, 100);
  const int C = int(RoundRatio(int64_t(P1) * 36, 100)) + 4;
  const float h = float(C) / 2.0f;
  const float rMax = float(P3) / 100.0f;
  float rMin = float(P2) / 100.0f;
  if (rMin > rMax) rMin = rMax;
  const float A = float(P4) / 50.0f;
  const size_t N = size_t(W) * size_t(H);

  std::vector<uint8_t> alpha(N);
  for (int y = 0; y < H; ++y) {
    const uint32_t* row = Source.row(y);
    uint8_t* out = &alpha[size_t(y) * size_t(W)];
    for (int x = 0; x < W; ++x) out[x] = uint8_t(gfx::AlphaOf(row[x]));
  }
  CheckCancellation();

  // Big cells would print the photo's fine texture as ragged dot sizes; a blur of a
  // sixth of a cell gives each dot the mean tone of its cell.
  const Image pre = C < 9 ? Source : gfx::GaussianBlur(Source, C / 6.0f, C / 6.0f);
  CheckCancellation();

  std::vector<uint8_t> planeData(4 * N);
  uint8_t* planes[4] = {&planeData[0], &planeData[N], &planeData[2 * N], &planeData[3 * N]};
  {
    const float q = std::clamp(0.65f - A * 0.15f, 0.25f, 0.75f);
    gfx::ParallelFor(H, [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        const uint32_t* row = pre.row(y);
        const size_t base = size_t(y) * size_t(W);
        for (int x = 0; x < W; ++x) Separate(row[x], A, q, planes, base + size_t(x));
      }
    });
  }
  CheckCancellation();

  // The four screens do not touch each other until they meet on the paper, so each is
  // drawn on a layer of its own, side by side on the worker threads, and the layers are
  // multiplied onto the paper in print order afterwards. Every layer gets exactly the
  // painter calls it would get alone, so the print does not depend on the number of
  // threads. Progress and cancellation belong to the effect's own thread: it reports
  // for the screens it draws, and the other screens stop as soon as it gives up.
  std::vector<int> printed;
  for (int j = 0; j < 4; ++j)
    if (j == kBlack || A >= 0.1f) printed.push_back(j);
  std::vector<std::unique_ptr<Surface>> layers(printed.size());
  const std::thread::id effectThread = std::this_thread::get_id();
  std::atomic<bool> abandon{false};
  gfx::ParallelFor(
      int(printed.size()),
      [&](int begin, int end) {
        for (int k = begin; k < end; ++k) {
          const int j = printed[size_t(k)];
          const bool here = std::this_thread::get_id() == effectThread;
          try {
            if (here) CheckCancellation();
            auto layer = std::make_unique<Surface>(W, H);
            DrawScreen(*layer, kInks[j], planes[j], alpha.data(), C, h, rMin, rMax,
                       [&](int64_t count, int64_t total) {
                         if (abandon.load(std::memory_order_relaxed)) return false;
                         if (here) {
                           Report(
                               Dest, Preview,
                               int(std::min<int64_t>(
                                   RoundRatio(int64_t(j) * 22 * total + count * 22, total), 88)));
                           CheckCancellation();
                         }
                         return true;
                       });
            layers[size_t(k)] = std::move(layer);
          } catch (...) {
            abandon.store(true);
            throw;
          }
        }
      },
      1);

  Surface paper(W, H);
  paper.clear(0xFFFFFFFFu);
  const gfx::Paint multiply{1.0f, gfx::BlendMode::Multiply};
  for (std::unique_ptr<Surface>& layer : layers) {
    CheckCancellation();
    paper.drawImage(layer->snapshot(), 0, 0, gfx::Sampling::Nearest, &multiply);
    layer.reset();
    if (!Preview) {
      const Image FeedbackSnap = paper.snapshot();
      QueueUi([FeedbackSnap] {
        if (!CancelRequested()) ShowIntermediateImage(FeedbackSnap, -1);
      });
    }
  }
  planeData = {};

  // Ink bleeds a little into the paper fibres.
  const Image softened = gfx::GaussianBlur(paper.snapshot(), 0.4f, 0.4f);
  CheckCancellation();
  std::vector<uint32_t> halftone(N);
  if (!softened.readPixels(halftone.data(), qsizetype(W) * 4, gfx::AlphaType::Premultiplied))
    return;

  if (P5 > 0) {
    const float sigma = float(P5) / 100.0f + 1.0f;
    const std::vector<uint8_t> contour =
        ComicContourInk(gfx::GaussianBlur(Source, sigma, sigma), P5, C);
    for (size_t i = 0; i < N; ++i) {
      const uint32_t m = contour[i];
      if (m == 0 || alpha[i] == 0) continue;
      const uint32_t p = halftone[i], keep = 255 - m;
      halftone[i] = gfx::PackArgb(gfx::AlphaOf(p), gfx::RedOf(p) * keep / 255,
                                  gfx::GreenOf(p) * keep / 255, gfx::BlueOf(p) * keep / 255);
    }
    Report(Dest, Preview, 95);
  }

  CheckCancellation();
  // The print keeps the photo's own opacity.
  for (size_t i = 0; i < N; ++i) {
    const uint32_t a = alpha[i];
    if (a == 0) {
      halftone[i] = 0;
    } else if (a != 255) {
      const uint32_t p = halftone[i];
      halftone[i] = gfx::PackArgb(a, gfx::RedOf(p) * a / 255, gfx::GreenOf(p) * a / 255,
                                  gfx::BlueOf(p) * a / 255);
    }
  }
  Dest.clear(0);
  Dest.writePixels(halftone.data(), qsizetype(W) * 4, gfx::AlphaType::Premultiplied);
  Dest.flush();

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace quillora
