#include "effects/painting/impasto.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
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
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

// Mean PixelDelta between two pictures of one size.
double MeanDelta(const Image& a, const Image& b) {
  int64_t sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) sum += PixelDelta(a.row(y)[x], b.row(y)[x]);
  return double(sum) / (double(a.width()) * a.height());
}

Image PaintPreview(const Image& source, int P1, int P2, int P3, int P4, int P5, int bands = 1) {
  Surface dest(source.width(), source.height());
  SystematicPaintingBands(source, dest, P1, P2, P3, P4, P5, true, bands);
  return dest.snapshot();
}

// A full render through the runner, as the render button starts it.
void Render(EffectRunner& runner, int P1, int P2, int P3, int P4, int P5) {
  runner.ProcessEffect(304, P1, P2, P3, P4, P5, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
}

class ManualBrushHost : public FakeHost {
 public:
  Image base;
  Image ManualBrushBaseImage() override { return base; }
};

void ThreeBands(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                bool Preview) {
  SystematicPaintingBands(Source, Dest, P1, P2, P3, P4, P5, Preview, 3);
}

// Runs effect 304 on three bands for one test, whatever the machine's processors.
class ThreeBandsRegistered {
 public:
  ThreeBandsRegistered() { RegisterEffect(304, &ThreeBands); }
  ~ThreeBandsRegistered() { RegisterEffect(304, &SystematicPainting); }
};

}  // namespace

TEST(Impasto, SlidersMapToTheirQuantities) {
  struct Case {
    int w, h, P1, P2, P3, P4, P5;
    int minSize, maxSize, lastPass, refine, skipLimit, layers, scale, workW, workH;
    float opacity;
  };
  const Case cases[] = {
      // Defaults: 5.12 x 10 = 51.2; 0.45 x 50 = 22.5 rounds to even.
      {1000, 800, 10, 50, 50, 50, 100, 51, 256, 16, 7, 42, 2, 1, 1000, 800, 1.0f},
      // Quality 100 keeps full resolution for large pictures; opacity 0 is still 0.05.
      {2000, 1000, 10, 50, 50, 100, 0, 51, 256, 18, 12, 20, 2, 1, 2000, 1000, 0.05f},
      {2000, 1000, 10, 50, 50, 98, 0, 51, 256, 18, 11, 21, 2, 1, 2000, 1000, 0.05f},
      {2000, 1000, 10, 50, 50, 97, 50, 51, 256, 18, 11, 21, 2, 2, 1000, 500, 0.5f},
      {2000, 1000, 10, 50, 50, 50, 100, 51, 256, 16, 7, 42, 2, 2, 1000, 500, 1.0f},
      // 1,920,000 pixels exactly is not "above".
      {1600, 1200, 10, 50, 50, 50, 100, 51, 256, 16, 7, 42, 2, 1, 1600, 1200, 1.0f},
      {1000, 800, 0, 0, 0, 0, 0, 3, 3, 8, 2, 65, 1, 1, 1000, 800, 0.05f},
      // A max below the min is raised to it; 0.45 x 70 = 31.5 rounds to even.
      {1000, 800, 60, 20, 79, 30, 50, 307, 307, 12, 5, 52, 2, 1, 1000, 800, 0.5f},
      {1000, 800, 10, 50, 39, 12, 100, 51, 256, 8, 3, 60, 1, 1, 1000, 800, 1.0f},
      {1000, 800, 10, 50, 80, 13, 100, 51, 256, 12, 3, 59, 3, 1, 1000, 800, 1.0f},
      {1000, 800, 10, 50, 40, 62, 100, 51, 256, 16, 8, 37, 2, 1, 1000, 800, 1.0f},
      {1000, 800, 10, 50, 40, 63, 100, 51, 256, 18, 8, 37, 2, 1, 1000, 800, 1.0f},
      // Values from outside the sliders (scripts): P3 and P4 are clamped, the sizes
      // are held at their limits.
      {1000, 800, 1000, 1000, 150, -5, 300, 1024, 2048, 8, 2, 65, 3, 1, 1000, 800, 1.0f},
      {1000, 800, -7, -7, -1, 400, -3, 3, 3, 18, 12, 20, 1, 1, 1000, 800, 0.05f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " P=" << c.P1 << "," << c.P2 << ","
                                    << c.P3 << "," << c.P4 << "," << c.P5);
    const TImpastoSettings s = ImpastoSettings(c.w, c.h, c.P1, c.P2, c.P3, c.P4, c.P5);
    EXPECT_EQ(s.MinSize, c.minSize);
    EXPECT_EQ(s.MaxSize, c.maxSize);
    EXPECT_EQ(s.LastPass, c.lastPass);
    EXPECT_EQ(s.RefineCount, c.refine);
    EXPECT_EQ(s.SkipLimit, c.skipLimit);
    EXPECT_EQ(s.DensityLayers, c.layers);
    EXPECT_EQ(s.ScaleFactor, c.scale);
    EXPECT_EQ(s.WorkW, c.workW);
    EXPECT_EQ(s.WorkH, c.workH);
    EXPECT_FLOAT_EQ(s.GlobalOpacity, c.opacity);
  }
  // (P3 / 100)^2 x 8 + 0.002 strokes per brush area; the scratch holds 1.5 brushes.
  EXPECT_EQ(ImpastoSettings(1000, 800, 10, 50, 50, 50, 100).DensityPer10000, 20020);
  EXPECT_EQ(ImpastoSettings(1000, 800, 10, 50, 0, 50, 100).DensityPer10000, 20);
  EXPECT_EQ(ImpastoSettings(1000, 800, 10, 50, 50, 50, 100).ScratchSize, 640);
  EXPECT_EQ(ImpastoSettings(300, 200, 10, 100, 50, 50, 100).ScratchSize, 406);
}

