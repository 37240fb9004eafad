#include "effects/painting/watercolor_splashes.h"
#include "../engine/fake_host.h"
#include "brushes/brush_library.h"
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

#include <cmath>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr double kPi = 3.14159265358979323846;

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

// Runs a test with the watercolour sheet as the working sheet, as the runner's brush
// set-up makes it before effect 303 (the test host does no set-up of its own).
class WatercolourSheet {
 public:
  explicit WatercolourSheet(
      const Image& sheet = TForm3::Instance().Picture(QStringLiteral("WatercolorBrushes"))) {
    TForm3::Instance().SetPicture(QStringLiteral("Brushes"), sheet);
  }
  ~WatercolourSheet() { TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("Brushes")); }
};

Image Preview(const Image& source, int P1, int P2, int P3, int P4, int P5, uint32_t seed = 303) {
  SetRandomSeed(seed);
  Surface dest(source.width(), source.height());
  NewDirectionalStrokesgood(source, dest, P1, P2, P3, P4, P5, true);
  return dest.snapshot();
}

// The painting of a preview as written: every try rendered whole on the scratch and
// scored pixel by pixel over the window, every kept splash rendered whole.
Image ReferencePreview(const Image& source, int P1, int P2, int P3, int P4, int P5,
                       uint32_t seed = 303) {
  SetRandomSeed(seed);
  const int w = source.width(), h = source.height();
  const TSplashSettings set = SplashSettings(P1, P2, P3, P4, P5, false);
  const int GW = std::min(w, 256), GH = std::max(1, int(RoundRatio(int64_t(h) * GW, w)));
  const TGradientMap grad = BuildGradientMap(source, GW, GH);
  std::vector<StrokeBrush> brushes;
  std::vector<float> angles;
  for (const Image& cell :
       ExtractSheetBrushes(TForm3::Instance().Picture(QStringLiteral("Brushes")))) {
    brushes.emplace_back(cell);
    angles.push_back(ComputeBrushAngle(cell, 21, 1000.0));
  }
  std::vector<uint32_t> work(size_t(w) * h, 0u);
  StrokeScratch scratch(778);
  const int z = 389;
  for (int k = 0; k <= set.LastPass; ++k) {
    const TSplashPass pass = SplashPass(set, k, false, w, h);
    const bool first = k == 0;
    const int e = pass.HalfExtent, lo = std::max(0, z - e), hi = std::min(777, z + e);
    auto stroke = [&](int x, int y) {
      const TGradientInfo& cell =
          grad.at(std::clamp(x * GW / w, 0, GW - 1), std::clamp(y * GH / h, 0, GH - 1));
      const uint32_t C = source.row(y)[x];
      const double phi =
          cell.Magnitude < 16 ? Random(360) * kPi / 180.0 : double(cell.Angle) + kPi / 2;
      int64_t best = -2147483647;
      int bestBrush = -1;
      double bestTheta = 0;
      for (int a = 0; a < pass.Attempts; ++a) {
        const int b = Random(int(brushes.size()));
        if (b >= int(brushes.size())) continue;
        const double theta = phi - double(angles[size_t(b)]) + (Random(40) - 20) * kPi / 180.0;
        int64_t value = 100000;
        if (!first) {
          scratch.Render(BrushStamp(brushes[size_t(b)], pass.Size, theta, z, z, set.Opacity), C);
          value = 0;
          int64_t sum = 0, count = 0;
          const int st = pass.SampleStep;
          for (int r = (lo + st - 1) / st * st; r <= hi; r += st)
            for (int c = (lo + st - 1) / st * st; c <= hi; c += st) {
              const int ix = x + c - z, iy = y + r - z;
              const uint32_t P = scratch.row(r)[c];
              if (ix < 0 || iy < 0 || ix >= w || iy >= h || AlphaOf(P) == 0) continue;
              const uint32_t S = source.row(iy)[ix], D = work[size_t(iy) * w + ix];
              const int e0 = PixelDelta(S, D);
              sum += e0;
              ++count;
              value += e0 - PixelDelta(S, BlendStroke(P, D));
            }
          if (count > 0 && sum / count < pass.SeedThreshold) value -= 100000;
        }
        if (value > best) {
          best = value;
          bestBrush = b;
          bestTheta = theta;
        }
        if (set.EarlyStop && value > 2 * pass.Acceptance) break;
      }
      if (bestBrush < 0 || best <= pass.Acceptance) return;
      scratch.Render(
          BrushStamp(brushes[size_t(bestBrush)], pass.Size, bestTheta, z, z, set.Opacity), C);
      if (pass.Size > 14) ImpastoRelief(scratch, pass.Size, 20);
      CompositeStroke(scratch, QRect(QPoint(lo, lo), QPoint(hi, hi)), work.data(), w, x - z, y - z,
                      QRect(0, 0, w, h));
    };
    if (pass.Grid) {
      for (int y = Random(pass.GridStep); y < h; y += pass.GridStep)
        for (int x = Random(pass.GridStep); x < w; x += pass.GridStep) stroke(x, y);
    } else {
      for (int n = 0; n < pass.Strokes; ++n) {
        int best = -1, bx = 0, by = 0;
        for (int i = 0; i < set.SeedSamples; ++i) {
          const int x = Random(w);
          const int y = Random(h);
          const int d = PixelDelta(source.row(y)[x], work[size_t(y) * w + x]);
          if (d > best) {
            best = d;
            bx = x;
            by = y;
          }
        }
        if (best >= pass.SeedThreshold) stroke(bx, by);
      }
    }
  }
  return Image::FromPixels(work.data(), w, h, qsizetype(w) * 4, gfx::AlphaType::Premultiplied);
}

