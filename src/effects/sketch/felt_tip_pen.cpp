// Felt-tip pen: the photo redrawn with translucent markers. Short flat strokes in the
// photo's colours, a little brighter and more saturated than life, are laid side by
// side; they follow the contours where the picture has contours and lean at about 45
// degrees elsewhere, and they lift off where the colour changes, as a careful hand
// would. Where strokes cross, the ink builds up and darkens like real marker ink.
// Finally a fine grey pen hatches along the strong edges. Not reproducible: the
// process-wide generator is used as it stands.
#include "effects/sketch/felt_tip_pen.h"

#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/pixel.h"

#include <QPainterPath>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace quillora {

namespace {

// The Sobel responses of one pixel; magnitude and direction are derived from them
// where needed, so that the direction (an arc tangent) is only worked out for the few
// pixels that are asked for it.
struct Gradient {
  int16_t a = 0;  // left column minus right column
  int16_t b = 0;  // upper row minus lower row
};

inline int Magnitude(Gradient g) { return std::abs(int(g.a)) + std::abs(int(g.b)); }

// The direction along the edge, radians. 1.5707 rather than pi / 2 is part of the
// look: every stroke on an edge sits a hair off the perpendicular of the gradient.
inline float EdgeAngle(Gradient g) {
  if (g.a == 0 && g.b == 0) return 0.0f;
  return float(std::atan2(double(g.b), double(g.a)) + 1.5707);
}

// Round(v) with ties to even for |v| < 2^51, inline: adding and taking away 1.5 x 2^52
// leaves v rounded to a whole number in the default rounding mode. The stroke walk
// rounds twice per step, where the library call showed in the profile.
inline int RoundSmall(double v) {
  constexpr double kShift = 6755399441055744.0;
  return int((v + kShift) - kShift);
}

std::atomic<MarkerClock> g_clock{nullptr};

uint32_t PictureClock() {
  const MarkerClock clock = g_clock.load();
  return clock ? clock() : TickCount();
}

inline int Luminance(uint32_t p) {
  return int((30 * gfx::RedOf(p) + 59 * gfx::GreenOf(p) + 11 * gfx::BlueOf(p)) / 100);
}

inline int ColourDistance(uint32_t a, uint32_t b) {
  return std::abs(int(gfx::RedOf(a)) - int(gfx::RedOf(b))) +
         std::abs(int(gfx::GreenOf(a)) - int(gfx::GreenOf(b))) +
         std::abs(int(gfx::BlueOf(a)) - int(gfx::BlueOf(b)));
}

// The integral of max(v - X, 0) over X from x0 to x1 (x0 < x1): how much of the edge
// piece lies left of v, weighted by the distance.
inline double RampArea(double v, double x0, double x1) {
  if (v <= x0) return 0.0;
  if (v >= x1) return (x1 - x0) * (v - 0.5 * (x0 + x1));
  return 0.5 * (v - x0) * (v - x0);
}

}  // namespace

