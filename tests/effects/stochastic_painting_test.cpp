#include "effects/painting/stochastic_painting.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace quillora;
using namespace quillora::stochastic_painting;
using gfx::AlphaOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr double kPi = 3.14159265358979323846;

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

Image Paint(const Image& source, const std::array<int, 5>& P, bool preview, uint32_t seed = 11) {
  SetRandomSeed(seed);
  Surface dest(source.width(), source.height());
  StochasticPainting(source, dest, P[0], P[1], P[2], P[3], P[4], preview);
  return dest.snapshot();
}

const std::array<int, 5> kDefaults = {10, 50, 20, 50, 90};

void Render(FakeHost& host, const std::array<int, 5>& P) {
  EffectRunner runner(host);
  SetRandomSeed(3);
  runner.ProcessEffect(307, P[0], P[1], P[2], P[3], P[4], false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }));
  QCoreApplication::processEvents();
}

// The test of one attempt exactly as written.
int64_t PlainGain(const TStrokeTest& t, const std::vector<uint8_t>& brush, int x, int y, float s,
                  double theta, uint32_t C, int step) {
  const float half = s / 2.0f;
  const int reach = int(std::ceil(1.414 * double(half)));
  int64_t gain = 0;
  for (int r = std::max(0, y - reach); r <= std::min(t.h - 1, y + reach); ++r)
    for (int c = std::max(0, x - reach); c <= std::min(t.w - 1, x + reach); ++c) {
      if (r % step != 0 || c % step != 0) continue;
      const uint32_t S = t.src[r * t.srcStride + c];
      if (t.HasTransparency && AlphaOf(S) <= 9) continue;
      const int u = int(std::nearbyint(
          ((c - x) * std::cos(-theta) - (r - y) * std::sin(-theta)) * 250.0 / double(s) + 125.0));
      const int v = int(std::nearbyint(
          ((c - x) * std::sin(-theta) + (r - y) * std::cos(-theta)) * 250.0 / double(s) + 125.0));
      if (u < 0 || v < 0 || u >= 250 || v >= 250) continue;
      const int a = brush[size_t(v) * 250 + u];
      if (a <= 10) continue;
      const int K = a * t.Opacity / 255;
      const uint32_t D = t.dst[r * t.dstStride + c];
      int P[3];
      const int Cc[3] = {int(gfx::RedOf(C)), int(gfx::GreenOf(C)), int(gfx::BlueOf(C))};
      const int Dc[3] = {int(gfx::RedOf(D)), int(gfx::GreenOf(D)), int(gfx::BlueOf(D))};
      const int Sc[3] = {int(gfx::RedOf(S)), int(gfx::GreenOf(S)), int(gfx::BlueOf(S))};
      for (int k = 0; k < 3; ++k)
        P[k] = K == 0 ? Dc[k] : K == 255 ? Cc[k] : (Cc[k] * K + Dc[k] * (255 - K)) / 255;
      for (int k = 0; k < 3; ++k) gain += std::abs(Sc[k] - Dc[k]) - std::abs(Sc[k] - P[k]);
    }
  return gain;
}

}  // namespace

TEST(StochasticPainting, SlidersMapToTheirQuantities) {
  struct Case {
    int w, h, P1, P2, P3, P4, P5;
    int minSize, maxSize;
    int64_t strokes;
    int step, attempts, opacity;
  };
  const Case cases[] = {
      // 7500 cells x (1.5 x 20 + 5).
      {2000, 1500, 10, 50, 20, 50, 90, 20, 100, 262500, 5, 6, 230},
      // Precision above 80: three quarters of the strokes.
      {2000, 1500, 10, 50, 20, 90, 90, 20, 100, 196875, 1, 10, 230},
      // The sizes swap; opacity 0 still paints at 20; 2.55 x 50 = 127.5 rounds to 128.
      {2000, 1500, 100, 0, 20, 50, 0, 10, 200, 262500, 5, 6, 20},
      {640, 480, 0, 0, 55, 0, 50, 5, 10, RoundRatio(768 * 175, 2), 10, 1, 128},
      // Many iterations coarsen the test and limit the attempts.
      {640, 480, 3, 200, 61, 100, 100, 6, 250, RoundRatio(768 * 193 * 3, 8), 2, 5, 255},
      {640, 480, 3, 20, 90, 40, 100, 6, 40, RoundRatio(768 * 280, 2), 6, 2, 255},
      // Fewer than 400 pixels: no stroke at all.
      {19, 20, 10, 50, 20, 50, 90, 20, 100, 0, 5, 6, 230},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P=" << c.P1 << "," << c.P2 << ","
                                    << c.P3 << "," << c.P4 << "," << c.P5);
    const TStochasticSettings s =
        StochasticPaintingSettings(c.w, c.h, c.P1, c.P2, c.P3, c.P4, c.P5);
    EXPECT_EQ(s.MinSize, c.minSize);
    EXPECT_EQ(s.MaxSize, c.maxSize);
    EXPECT_EQ(s.StrokeCount, c.strokes);
    EXPECT_EQ(s.TestStep, c.step);
    EXPECT_EQ(s.Attempts, c.attempts);
    EXPECT_EQ(s.Opacity, c.opacity);
  }
  // Strokes shrink from the largest to the smallest size.
  const TStochasticSettings s = StochasticPaintingSettings(2000, 1500, 10, 50, 20, 50, 90);
  EXPECT_EQ(StochasticStrokeSize(s, 0), 100.0f);
  EXPECT_NEAR(StochasticStrokeSize(s, s.StrokeCount / 2), 20.0f + 80.0f / 8.0f, 1e-4);
  EXPECT_NEAR(StochasticStrokeSize(s, s.StrokeCount - 1), 20.0f, 1e-4);
}