TEST(Impasto, PassesShrinkTheBrushFromLargestToSmallest) {
  const TImpastoSettings s = ImpastoSettings(1000, 800, 10, 50, 50, 50, 100);
  const TImpastoPass first = ImpastoPass(s, 0);
  EXPECT_EQ(first.CurrentBrushSize, 256);
  EXPECT_FALSE(first.IsStochastic);
  EXPECT_EQ(first.GridStep, 205);     // 0.8 x 256 = 204.8
  EXPECT_EQ(first.ScanLimit, 181);    // 0.7 x 256 = 179.2, + 2
  EXPECT_EQ(first.Threshold, 22938);  // 0.35 x 256^2 = 22937.6
  EXPECT_EQ(first.CheckStep, 5);
  EXPECT_EQ(first.CurrentRefineCount, 7);
  EXPECT_EQ(first.CurrentSideSteps, 4);
  EXPECT_EQ(first.DensityLayers, 2);
  // F = 1/2: 51 + 205 / 16 = 51 + 12.8125.
  EXPECT_EQ(ImpastoPass(s, 8).CurrentBrushSize, 64);
  int previous = first.CurrentBrushSize;
  for (int k = 1; k <= s.LastPass; ++k) {
    const TImpastoPass p = ImpastoPass(s, k);
    EXPECT_LE(p.CurrentBrushSize, previous);
    previous = p.CurrentBrushSize;
    // The last passes (k > 0.7 N = 11.2) scatter single strokes.
    EXPECT_EQ(p.IsStochastic, k >= 12) << k;
    if (p.IsStochastic) {
      EXPECT_EQ(p.GridStep, 1);
      EXPECT_EQ(p.DensityLayers, 1);
    }
  }
  EXPECT_EQ(previous, 51);

  // Equal sliders give one size throughout; small brushes search less.
  const TImpastoSettings same = ImpastoSettings(1000, 800, 6, 6, 50, 50, 100);
  for (int k = 0; k <= same.LastPass; ++k) EXPECT_EQ(ImpastoPass(same, k).CurrentBrushSize, 31);
  const TImpastoPass medium = ImpastoPass(same, 0);
  EXPECT_EQ(medium.CurrentRefineCount, 3);
  EXPECT_EQ(medium.CurrentSideSteps, 1);
  EXPECT_EQ(medium.CheckStep, 3);
  const TImpastoPass tiny = ImpastoPass(ImpastoSettings(1000, 800, 1, 1, 50, 50, 100), 0);
  EXPECT_EQ(tiny.CurrentBrushSize, 5);
  EXPECT_EQ(tiny.CurrentRefineCount, 1);
  EXPECT_EQ(tiny.CurrentSideSteps, 0);
  EXPECT_EQ(tiny.CheckStep, 1);
  EXPECT_EQ(tiny.GridStep, 4);
  // At half resolution strokes are chosen at half size and painted at full size.
  const TImpastoPass half = ImpastoPass(ImpastoSettings(2000, 1000, 10, 50, 50, 50, 100), 0);
  EXPECT_EQ(half.CurrentBrushSize, 256);
  EXPECT_EQ(half.WorkBrushSize, 128);
  EXPECT_EQ(half.ScanLimit, 92);
}