double MeanDelta(const Image& a, const Image& b) {
  int64_t sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) sum += PixelDelta(a.row(y)[x], b.row(y)[x]);
  return double(sum) / (double(a.width()) * a.height());
}

class ManualBrushHost : public FakeHost {
 public:
  Image base;
  Image ManualBrushBaseImage() override { return base; }
};

Image RenderThroughRunner(FakeHost& host, int P1, int P2, int P3, int P4, int P5) {
  RegisterEffect(303, &NewDirectionalStrokesgood);
  EffectRunner runner(host);
  SetRandomSeed(303);
  runner.ProcessEffect(303, P1, P2, P3, P4, P5, false);
  EXPECT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
  QCoreApplication::processEvents();
  return host.result;
}

}  // namespace

TEST(WatercolorSplashes, SlidersMapToTheirQuantities) {
  struct Case {
    int P1, P2, P3, P4, P5;
    bool paintOver;
    int minSize, maxSize, lastPass, attempts, samples;
    bool earlyStop, lower;
    float opacity;
  };
  const Case cases[] = {
      // Defaults: 5.12 x 10 = 51.2, 5.12 x 70 = 358.4, N = 10 + Round(2).
      {10, 70, 50, 50, 80, false, 51, 358, 12, 3, 10, true, false, 0.8f},
      // Paint-over: the largest splashes shrink to two thirds.
      {10, 70, 50, 50, 80, true, 51, 238, 12, 3, 10, true, false, 0.8f},
      {50, 50, 50, 50, 80, true, 170, 170, 12, 3, 10, true, false, 0.8f},
      // A max below the min is raised to it.
      {60, 20, 0, 100, 0, false, 307, 307, 14, 8, 30, false, true, 0.1f},
      // Sizes of 0 would paint nothing: the splashes keep the smallest size, 3.
      {0, 0, 0, 0, 0, false, 3, 3, 10, 1, 10, true, false, 0.1f},
      {0, 0, 0, 0, 0, true, 3, 3, 10, 1, 10, true, false, 0.1f},
      {0, 1, 0, 0, 0, true, 3, 3, 10, 1, 10, true, false, 0.1f},
      // The quality steps.
      {10, 70, 50, 19, 80, false, 51, 358, 11, 1, 10, true, false, 0.8f},
      {10, 70, 50, 20, 80, false, 51, 358, 11, 2, 10, true, false, 0.8f},
      {10, 70, 50, 51, 80, false, 51, 358, 12, 3, 20, true, false, 0.8f},
      {10, 70, 50, 70, 80, false, 51, 358, 13, 5, 20, true, false, 0.8f},
      {10, 70, 50, 71, 80, false, 51, 358, 13, 5, 20, true, true, 0.8f},
      {10, 70, 50, 75, 80, false, 51, 358, 13, 5, 20, false, true, 0.8f},
      {10, 70, 50, 81, 80, false, 51, 358, 13, 5, 30, false, true, 0.8f},
      {10, 70, 50, 90, 80, false, 51, 358, 14, 8, 30, false, true, 0.8f},
      // Values from scripts are held to the sliders' range.
      {200, 300, 50, -5, 150, false, 512, 512, 10, 1, 10, true, false, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.P1 << "," << c.P2 << "," << c.P3 << "," << c.P4 << ","
                                    << c.P5 << (c.paintOver ? " paint-over" : ""));
    const TSplashSettings s = SplashSettings(c.P1, c.P2, c.P3, c.P4, c.P5, c.paintOver);
    EXPECT_EQ(s.MinSize, c.minSize);
    EXPECT_EQ(s.MaxSize, c.maxSize);
    EXPECT_EQ(s.LastPass, c.lastPass);
    EXPECT_EQ(s.Attempts, c.attempts);
    EXPECT_EQ(s.SeedSamples, c.samples);
    EXPECT_EQ(s.EarlyStop, c.earlyStop);
    EXPECT_EQ(s.LowerThreshold, c.lower);
    EXPECT_FLOAT_EQ(s.Opacity, c.opacity);
  }
  EXPECT_FLOAT_EQ(SplashSettings(10, 70, 50, 50, 80, false).GridDivisor, 50.0f / 15.0f + 0.8f);
  EXPECT_FLOAT_EQ(SplashSettings(10, 70, 0, 50, 80, false).GridDivisor, 1.0f / 15.0f + 0.8f);
}