TEST(StochasticPainting, StrokesRunAlongTheEdgesOfTheRedChannel) {
  // Dark on the left, bright on the right in red: the edge is vertical, and so is the
  // stroke direction (pi / 2 with y pointing down). The same edge in green is not seen.
  std::vector<uint32_t> red(64 * 48), green(64 * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      red[size_t(y) * 64 + x] = x < 32 ? 0xFF000000u : 0xFFFF0000u;
      green[size_t(y) * 64 + x] = x < 32 ? 0xFF000000u : 0xFF00FF00u;
    }
  const TDirectionMap map = BuildDirectionMap(MakeImage(64, 48, red));
  ASSERT_EQ(map.width, 64);
  ASSERT_EQ(map.height, 48);
  const TDirectionCell& edge = map.CellOf(32, 20, 64, 48);
  EXPECT_EQ(edge.Magnitude, 255);
  EXPECT_NEAR(edge.Angle, kPi / 2, 1e-6);
  EXPECT_EQ(map.CellOf(10, 20, 64, 48).Magnitude, 0);
  EXPECT_EQ(map.CellOf(0, 0, 64, 48).Magnitude, 0);  // border
  EXPECT_EQ(BuildDirectionMap(MakeImage(64, 48, green)).CellOf(32, 20, 64, 48).Magnitude, 0);

  // A wide strip: Round(1 x 256 / 1000) is 0 rows; the map keeps one, so every pixel
  // still has a cell.
  const TDirectionMap strip = BuildDirectionMap(SolidImage(1000, 1, 0xFF808080));
  EXPECT_EQ(strip.width, 256);
  EXPECT_EQ(strip.height, 1);
  EXPECT_EQ(strip.CellOf(999, 0, 1000, 1).Magnitude, 0);
  const Image out = Paint(SolidImage(2000, 1, 0xFF808080), kDefaults, false);
  EXPECT_EQ(out.width(), 2000);
}

TEST(StochasticPainting, TheTestIsTheGainOfTheStrokeAsWritten) {
  const Image atlas = TForm3::Instance().Picture(QStringLiteral("TemplateMatchingBrushes"));
  ASSERT_FALSE(atlas.isEmpty());
  const Image source = Patch(300, 400, 90, 70);
  // A painting half done: part white, part a shifted copy of the photo.
  const Image other = Patch(310, 405, 90, 70);
  std::vector<uint32_t> dst(90 * 70), src(90 * 70);
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 90; ++x) {
      dst[size_t(y) * 90 + x] = (x + y) % 3 ? other.row(y)[x] : 0xFFFFFFFFu;
      src[size_t(y) * 90 + x] = source.row(y)[x];
      if ((x * 7 + y) % 11 == 0) src[size_t(y) * 90 + x] = gfx::Premultiply(0x08FFFFFFu);
    }
  for (int k : {0, 13, 26, 36}) {
    // The brush as the effect cuts it.
    Surface cell(250, 250);
    const gfx::ColorMatrixValues coverage = {0, 0, 0, 0, 1, 0,       0,       0,       0, 1,
                                             0, 0, 0, 0, 1, -0.299f, -0.587f, -0.114f, 0, 1};
    cell.drawImageRect(gfx::ColorMatrix(atlas, coverage),
                       QRectF(250 * (k % 5), 250 * (k / 5), 250, 250), QRectF(0, 0, 250, 250),
                       gfx::Sampling::Cubic);
    const TTestBrush brush = MakeTestBrush(cell.snapshot());
    for (bool transparency : {false, true})
      for (int t : {1, 3, 5})
        for (const float s : {7.5f, 21.0f, 64.0f})
          for (const double theta : {0.0, 0.7, -2.1, 3.3}) {
            TStrokeTest test;
            test.src = src.data();
            test.srcStride = 90;
            test.dst = dst.data();
            test.dstStride = 90;
            test.w = 90;
            test.h = 70;
            test.HasTransparency = transparency;
            for (int O : {20, 128, 255}) {
              test.Opacity = O;
              for (const auto& xy : {std::pair{45, 35}, std::pair{2, 68}, std::pair{89, 0}}) {
                const uint32_t C = src[size_t(xy.second) * 90 + xy.first];
                ASSERT_EQ(StrokeGain(test, brush, xy.first, xy.second, s, theta, C, t),
                          PlainGain(test, brush.coverage, xy.first, xy.second, s, theta, C, t))
                    << "brush " << k << " t " << t << " s " << s << " theta " << theta << " O " << O
                    << " at " << xy.first << "," << xy.second;
              }
            }
          }
  }
  // Painting a pixel's own colour over white where the source is that colour helps.
  TStrokeTest flat;
  std::vector<uint32_t> grey(40 * 40, 0xFF404040u), white(40 * 40, 0xFFFFFFFFu);
  flat.src = grey.data();
  flat.dst = white.data();
  flat.srcStride = flat.dstStride = flat.w = flat.h = 40;
  Surface solid(250, 250);
  solid.clear(0xFFFFFFFF);
  EXPECT_GT(StrokeGain(flat, MakeTestBrush(solid.snapshot()), 20, 20, 10.0f, 0.3, 0xFF404040u, 1),
            0);
}

