#include "effects/sketch/pencil_sketch_2.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::RedOf;

namespace {

constexpr int kDefaults[5] = {10, 40, 30, 0, 30};

Image Draw(const Image& source, const int (&P)[5], bool preview, uint32_t seed) {
  Surface dest(source.width(), source.height());
  SetRandomSeed(seed);
  Pencil6(source, dest, P[0], P[1], P[2], P[3], P[4], preview);
  return dest.snapshot();
}

Image Patch(int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(430, 560, w, h));
}

// The patch with a transparent hole and a translucent ring round it in its first rows,
// so that the paper takes the transparency.
Image PatchWithHole() {
  const Image patch = Patch(40, 32);
  std::vector<uint32_t> px;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t p = testutil::PixelAt(patch, x, y);
      const int r2 = (x - 12) * (x - 12) + (y - 8) * (y - 8);
      const uint32_t a = r2 < 25 ? 0 : r2 < 49 ? 120 : 255;
      px.push_back(a << 24 | (p & 0xFFFFFF));
    }
  return testutil::MakeImage(40, 32, px);
}

// ---- the drawing as written out step by step, with its scratch copy -----------------

int Grey(uint32_t p) { return AlphaOf(p) == 0 ? 255 : int(GreenOf(p)); }
uint32_t OpaqueGrey(int g) { return 0xFF000000u | uint32_t(g) * 0x010101u; }

std::vector<std::pair<int, int>> Bresenham(int x0, int y0, int x1, int y1) {
  std::vector<std::pair<int, int>> pts;
  const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  while (true) {
    pts.push_back({x0, y0});
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
  }
  return pts;
}