TEST(Impasto, QualityDecidesTheNumberOfPasses) {
  // Every pass shows its picture with Round(100 k / N), ties to even; then 101.
  FakeHost host;
  host.load(Patch(400, 600, 64, 64));
  EffectRunner runner(host);
  Render(runner, 10, 50, 50, 0, 100);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 12, 25, 38, 50, 62, 75, 88, 100, 101}));
  EXPECT_EQ(host.historySaves, 1);

  host.progress.clear();
  Render(runner, 10, 50, 50, 100, 100);
  std::vector<int> expected;
  for (int k = 0; k <= 18; ++k) expected.push_back(int(RoundRatio(100 * k, 18)));
  expected.push_back(101);
  EXPECT_EQ(host.progress, expected);
  ASSERT_EQ(host.result.width(), 64);
}

TEST(Impasto, EraseBackgroundOffPaintsOverTheCurrentResult) {
  const Image source = Patch(300, 500, 160, 160);
  {
    // Nothing is left to improve on a result that already is the source.
    FakeHost host;
    host.load(source);
    host.eraseBackground = false;
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    EXPECT_EQ(testutil::MaxChannelDifference(host.result, source), 0);
  }
  {
    // A grey square on the result is painted over; strokes reach at most a brush
    // length (size 20) around it, and the rest of the result stays as it was.
    Surface damaged(160, 160);
    damaged.drawImage(source, 0, 0, gfx::Sampling::Nearest);
    damaged.fillRect(QRectF(70, 70, 20, 20), 0xFF808080u);
    const Image before = damaged.snapshot();
    FakeHost host;
    host.source = source;
    host.result = before;
    host.eraseBackground = false;
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    const Image after = host.result;
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 160; ++x)
        if (x < 30 || x > 130 || y < 30 || y > 130) {
          ASSERT_EQ(after.row(y)[x], source.row(y)[x]) << x << "," << y;
        }
    const Image sq = source.subset(QRect(70, 70, 20, 20));
    EXPECT_LT(MeanDelta(after.subset(QRect(70, 70, 20, 20)), sq),
              0.5 * MeanDelta(before.subset(QRect(70, 70, 20, 20)), sq));
  }
  {
    // While the manual brush works, its base image is the canvas, not the result.
    ManualBrushHost host;
    host.source = source;
    host.result = SolidImage(160, 160, 0xFF2040A0u);
    host.base = source;
    host.eraseBackground = false;
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    EXPECT_EQ(testutil::MaxChannelDifference(host.result, source), 0);
  }
}

TEST(Impasto, EraseBackgroundOnStartsFromABlankCanvas) {
  // White for an opaque photo: every pixel ends up opaque.
  {
    FakeHost host;
    host.load(Patch(100, 300, 90, 70));
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x) ASSERT_EQ(AlphaOf(host.result.row(y)[x]), 255u);
  }
  // Transparent when the photo has transparency: far from the opaque part nothing is
  // painted, and the opaque part is painted.
  {
    std::vector<uint32_t> px(120 * 60);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 120; ++x) px[size_t(y) * 120 + x] = x < 60 ? 0u : 0xFF3080C0u;
    FakeHost host;
    host.load(MakeImage(120, 60, px));
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    int painted = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 120; ++x) {
        const uint32_t p = host.result.row(y)[x];
        if (x < 25) {
          ASSERT_EQ(p, 0u) << x << "," << y;
        }
        if (x >= 60 && AlphaOf(p) > 200) ++painted;
      }
    EXPECT_GT(painted, 60 * 60 * 9 / 10);
  }
  // Sources of 49 pixels or less in either direction keep the background alone.
  for (const QSize size : {QSize(49, 80), QSize(80, 49)}) {
    FakeHost host;
    host.load(SolidImage(size.width(), size.height(), 0xFF102030u));
    EffectRunner runner(host);
    Render(runner, 4, 4, 50, 50, 100);
    EXPECT_EQ(testutil::MaxChannelDifference(host.result,
                                             SolidImage(size.width(), size.height(), 0xFFFFFFFFu)),
              0);
  }
}

TEST(Impasto, CancelledRenderStopsAtTheNextCancellationPoint) {
  for (bool threeBands : {false, true}) {
    SCOPED_TRACE(threeBands ? "three bands" : "machine's bands");
    std::unique_ptr<ThreeBandsRegistered> bands;
    if (threeBands) bands = std::make_unique<ThreeBandsRegistered>();
    FakeHost host;
    host.load(Patch(0, 0, 800, 600));
    EffectRunner runner(host);
    runner.ProcessEffect(304, 2, 30, 100, 100, 100, false);
    ASSERT_TRUE(testutil::WaitFor([&] { return !host.progress.empty(); }, 120000));
    runner.SetCancel(true);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
    QCoreApplication::processEvents();
    // Stopped well before the 19 passes were through, with the progress bar hidden
    // and the picture so far recorded.
    EXPECT_EQ(std::count(host.progress.begin(), host.progress.end(), 100), 0);
    EXPECT_EQ(host.progress.back(), 101);
    EXPECT_EQ(host.historySaves, 1);
    EXPECT_FALSE(runner.IsEffectRunning());
  }
}