void TMarkerInk::Fill(uint32_t* pixels, int width, int height, int stride, const QPointF* pts,
                      int count, uint32_t argb) {
  if (count < 3 || width <= 0 || height <= 0) return;
  // Far beyond any stroke; keeps every conversion to int below in range.
  constexpr double kFar = 1e9;
  double minX = kFar, maxX = -kFar, minY = kFar, maxY = -kFar;
  for (int k = 0; k < count; ++k) {
    const double x = pts[k].x(), y = pts[k].y();
    if (!(std::fabs(x) <= kFar && std::fabs(y) <= kFar)) return;  // also NaN
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  }
  if (!(maxX > 0.0 && minX < width && maxY > 0.0 && minY < height)) return;
  const int row0 = int(std::max(std::floor(minY), 0.0));
  const int row1 = int(std::min(std::ceil(maxY), double(height)));  // exclusive
  if (row0 >= row1) return;
  // Columns gx0..gx1 of the grid. Only running sums matter, so whatever an edge adds
  // left of the picture is gathered in the first cell (column -1 at most) and what it
  // adds right of the picture is dropped; the grid never outgrows the picture.
  const int gx0 = int(std::max(std::floor(minX), -1.0));
  const int gx1 = int(std::min(std::ceil(maxX) + 1.0, double(width)));
  const int gw = gx1 - gx0 + 1;
  const int rows = row1 - row0;
  if (cells_.size() < size_t(gw) * size_t(rows)) cells_.resize(size_t(gw) * size_t(rows), 0.0f);
  if (first_.size() < size_t(rows)) {
    first_.resize(size_t(rows));
    last_.resize(size_t(rows));
  }
  std::fill_n(first_.begin(), rows, gw);
  std::fill_n(last_.begin(), rows, -1);

  // Every edge adds, row by row, the signed share of each pixel lying to its right; the
  // running sum along a row is then the area of the pixel inside the polygon.
  for (int k = 0; k < count; ++k) {
    QPointF p = pts[k], q = pts[(k + 1) % count];
    if (p.y() == q.y()) continue;
    float dir = 1.0f;
    if (p.y() > q.y()) {
      std::swap(p, q);
      dir = -1.0f;
    }
    const double dx = q.x() - p.x(), dy = q.y() - p.y();
    const int r0 = int(std::max(std::floor(p.y()), double(row0)));
    const int r1 = int(std::min(std::ceil(q.y()), double(row1)));
    for (int r = r0; r < r1; ++r) {
      const double ya = std::max(double(r), p.y()), yb = std::min(double(r + 1), q.y());
      if (yb <= ya) continue;
      const float d = float(yb - ya) * dir;
      double x0 = p.x() + dx * ((ya - p.y()) / dy);
      double x1 = p.x() + dx * ((yb - p.y()) / dy);
      if (x0 > x1) std::swap(x0, x1);
      float* cell = &cells_[size_t(r - row0) * size_t(gw)];
      int& lo = first_[size_t(r - row0)];
      int& hi = last_[size_t(r - row0)];
      if (x0 >= gx1) {
        // Only pixels beyond the picture lie right of it; the row's sum runs to the
        // grid's end instead of coming back to zero.
        hi = gw - 1;
        continue;
      }
      if (x1 < gx0) {
        // Wholly left of the grid: every pixel of the row lies right of it.
        cell[0] += d;
        lo = 0;
        hi = std::max(hi, 0);
        continue;
      }
      const int i0 = int(std::floor(x0));
      if (x1 <= i0 + 1 || x1 - x0 < 1e-9) {
        // Within one pixel column: the share right of the piece's middle.
        const float f = float(0.5 * (x0 + x1) - i0);
        const int j = std::max(i0, gx0) - gx0;
        cell[j] += d * (1.0f - f);
        if (i0 + 1 <= gx1) cell[std::max(i0 + 1, gx0) - gx0] += d * f;
        lo = std::min(lo, j);
        hi = std::max(hi, std::min(i0 + 1, gx1) - gx0);
        continue;
      }
      // Across several columns: column i holds the mean of clamp(i + 1 - X, 0, 1) over
      // the piece, a second difference of RampArea; columns left of the grid are taken
      // together.
      const double s = 1.0 / (x1 - x0);
      const int first = std::max(i0, gx0);
      const int last = std::min(int(std::floor(x1)) + 1, gx1);
      double rampLeft = RampArea(first, x0, x1);
      double prev = first > i0 ? s * (rampLeft - RampArea(first - 1, x0, x1)) : 0.0;
      if (first > i0) cell[0] += d * float(prev);
      for (int i = first; i <= last; ++i) {
        const double rampRight = RampArea(i + 1, x0, x1);
        const double c = s * (rampRight - rampLeft);
        cell[i - gx0] += d * float(c - prev);
        prev = c;
        rampLeft = rampRight;
      }
      lo = std::min(lo, first - gx0);
      hi = std::max(hi, last - gx0);
    }
  }

  const uint32_t A = gfx::AlphaOf(argb);
  const uint32_t Pr = gfx::Div255(gfx::RedOf(argb) * A);
  const uint32_t Pg = gfx::Div255(gfx::GreenOf(argb) * A);
  const uint32_t Pb = gfx::Div255(gfx::BlueOf(argb) * A);
  for (int r = 0; r < rows; ++r) {
    const int lo = first_[size_t(r)], hi = last_[size_t(r)];
    if (hi < lo) continue;
    float* cell = &cells_[size_t(r) * size_t(gw)];
    uint32_t* line = pixels + size_t(row0 + r) * size_t(stride);
    float acc = 0.0f;
    for (int i = lo; i <= hi; ++i) {
      acc += cell[i];
      cell[i] = 0.0f;
      const int x = gx0 + i;
      if (x < 0 || x >= width) continue;
      const int m = int(std::min(std::fabs(acc), 1.0f) * 255.0f + 0.5f);
      if (m == 0) continue;
      // The source scaled by coverage, then D (1 - Sa) + S (1 - Da) + S D per channel.
      const uint32_t sa = gfx::Div255(A * uint32_t(m));
      const uint32_t sr = gfx::Div255(Pr * uint32_t(m));
      const uint32_t sg = gfx::Div255(Pg * uint32_t(m));
      const uint32_t sb = gfx::Div255(Pb * uint32_t(m));
      const uint32_t D = line[x];
      const uint32_t da = gfx::AlphaOf(D);
      auto mix = [&](uint32_t s, uint32_t dc) {
        return std::min(gfx::Div255(s * (255 - da) + dc * (255 - sa) + s * dc), 255u);
      };
      line[x] = gfx::PackArgb(sa + da - gfx::Div255(sa * da), mix(sr, gfx::RedOf(D)),
                              mix(sg, gfx::GreenOf(D)), mix(sb, gfx::BlueOf(D)));
    }
  }
}