std::vector<uint32_t> ReferenceDrawing(const Image& source, const int (&P)[5], bool preview) {
  const int W = source.width(), H = source.height();
  const int Lmax = P[1] + 5;
  const int Lmin = P[0] > Lmax ? Lmax : P[0];
  const int N0 = 20 * P[2] + 100;
  const int N = preview ? N0 : int(RoundRatio(int64_t(W) * H * N0, 40000)) + 1;
  const int q = int(RoundRatio(int64_t(P[4]) * 25, 10));
  auto src = [&](int x, int y) { return source.row(y)[x]; };
  auto at = [W](int x, int y) { return size_t(y) * W + x; };

  std::vector<uint32_t> dest(size_t(W) * H, 0xFFFFFFFFu);
  bool transparency = false;
  for (int i = 0; i < std::min(2001, W * H); ++i)
    if (AlphaOf(src(i % W, i / W)) < 250) transparency = true;
  if (transparency)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (AlphaOf(src(x, y)) < 10) dest[at(x, y)] = 0;
  std::vector<uint32_t> scratch = dest;
  std::vector<int> T(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = src(x, y);
      const int a = int(AlphaOf(p));
      // As the colour shows on the white paper.
      const int R = int(RedOf(p)) + 255 - a, G = int(GreenOf(p)) + 255 - a,
                B = int(BlueOf(p)) + 255 - a;
      T[at(x, y)] = a < 11 ? 255 : (3 * R + 6 * G + B) / 10;
    }

  std::vector<int> mag(size_t(W) * H, 0);
  std::vector<float> theta(size_t(W) * H, 0.0f);
  std::vector<double> cx(size_t(W) * H), cy(size_t(W) * H);
  for (int y = 1; y <= H - 2; ++y)
    for (int x = 1; x <= W - 2; ++x) {
      auto t = [&](int dx, int dy) { return T[at(x + dx, y + dy)]; };
      const int gx = (47 * t(-1, -1) + 162 * t(-1, 0) + 47 * t(-1, 1)) -
                     (47 * t(1, -1) + 162 * t(1, 0) + 47 * t(1, 1));
      const int gy = (47 * t(-1, -1) + 162 * t(0, -1) + 47 * t(1, -1)) -
                     (47 * t(-1, 1) + 162 * t(0, 1) + 47 * t(1, 1));
      const int m = std::abs(gx) + std::abs(gy);
      mag[at(x, y)] = m;
      float th;
      if (m > 3000)
        th = float(std::atan2(double(gy), double(gx)) + 1.5707);
      else
        th = Random(100) <= 50 ? 2.7415926f : 2.6415927f;
      if (th < 0) th = float(th + 2 * M_PI);
      if (th > M_PI) th = float(th - M_PI);
      theta[at(x, y)] = th;
    }
  for (size_t i = 0; i < mag.size(); ++i) {
    if (mag[i] == 0) theta[i] = 2.6415927f;
    cx[i] = std::cos(double(theta[i])) / 2;
    cy[i] = std::sin(double(theta[i])) / 2;
  }

  for (int s = 0; s <= N; ++s) {
    const int pct = s * 100 / N;
    const int G = pct > 5 ? s * 4 / N : 25;
    int C = q > 127 ? (110 - pct) * ((q - 127) / 15 + 1) : (110 - pct) / ((128 - q) / 25 + 1);
    if (pct < 5) C = C / 4;
    for (int g = 0; g <= G; ++g) {
      int best = 0, patience = 0, bestTone = 0;
      std::vector<std::pair<int, int>> bestPts;
      for (int c = 0; c <= C; ++c) {
        const int x = Random(W - 2) + 1;
        const int y = Random(H - 2) + 1;
        const int d = AlphaOf(src(x, y)) >= 10 ? std::abs(T[at(x, y)] - Grey(dest[at(x, y)])) : 0;
        const int r = Random(pct * 5);
        if (d < r && pct > 4) continue;
        const int t = (2 * Grey(dest[at(x, y)]) + T[at(x, y)]) / 3;
        const int r1 = Random(Lmax / 2 - pct + 100);
        const int r2 = Random(std::min(mag[at(x, y)] / 2500, 40));
        int D = r1 / 3 + r2 + Lmin + 3;
        if (D > Lmax) D = Lmax;
        const int ex = std::clamp(x + RoundEven(D * cx[at(x, y)]), 0, W - 1);
        const int ey = std::clamp(y + RoundEven(D * cy[at(x, y)]), 0, H - 1);
        double diff = std::fabs(double(theta[at(x, y)]) - double(theta[at(ex, ey)]));
        if (diff > M_PI) diff = 2 * M_PI - diff;
        if (diff > 1.05) D = std::max(D / 3, 1);
        const int hx = RoundEven(D * cx[at(x, y)]), hy = RoundEven(D * cy[at(x, y)]);
        const auto pts = Bresenham(std::clamp(x - hx, 0, W - 1), std::clamp(y - hy, 0, H - 1),
                                   std::clamp(x + hx, 0, W - 1), std::clamp(y + hy, 0, H - 1));
        const int n = int(pts.size());
        for (const auto& [px, py] : pts) scratch[at(px, py)] = dest[at(px, py)];
        for (int i = 0; i < n; ++i) {
          const auto [px, py] = pts[i];
          if (AlphaOf(src(px, py)) <= 9) continue;
          const int gg = n == 1 ? 0 : std::clamp(std::abs(i - n / 2) * 384 / (n - 1), 0, 255);
          scratch[at(px, py)] = OpaqueGrey(((255 - gg) * t + gg * Grey(scratch[at(px, py)])) / 255);
        }
        int after = 0, before = 0;
        for (const auto& [px, py] : pts) {
          after += std::abs(Grey(scratch[at(px, py)]) - T[at(px, py)]);
          before += std::abs(Grey(dest[at(px, py)]) - T[at(px, py)]);
        }
        const int score = after - before;
        if (score < best) {
          best = score;
          bestTone = t;
          bestPts = pts;
          patience = 0;
        }
        ++patience;
        if (patience == C / 20 + 5) {
          if (best < 0) break;
          patience = 0;
        }
      }
      if (best < 0) {
        const int n = int(bestPts.size());
        for (int i = 0; i < n; ++i) {
          const auto [px, py] = bestPts[i];
          if (AlphaOf(src(px, py)) <= 9) continue;
          const int f = n == 1 ? 64 : std::clamp(std::abs(i - n / 2) * 384 / (n - 1) + 64, 0, 255);
          dest[at(px, py)] = OpaqueGrey(((255 - f) * bestTone + f * Grey(dest[at(px, py)])) / 255);
        }
      }
    }
  }

  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t& p = dest[at(x, y)];
      if (AlphaOf(src(x, y)) > 9 && AlphaOf(p) > 200 && RedOf(p) + GreenOf(p) + BlueOf(p) < 540)
        p = OpaqueGrey(std::max(0, int(GreenOf(p)) - mag[at(x, y)] / 1800));
    }
  return dest;
}

std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

}  // namespace