TEST(WatercolorSplashes, PassesShrinkTheSplashesFromLargestToSmallest) {
  const TSplashSettings s = SplashSettings(10, 70, 50, 50, 80, false);
  const TSplashPass first = SplashPass(s, 0, false, 1000, 800);
  EXPECT_EQ(first.Size, 358);
  EXPECT_TRUE(first.Grid);
  EXPECT_EQ(first.GridStep, 87);     // 358 / 4.1333 = 86.6
  EXPECT_EQ(first.HalfExtent, 253);  // 0.7 x 358 = 250.6, + 2
  EXPECT_EQ(first.Attempts, 5);      // 3, and 2 more above 40 pixels
  EXPECT_EQ(first.SeedThreshold, 3);
  EXPECT_EQ(first.Acceptance, 12816);  // 0.1 x 358^2 = 12816.4
  EXPECT_EQ(first.SampleStep, 4);
  EXPECT_EQ(first.Strokes, 200);  // 3 x 800000 / 358^2 = 18.7, at least 200
  // f = 11/12: 51 + 307 x 1331 / 1728 = 287.47; still a grid pass (f > 0.87).
  const TSplashPass second = SplashPass(s, 1, false, 1000, 800);
  EXPECT_EQ(second.Size, 287);
  EXPECT_TRUE(second.Grid);
  EXPECT_FALSE(SplashPass(s, 2, false, 1000, 800).Grid);
  const TSplashPass last = SplashPass(s, 12, false, 1000, 800);
  EXPECT_EQ(last.Size, 51);
  EXPECT_EQ(last.SeedThreshold, 53);  // rises from 3 at the largest size to 53
  EXPECT_EQ(last.Acceptance, 260);
  EXPECT_EQ(last.Strokes, 923);  // 2,400,000 / 2601
  EXPECT_EQ(SplashPass(s, 12, false, 6000, 4000).Strokes, 27682);
  EXPECT_EQ(SplashPass(SplashSettings(0, 1, 50, 50, 80, false), 0, false, 6000, 4000).Strokes,
            30000);
  int previous = first.Size;
  for (int k = 1; k <= s.LastPass; ++k) {
    const int size = SplashPass(s, k, false, 1000, 800).Size;
    EXPECT_LE(size, previous);
    previous = size;
  }
  // With N = 10 the passes k = 0 and 1 (f = 1 and 0.9) are on the grid.
  const TSplashSettings ten = SplashSettings(10, 70, 50, 0, 80, false);
  ASSERT_EQ(ten.LastPass, 10);
  EXPECT_TRUE(SplashPass(ten, 1, false, 1000, 800).Grid);
  EXPECT_FALSE(SplashPass(ten, 2, false, 1000, 800).Grid);
  // Quality 100: 8 tries, 10 above 40 pixels; the threshold 10 lower, at least 2.
  const TSplashSettings best = SplashSettings(10, 70, 50, 100, 80, false);
  EXPECT_EQ(SplashPass(best, 0, false, 1000, 800).Attempts, 10);
  EXPECT_EQ(SplashPass(best, 0, false, 1000, 800).SeedThreshold, 2);
  EXPECT_EQ(SplashPass(best, 14, false, 1000, 800).SeedThreshold, 43);
  // One size throughout: the threshold stays at 3 (2 with the lower one), halved in
  // paint-over, where the acceptance level is a quarter.
  const TSplashSettings same = SplashSettings(50, 50, 50, 50, 80, false);
  for (int k = 0; k <= same.LastPass; ++k) {
    EXPECT_EQ(SplashPass(same, k, false, 1000, 800).Size, 256);
    EXPECT_EQ(SplashPass(same, k, false, 1000, 800).SeedThreshold, 3);
  }
  EXPECT_EQ(
      SplashPass(SplashSettings(50, 50, 50, 71, 80, false), 3, false, 1000, 800).SeedThreshold, 2);
  const TSplashPass over = SplashPass(SplashSettings(50, 50, 50, 50, 80, true), 0, true, 1000, 800);
  EXPECT_EQ(over.Size, 170);
  EXPECT_EQ(over.SeedThreshold, 1);
  EXPECT_EQ(over.Acceptance, 2890 / 4);  // 0.1 x 170^2 = 2890
  // Small splashes are scored more densely.
  EXPECT_EQ(SplashPass(SplashSettings(6, 6, 50, 50, 80, false), 0, false, 100, 100).SampleStep, 3);
  EXPECT_EQ(SplashPass(SplashSettings(5, 5, 50, 50, 80, false), 0, false, 100, 100).SampleStep, 2);
}