void SetMarkerClock(MarkerClock clock) { g_clock.store(clock); }

TMarkerSettings MarkerSettings(int P1, int P2, int P3, int P4, int P5) {
  TMarkerSettings s;
  const int d = std::clamp(P1, 0, 100);
  // Round((20 - 0.19 d) / 1.5) on the exact decimal value.
  s.S = std::max(int(RoundRatio(2000 - 19 * int64_t(d), 150)), 1);
  s.StrokeAlpha = int(RoundRatio(int64_t(std::clamp(P2, 0, 100)) * 255, 100));
  // Held to the slider's range like the other four: a script's huge length would draw
  // every stroke across the whole picture and keep the render busy for hours.
  s.L = std::clamp(P3, 2, 100);
  s.w = std::clamp(float(P4) / 4.0f, 1.0f, 25.0f);
  s.e = std::clamp(P5, 0, 100);
  s.Eg = std::max(100 - s.e, 5);
  s.K = std::max(int(RoundRatio(s.e, 20)), 1);
  s.Hatching = s.e > 2;
  return s;
}

uint32_t MarkerInkColour(uint32_t rgb) {
  int c[3] = {int(gfx::RedOf(rgb)), int(gfx::GreenOf(rgb)), int(gfx::BlueOf(rgb))};
  const int mx = std::max({c[0], c[1], c[2]});
  const int mn = std::min({c[0], c[1], c[2]});
  // Greys and near-greys keep their colour; anything with a hue gets more of it.
  if (mx - mn > 34) {
    int f = 2 * (mx - mn) > 110 ? 40 : 2 * (mx - mn - 35);
    const int before[3] = {c[0], c[1], c[2]};
    for (int& v : c)
      if (v == mx) v = std::min(v + f, 255);
    f /= 2;
    for (int i = 0; i < 3; ++i)
      if (before[i] == mn) c[i] = std::max(c[i] - f, 0);
  }
  for (int& v : c) v = std::min(v + 20, 255);
  return gfx::PackArgb(0, uint32_t(c[0]), uint32_t(c[1]), uint32_t(c[2]));
}