TEST(PencilSketch2, SlidersSetTheLoopAndTheSearch) {
  // The number of strokes scales with the area in a full render only.
  EXPECT_EQ(pencil6::StrokeIterations(200, 200, 30, false), 701);
  EXPECT_EQ(pencil6::StrokeIterations(200, 200, 30, true), 700);
  EXPECT_EQ(pencil6::StrokeIterations(100, 100, 0, false), 26);  // 25 exactly, plus one
  EXPECT_EQ(pencil6::StrokeIterations(4000, 3000, 30, false), 210001);
  // Quality is rounded half to even: 2.5 gives 2, 7.5 gives 8.
  const int qualities[][2] = {{0, 0}, {1, 2}, {3, 8}, {30, 75}, {100, 250}};
  for (const auto& [P5, q] : qualities) EXPECT_EQ(pencil6::Quality(P5), q) << P5;
  // Candidates: a sixth at the lowest quality, nine times at the highest, a quarter
  // of that in the first per cent of the loop.
  struct Case {
    int pct, q, C;
  };
  const Case cases[] = {{0, 0, 110 / 6 / 4}, {4, 0, 106 / 6 / 4}, {5, 0, 105 / 6},
                        {50, 0, 60 / 6},     {100, 0, 10 / 6},    {0, 250, 110 * 9 / 4},
                        {5, 250, 105 * 9},   {100, 250, 90},      {30, 75, 80 / 3},
                        {30, 128, 80},       {30, 142, 160}};
  for (const Case& c : cases)
    EXPECT_EQ(pencil6::CandidatesPerStroke(c.pct, c.q), c.C) << c.pct << " " << c.q;
  // 26 strokes per iteration while pct <= 5, then s * 4 div N + 1.
  EXPECT_EQ(pencil6::StrokeGroups(0, 701), 25);
  EXPECT_EQ(pencil6::StrokeGroups(42, 701), 25);  // pct 5
  EXPECT_EQ(pencil6::StrokeGroups(43, 701), 0);   // pct 6
  EXPECT_EQ(pencil6::StrokeGroups(350, 701), 1);
  EXPECT_EQ(pencil6::StrokeGroups(701, 701), 4);
}

TEST(PencilSketch2, MatchesTheStepByStepDrawing) {
  struct Case {
    const char* name;
    int P[5];
    bool preview;
    bool hole;
  };
  const Case cases[] = {
      {"defaults", {10, 40, 30, 0, 30}, false, false},
      {"defaults preview", {10, 40, 30, 0, 30}, true, false},
      {"sliders at zero", {0, 0, 0, 0, 0}, true, false},
      {"longest strokes, highest quality", {100, 100, 0, 0, 100}, true, false},
      {"minimum above maximum", {60, 20, 10, 0, 50}, true, false},
      {"transparent hole", {10, 40, 30, 0, 30}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Image source = c.hole ? PatchWithHole() : Patch(40, 32);
    SetRandomSeed(1234);
    const std::vector<uint32_t> expected = ReferenceDrawing(source, c.P, c.preview);
    const std::vector<uint32_t> actual = Words(Draw(source, c.P, c.preview, 1234));
    ASSERT_EQ(actual.size(), expected.size());
    int differing = 0;
    for (size_t i = 0; i < actual.size(); ++i) differing += actual[i] != expected[i];
    EXPECT_EQ(differing, 0);
    int drawn = 0;
    for (uint32_t p : expected) drawn += p != 0xFFFFFFFFu && p != 0;
    EXPECT_GT(drawn, int(expected.size()) / 4);
  }
}

TEST(PencilSketch2, ColourWashOverTheGreyDrawing) {
  const Image source = Patch(40, 32);
  const int grey[5] = {10, 40, 30, 0, 30};
  const int washed[5] = {10, 40, 30, 60, 30};
  const Image drawing = Draw(source, grey, true, 99);
  for (uint32_t p : Words(drawing)) {
    ASSERT_EQ(RedOf(p), GreenOf(p));
    ASSERT_EQ(GreenOf(p), BlueOf(p));
  }
  // The same strokes, with the photo's hue and saturation laid over at 60 %.
  Surface expected(source.width(), source.height());
  expected.drawImage(drawing, 0, 0, gfx::Sampling::Nearest);
  const gfx::Paint wash{float(RoundRatio(60 * 255, 100)) / 255.0f, gfx::BlendMode::Color};
  expected.drawImage(source, 0, 0, gfx::Sampling::Cubic, &wash);
  const Image tinted = Draw(source, washed, true, 99);
  EXPECT_EQ(testutil::MaxChannelDifference(tinted, expected.snapshot()), 0);
  int coloured = 0;
  for (uint32_t p : Words(tinted)) coloured += RedOf(p) != BlueOf(p);
  EXPECT_GT(coloured, 40);
}

TEST(PencilSketch2, PaperIsTransparentOnlyWhenThePictureShowsItEarly) {
  // Transparent in the first rows: the paper there stays transparent, the rest is
  // opaque.
  const Image holed = PatchWithHole();
  const Image early = Draw(holed, kDefaults, true, 5);
  const std::vector<uint32_t> in = Words(holed), out = Words(early);
  int hole = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    hole += AlphaOf(in[i]) == 0;
    EXPECT_EQ(AlphaOf(out[i]), AlphaOf(in[i]) == 0 ? 0u : 255u);
  }
  EXPECT_GT(hole, 20);
  // Transparent only after the first 2001 pixels: white paper everywhere.
  std::vector<uint32_t> px(60 * 50, 0xFF808080u);
  for (int i = 2100; i < 2400; ++i) px[size_t(i)] = 0;
  const Image late = Draw(testutil::MakeImage(60, 50, px), kDefaults, true, 5);
  for (uint32_t p : Words(late)) ASSERT_EQ(AlphaOf(p), 255u);
}