TEST(StochasticPainting, PaintsAPatchAsItAlwaysHas) {
  testutil::ExpectMatchesGolden(Paint(Patch(380, 400, 64, 48), kDefaults, true),
                                "stochastic_painting");
  testutil::ExpectMatchesGolden(Paint(Patch(300, 500, 50, 40), {2, 20, 80, 95, 40}, true),
                                "stochastic_painting_fine");
}

TEST(StochasticPainting, TheCanvasIsWhiteTheSilhouetteOrTheCurrentPicture) {
  // A transparent right half with "Erase background" on: strokes of 10 pixels centred
  // only where the photo is, on a white silhouette; transparent beyond their reach.
  std::vector<uint32_t> px(80 * 60, 0);
  const Image photo = Patch(350, 350, 80, 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 40; ++x) px[size_t(y) * 80 + x] = gfx::Unpremultiply(photo.row(y)[x]);
  {
    FakeHost host;
    host.load(MakeImage(80, 60, px));
    Render(host, {5, 5, 20, 50, 90});
    ASSERT_EQ(host.result.width(), 80);
    int painted = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x) {
        const uint32_t p = testutil::PremultipliedAt(host.result, x, y);
        if (x < 40) {
          EXPECT_EQ(AlphaOf(p), 255u);
          painted += p != 0xFFFFFFFFu;
        }
      }
    EXPECT_GT(painted, 40 * 60 / 4);
    for (int y = 0; y < 60; ++y)
      for (int x = 40 + 10; x < 80; ++x)
        EXPECT_EQ(testutil::PremultipliedAt(host.result, x, y), 0u);
  }
  // Fewer than 400 pixels make no stroke, which shows the canvas itself: white with
  // "Erase background" on, the current picture (or the manual brush's) with it off.
  class ManualBrushHost : public FakeHost {
   public:
    Image base;
    Image ManualBrushBaseImage() override { return base; }
  };
  ManualBrushHost host;
  host.load(Patch(0, 0, 19, 20));
  Render(host, kDefaults);
  EXPECT_EQ(testutil::MaxChannelDifference(host.result, SolidImage(19, 20, 0xFFFFFFFF)), 0);
  EXPECT_EQ(host.progress.back(), 101);
  host.eraseBackground = false;
  const Image current = Patch(30, 30, 19, 20);
  host.result = current;
  Render(host, kDefaults);
  EXPECT_EQ(testutil::MaxChannelDifference(host.result, current), 0);
  host.base = Patch(60, 60, 19, 20);
  Render(host, kDefaults);
  EXPECT_EQ(testutil::MaxChannelDifference(host.result, host.base), 0);
}

TEST(StochasticPainting, WithoutTheAtlasOnlyTheBackgroundRemains) {
  TForm3::Instance().SetPicture(QStringLiteral("TemplateMatchingBrushes"), Image());
  const Image out = Paint(Patch(0, 0, 60, 40), kDefaults, true);
  TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("TemplateMatchingBrushes"));
  EXPECT_EQ(testutil::MaxChannelDifference(out, SolidImage(60, 40, 0xFFFFFFFF)), 0);
}