TEST(WatercolorSplashes, PaintingMatchesTheTriesAsWritten) {
  // The fast scoring (samples read once per splash, only the stamp's rows and columns
  // visited, only the laid part rendered) against whole renders scored pixel by pixel.
  WatercolourSheet sheet;
  struct Case {
    Image source;
    int P[5];
  };
  const Case cases[] = {
      {Patch(420, 560, 96, 72), {10, 70, 50, 50, 80}},
      {Patch(100, 300, 120, 90), {2, 20, 80, 90, 100}},
      {Patch(600, 900, 64, 100), {4, 40, 10, 72, 30}},
      {Patch(300, 100, 50, 40), {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.source.width() << "x" << c.source.height() << " P=" << c.P[0] << "," << c.P[1]
                 << "," << c.P[2] << "," << c.P[3] << "," << c.P[4]);
    const Image fast = Preview(c.source, c.P[0], c.P[1], c.P[2], c.P[3], c.P[4]);
    const uint32_t after = RandomSeed();
    const Image slow = ReferencePreview(c.source, c.P[0], c.P[1], c.P[2], c.P[3], c.P[4]);
    EXPECT_EQ(after, RandomSeed());  // the same draws in the same order
    EXPECT_EQ(testutil::MaxChannelDifference(fast, slow), 0);
  }
}

TEST(WatercolorSplashes, FirstPassFloodsTheSheetAndLaterOnesRefine) {
  // A preview starts on a transparent sheet, so coverage shows: the broad first
  // splashes cover nearly all of it, and the painting ends up close to the photo.
  WatercolourSheet sheet;
  const Image photo = Patch(380, 520, 150, 120);
  const Image out = Preview(photo, 10, 70, 50, 50, 100);
  int covered = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 150; ++x) covered += AlphaOf(out.row(y)[x]) > 200;
  EXPECT_GT(covered, 150 * 120 * 95 / 100);
  EXPECT_LT(MeanDelta(out, photo), 0.5 * MeanDelta(SolidImage(150, 120, 0xFFFFFFFFu), photo));
}