TEST(PencilSketch2, TranslucentWhiteIsWhitePaper) {
  // Half-transparent white shows as white on the paper: nothing to draw. (Taken as its
  // premultiplied bytes it would be a mid grey and fill with strokes.)
  std::vector<uint32_t> px(48 * 40, 0x80FFFFFFu);
  const Image out = Draw(testutil::MakeImage(48, 40, px), kDefaults, true, 3);
  for (uint32_t p : Words(out)) ASSERT_EQ(p, 0xFFFFFFFFu);
}

TEST(PencilSketch2, Golden) {
  testutil::ExpectMatchesGolden(Draw(Patch(48, 40), {10, 40, 30, 40, 30}, true, 2024),
                                QStringLiteral("pencil_sketch_2"));
}

TEST(PencilSketch2, ProgressOnlyThroughPicturesAndTheFinish) {
  RegisterEffect(101, &Pencil6);
  // A full render large enough to show intermediate pictures (one every 200 ms).
  FakeHost host;
  host.load(TForm3::Instance().DefaultImage());
  {
    EffectRunner runner(host);
    runner.ProcessEffect(101, 10, 40, 30, 0, 30, false);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
    QCoreApplication::processEvents();
  }
  // Intermediate pictures with their percentages, which stay below the finishing value
  // even on the last iteration, then 101. Pictures follow the clock, so a fast machine
  // may finish before the first one is due.
  ASSERT_GE(host.progress.size(), 1u);
  EXPECT_EQ(host.progress.back(), 101);
  for (size_t i = 0; i + 1 < host.progress.size(); ++i) {
    EXPECT_GE(host.progress[i], 1);
    EXPECT_LE(host.progress[i], 100);
    if (i > 0) {
      EXPECT_GE(host.progress[i], host.progress[i - 1]);
    }
  }
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_EQ(host.result.width(), 960);

  // A preview reports nothing: its picture reaches the pane once, from the runner.
  FakeHost preview;
  preview.load(Patch(200, 150));
  {
    EffectRunner runner(preview);
    runner.ProcessEffect(101, 10, 40, 30, 0, 30, true);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(preview.progress.empty());
  EXPECT_EQ(preview.paneBitmaps.size(), 1u);
}

TEST(PencilSketch2, CancelStopsAtTheNextStroke) {
  RegisterEffect(101, &Pencil6);
  // Cancels as the first intermediate picture arrives.
  class CancellingHost : public FakeHost {
   public:
    EffectRunner* runner = nullptr;
    void SetResultImage(const gfx::Image& image) override {
      FakeHost::SetResultImage(image);
      if (runner && ++shown == 1) runner->SetCancel(true);
    }
    int shown = 0;
  } host;
  host.load(TForm3::Instance().DefaultImage());
  EffectRunner runner(host);
  host.runner = &runner;
  runner.ProcessEffect(101, 10, 40, 30, 0, 30, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
  EXPECT_EQ(host.shown, 1);  // neither later pictures nor the finished drawing
  EXPECT_EQ(host.progress.back(), 101);
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_FALSE(runner.IsEffectRunning());
}