void MarkerRenderingEffect(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                           int P5, bool Preview) {
  if (Source.isEmpty() || Dest.width() <= 0 || Dest.height() <= 0) return;
  const int W = Source.width(), H = Source.height();
  const TMarkerSettings set = MarkerSettings(P1, P2, P3, P4, P5);
  const int S = set.S;

  // The photo's own colours: a half-transparent pixel is drawn in its colour, not in
  // the darker premultiplied bytes.
  std::vector<uint32_t> src(size_t(W) * size_t(H));
  if (!Source.readPixels(src.data(), qsizetype(W) * 4, gfx::AlphaType::Unpremultiplied)) return;

  // A preview starts on white paper at once, so the pane never flashes an empty canvas
  // while the edges are being found.
  if (Preview) Dest.clear(0xFFFFFFFFu);

  // A run stops at the next row once it is cancelled (a full render) or stale (a
  // preview that a newer one replaced).
  bool stopped = false;
  auto poll = [&] {
    if (!stopped && EffectCancelled()) stopped = true;
    return stopped;
  };
  // A stopped full render hides the progress bar; a preview never owns it.
  auto finishStopped = [&] {
    if (!Preview)
      SynchronizeUi([] {
        if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
      });
  };

  const int total =
      std::max((H - 2) / 10 + ((H - 1) / S + 1) + (set.Hatching ? (H - 3) / 20 : 0), 1);
  int counter = 0;
  bool canvasStarted = false;
  uint32_t lastShown = 0;
  auto updateProgress = [&] {
    ++counter;
    const int p = std::min(int(RoundRatio(int64_t(counter) * 100, total)), 100);
    if (Preview) {
      SafeUpdatePreview(Dest, p);
      return;
    }
    SafeUpdateProgress(p);
    // The picture so far, four times a second. It has its own clock: the progress
    // throttle has just reset the shared tick, which would hold this back for good.
    // Before the canvas is laid there is nothing worth showing.
    if (!canvasStarted) return;
    const uint32_t now = PictureClock();
    if (uint32_t(now - lastShown) <= 250) return;
    lastShown = now;
    LastUiUpdateTick.store(TickCount());
    const Image shown = Dest.snapshot();
    QueueUi([shown] {
      if (!CancelRequested()) ShowIntermediateImage(shown, -1);
    });
  };

  // Edge map on the luminance, zero on the one-pixel border.
  std::vector<uint8_t> lum(src.size());
  for (size_t i = 0; i < src.size(); ++i) lum[i] = uint8_t(Luminance(src[i]));
  std::vector<Gradient> grad(src.size());
  for (int y = 1; y <= H - 2; ++y) {
    if (poll()) break;
    if (y % 10 == 0) updateProgress();
    const uint8_t* up = &lum[size_t(y - 1) * size_t(W)];
    const uint8_t* mid = up + W;
    const uint8_t* lo = mid + W;
    Gradient* out = &grad[size_t(y) * size_t(W)];
    for (int x = 1; x <= W - 2; ++x) {
      const int a =
          (up[x - 1] + 2 * mid[x - 1] + lo[x - 1]) - (up[x + 1] + 2 * mid[x + 1] + lo[x + 1]);
      const int b = (up[x - 1] + 2 * up[x] + up[x + 1]) - (lo[x - 1] + 2 * lo[x] + lo[x + 1]);
      out[x].a = int16_t(a);
      out[x].b = int16_t(b);
    }
  }
  if (stopped) {
    finishStopped();
    return;
  }

  // The canvas: white paper, or for a full render with "Erase background" off the
  // current picture (the manual brush's base while it works), so that renders build up.
  if (!Preview) {
    bool erase = true;
    Image base;
    if (!SynchronizeUi([&] {
          EffectHost* host = CurrentHost();
          if (!host) return;
          erase = host->EraseBackgroundChecked();
          if (!erase && !host->ResultImage().isEmpty()) {
            base = host->ManualBrushBaseImage();
            if (base.isEmpty()) base = host->ResultImage();
          }
        }))
      return;
    if (erase) {
      Dest.clear(0xFFFFFFFFu);
    } else if (!base.isEmpty()) {
      Dest.clear(0);
      Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
    lastShown = PictureClock();
  }
  canvasStarted = true;

  // Marker pass.
  const int stopM = std::max(set.Eg, 50);
  TMarkerInk marker;
  std::vector<std::pair<int, int>> steps;
  const int stride = int(Dest.bytesPerLine() / 4);
  const int canvasW = std::min(W, Dest.width()), canvasH = std::min(H, Dest.height());
  for (int y = 0; y < H; y += S) {
    if (poll()) break;
    updateProgress();
    // Taken again after every progress picture, which shares the pixels until the
    // surface is next written.
    uint32_t* canvas = reinterpret_cast<uint32_t*>(Dest.bits());
    for (int x = 0; x < W; x += S) {
      const size_t i = size_t(y) * size_t(W) + size_t(x);
      // Nothing to take ink from where the photo is fully transparent: read as black,
      // such a pixel would draw dark strokes along the outline of every cut-out.
      if (gfx::AlphaOf(src[i]) == 0) continue;
      const int Y = lum[i];
      if (Y > 250) continue;
      // Darker places get more strokes.
      const double u = RandomFloat();
      if (u > 1.0 - double(Y) / 400.0) continue;
      const uint32_t ink = MarkerInkColour(src[i]);

      const bool alongEdge = Magnitude(grad[i]) > 40;
      double theta;
      if (alongEdge) {
        theta = double(EdgeAngle(grad[i]));
      } else {
        const double u2 = RandomFloat();
        theta = ((u2 - 0.5) * 40.0 - 45.0) * (M_PI / 180.0);
      }
      const double u3 = RandomFloat();
      const double lambda = std::max(4.0, double(set.L) * (0.8 + 1.2 * u3));
      const int n = RoundEven(lambda * 0.5);
      const double c = std::cos(theta), s = std::sin(theta);
      // The walk's steps, the same both ways: (Round(k cos), Round(k sin)) for k = 1..n.
      steps.resize(size_t(n));
      for (int k = 1; k <= n; ++k)
        steps[size_t(k - 1)] = {RoundSmall(double(k) * c), RoundSmall(double(k) * s)};
      // How far the pen can go from (x, y) one way (dir = 1) or the other before it
      // leaves the picture, hits an edge (strokes across flat areas only) or runs into
      // another colour (past the first fifth of its length).
      auto reach = [&](int dir) {
        int k = 1;
        for (; k <= n; ++k) {
          const int px = x + dir * steps[size_t(k - 1)].first;
          const int py = y + dir * steps[size_t(k - 1)].second;
          if (px < 0 || px >= W || py < 0 || py >= H) break;
          const size_t j = size_t(py) * size_t(W) + size_t(px);
          if (!alongEdge && Magnitude(grad[j]) > stopM) break;
          if (double(k) > 0.2 * lambda && ColourDistance(ink, src[j]) > 90) break;
        }
        return k - 1;
      };
      double f = reach(1), b = reach(-1);
      if (f + b <= 1) f = b = 2;

      const double u4 = RandomFloat();
      const double t = std::max(1.5, double(set.w) * (0.8 + 0.4 * u4));
      const double u5 = RandomFloat();
      const double u6 = RandomFloat();
      const double cx = x + (u5 - 0.5) * S * 0.5;
      const double cy = y + (u6 - 0.5) * S * 0.5;
      // The rectangle (-b, -t/2)..(f, t/2) turned by theta about (cx, cy).
      auto corner = [&](double px, double py) {
        return QPointF(cx + px * c - py * s, cy + px * s + py * c);
      };
      const QPointF quad[4] = {corner(-b, -t / 2), corner(f, -t / 2), corner(f, t / 2),
                               corner(-b, t / 2)};
      marker.Fill(canvas, canvasW, canvasH, stride, quad, 4,
                  (uint32_t(set.StrokeAlpha) << 24) | ink);
    }
  }
  if (stopped) {
    finishStopped();
    return;
  }
  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  }

  // Hatching pass: fine grey lines along the strong edges, where the edge carries on in
  // the same direction for a little way.
  if (set.Hatching) {
    const int edgeBoost = int(RoundRatio(45 * int64_t(set.e), 100));
    QPen pen;
    pen.setCapStyle(Qt::RoundCap);
    for (int y = 2; y <= H - 3; y += 2) {
      if (y % 20 == 0) updateProgress();
      if (poll()) break;
      QPainter& painter = Dest.painter();
      painter.setBrush(Qt::NoBrush);
      painter.setCompositionMode(QPainter::CompositionMode_Multiply);
      for (int x = 2; x <= W - 3; x += 2) {
        const size_t i = size_t(y) * size_t(W) + size_t(x);
        const int M = Magnitude(grad[i]);
        if (M <= set.Eg || gfx::AlphaOf(src[i]) == 0) continue;
        const int grey =
            std::clamp(int(RoundRatio(2 * int64_t(lum[i]), 5)) + Random(40) - 20, 10, 110);
        const double s = std::min(double(M - set.Eg) / 250.0, 1.0);
        const int alpha = std::clamp(RoundEven(s * 8.0) + edgeBoost + 2, 3, 100);
        const int n = RoundEven(double(set.K) * s);
        const double g = std::max(3.0, (0.3 + 0.7 * s) * 15.0);
        const float D = EdgeAngle(grad[i]);
        const int qx = x + RoundEven(std::cos(double(D)) * g * 0.5);
        const int qy = y + RoundEven(std::sin(double(D)) * g * 0.5);
        if (qx < 2 || qx > W - 3 || qy < 2 || qy > H - 3) continue;
        double turn = std::fabs(double(D) - double(EdgeAngle(grad[size_t(qy) * W + qx])));
        if (turn > M_PI) turn = 2.0 * M_PI - turn;
        if (turn > 0.8) continue;

        pen.setColor(QColor(grey, grey, grey, alpha));
        pen.setWidthF(0.5 + 0.5 * s);
        painter.setPen(pen);
        for (int h = 0; h <= n; ++h) {
          const double r1 = RandomFloat(), r2 = RandomFloat(), r3 = RandomFloat();
          const double r4 = RandomFloat(), r5 = RandomFloat();
          const double jx = (r1 - 0.5) * 1.5, jy = (r2 - 0.5) * 1.5;
          const double len = g * (0.7 + 0.3 * r3);
          const double angle = double(D) + (r4 - 0.5) * 0.2;
          const double hx = std::cos(angle) * len * 0.5, hy = std::sin(angle) * len * 0.5;
          const double x1 = x - hx + jx, y1 = y - hy + jy;
          const double x2 = x + hx + jx, y2 = y + hy + jy;
          const double q = (r5 - 0.5) * 3.0;
          const QPointF control((x1 + x2) * 0.5 + q * 0.1 * -(y2 - y1),
                                (y1 + y2) * 0.5 + q * 0.1 * (x2 - x1));
          QPainterPath path(QPointF(x1, y1));
          path.quadTo(control, QPointF(x2, y2));
          painter.drawPath(path);
        }
      }
    }
    if (stopped) {
      finishStopped();
      return;
    }
    if (Preview) {
      LastUiUpdateTick.store(0);
      SafeUpdatePreview(Dest, 101);
    }
  }

  // Ink only where the photo has paper: its opacity is kept.
  const gfx::Paint keepOpacity{1.0f, gfx::BlendMode::DestIn};
  Dest.drawImage(Source, 0, 0, gfx::Sampling::Nearest, &keepOpacity);
  Dest.flush();

  if (!Preview)
    SynchronizeUi([] {
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
    });
}

}  // namespace quillora