TEST(WatercolorSplashes, SplashesRunAlongEdges) {
  // Soft horizontal bands (brightness a sine of y), painted with one brush: a bar 3/4
  // of the cell long and 1/32 of it thick. Wherever the bands give a direction the bars
  // must lie along them, so the painting's own edges run across y as the bands' do.
  Surface bar(2048, 256);
  bar.fillRect(QRectF(32, 124, 192, 8), 0xFF000000u);
  WatercolourSheet sheet(bar.snapshot());
  std::vector<uint32_t> px(160 * 160);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const uint32_t v = uint32_t(std::lround(128 + 100 * std::sin(y * 2 * kPi / 24)));
      px[size_t(y) * 160 + x] = 0xFF000000u | v << 16 | v << 8 | v;
    }
  const Image out = Preview(MakeImage(160, 160, px), 4, 6, 50, 50, 100);
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

TEST(WatercolorSplashes, EraseBackgroundOffPaintsOverTheCurrentResult) {
  WatercolourSheet sheet;
  const Image source = Patch(300, 500, 160, 160);
  {
    // A result that already is the photo leaves nothing to improve.
    FakeHost host;
    host.load(source);
    host.eraseBackground = false;
    EXPECT_EQ(testutil::MaxChannelDifference(RenderThroughRunner(host, 4, 4, 50, 50, 100), source),
              0);
    EXPECT_EQ(host.progress.back(), 101);
  }
  {
    // A grey square on the result is painted over; splashes (size 13 in paint-over)
    // reach only a little way around it, and the rest stays as it was.
    Surface damaged(160, 160);
    damaged.drawImage(source, 0, 0, gfx::Sampling::Nearest);
    damaged.fillRect(QRectF(70, 70, 20, 20), 0xFF808080u);
    const Image before = damaged.snapshot();
    FakeHost host;
    host.source = source;
    host.result = before;
    host.eraseBackground = false;
    const Image after = RenderThroughRunner(host, 4, 4, 50, 50, 100);
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 160; ++x)
        if (x < 40 || x > 120 || y < 40 || y > 120) {
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
    EXPECT_EQ(testutil::MaxChannelDifference(RenderThroughRunner(host, 4, 4, 50, 50, 100), source),
              0);
  }
}

TEST(WatercolorSplashes, SurvivesMissingBrushesAndTinyPictures) {
  {
    // Without brushes nothing is laid: the white sheet is the result.
    WatercolourSheet none{Image()};
    FakeHost host;
    host.load(Patch(100, 100, 60, 40));
    EXPECT_EQ(testutil::MaxChannelDifference(RenderThroughRunner(host, 10, 70, 50, 50, 80),
                                             SolidImage(60, 40, 0xFFFFFFFFu)),
              0);
  }
  // Pictures of 9 pixels or less across are left as handed over.
  WatercolourSheet sheet;
  for (const QSize size : {QSize(9, 40), QSize(40, 9)}) {
    Surface dest(size.width(), size.height());
    NewDirectionalStrokesgood(SolidImage(size.width(), size.height(), 0xFF102030u), dest, 10, 70,
                              50, 50, 80, false);
    EXPECT_EQ(
        testutil::MaxChannelDifference(dest.snapshot(), SolidImage(size.width(), size.height(), 0)),
        0);
  }
}

TEST(WatercolorSplashes, OneSeedGivesOnePicture) {
  WatercolourSheet sheet;
  const Image patch = Patch(420, 560, 96, 72);
  const Image a = Preview(patch, 10, 70, 50, 50, 80);
  const Image b = Preview(patch, 10, 70, 50, 50, 80);
  EXPECT_EQ(testutil::MaxChannelDifference(a, b), 0);
  testutil::ExpectMatchesGolden(a, QStringLiteral("watercolor_splashes"));
}