TEST(Impasto, OneBandWithOneSeedGivesOnePicture) {
  const Image patch = Patch(420, 560, 96, 72);
  SetRandomSeed(304);
  const Image a = PaintPreview(patch, 10, 50, 50, 50, 100);
  SetRandomSeed(304);
  const Image b = PaintPreview(patch, 10, 50, 50, 50, 100);
  EXPECT_EQ(testutil::MaxChannelDifference(a, b), 0);
  testutil::ExpectMatchesGolden(a, QStringLiteral("impasto_brushstrokes"));
}

TEST(Impasto, BandsShareTheWorkWithoutLosingStrokes) {
  // Three bands race for neighbouring rows; the picture must come out as complete
  // and as close to the photo as with one.
  const Image patch = Patch(200, 400, 240, 180);
  const Image one = PaintPreview(patch, 4, 20, 50, 50, 100, 1);
  const Image three = PaintPreview(patch, 4, 20, 50, 50, 100, 3);
  int holes = 0;
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 240; ++x) holes += AlphaOf(three.row(y)[x]) < 128;
  EXPECT_LT(holes, 240 * 180 / 100);
  EXPECT_LT(MeanDelta(three, patch), 1.3 * MeanDelta(one, patch) + 2.0);
}

TEST(Impasto, StrokesAboveFifteenPixelsStandInRelief) {
  // On one flat colour every stroke has that colour; only the relief shades it.
  auto shades = [](int P) {
    const Image out = PaintPreview(SolidImage(120, 120, 0xFF808080u), P, P, 50, 50, 100);
    int lighter = 0, darker = 0, painted = 0;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 120; ++x) {
        const uint32_t p = gfx::Unpremultiply(out.row(y)[x]);
        if (AlphaOf(p) < 200) continue;
        ++painted;
        lighter += int(gfx::RedOf(p)) > 128 + 8;
        darker += int(gfx::RedOf(p)) < 128 - 8;
      }
    return std::vector<int>{painted, lighter, darker};
  };
  const std::vector<int> flat = shades(2);  // size 10: no relief
  ASSERT_GT(flat[0], 120 * 120 / 2);
  EXPECT_EQ(flat[1], 0);
  EXPECT_EQ(flat[2], 0);
  const std::vector<int> thick = shades(6);  // size 31
  ASSERT_GT(thick[0], 120 * 120 / 2);
  // The bands draw from the shared generator in whatever order their threads run, so
  // the amount of relief varies from run to run (about 2 % lit on either side); the flat
  // case has none at all.
  EXPECT_GT(thick[1], thick[0] / 200);
  EXPECT_GT(thick[2], thick[0] / 200);
}

TEST(Impasto, StrokesRunAlongEdges) {
  // Soft horizontal bands (brightness a sine of y), painted with one brush: a bar 3/4
  // of the cell long and 1/32 of it thick. Wherever the bands give a direction the
  // bars must lie along them, so the painting's own edges run across y as the bands'
  // do; bars laid across would add as much edge in x.
  Surface sheet(2048, 256);
  sheet.fillRect(QRectF(32, 124, 192, 8), 0xFF000000u);
  TForm3::Instance().SetPicture(QStringLiteral("Brushes"), sheet.snapshot());
  std::vector<uint32_t> px(160 * 160);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const uint32_t v = uint32_t(std::lround(128 + 100 * std::sin(y * 2 * 3.14159265 / 24)));
      px[size_t(y) * 160 + x] = 0xFF000000u | v << 16 | v << 8 | v;
    }
  const Image bands = MakeImage(160, 160, px);
  SetRandomSeed(1);
  const Image out = PaintPreview(bands, 10, 10, 50, 50, 100);
  TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("Brushes"));
  // Luminance changes along x and along y, with the canvas seen as white.
  auto luma = [&](int x, int y) {
    const uint32_t p = out.row(y)[x];
    return int(gfx::GreenOf(p)) + (255 - int(AlphaOf(p)));
  };
  int64_t alongX = 0, alongY = 0;
  for (int y = 1; y < 160; ++y)
    for (int x = 1; x < 160; ++x) {
      alongX += std::abs(luma(x, y) - luma(x - 1, y));
      alongY += std::abs(luma(x, y) - luma(x, y - 1));
    }
  EXPECT_LT(double(alongX), 0.5 * double(alongY)) << alongX << " " << alongY;
}
