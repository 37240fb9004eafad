#include "effects/painting/oil_pastel.h"
#include "../engine/fake_host.h"
#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <cmath>
#include <vector>

using namespace quillora;

namespace {

int g_millisecond = 0;
int FixedMillisecond() { return g_millisecond; }

// Every run of a test starts in the same millisecond.
class FixedClock {
 public:
  explicit FixedClock(int ms) {
    g_millisecond = ms;
    SetOilPastelMillisecondSource(&FixedMillisecond);
  }
  ~FixedClock() { SetOilPastelMillisecondSource(nullptr); }
};

// The main window as far as the effect sees it: the brush set-up of the desktop program
// and a manual-brush base image.
class PastelHost : public FakeHost {
 public:
  TCustomBrushState brushes;
  gfx::Image manualBase;
  void BrushSetup(int effectId) override { ApplyBrushSetup(effectId, brushes); }
  gfx::Image ManualBrushBaseImage() override { return manualBase; }
};

// Runs the effect as the script engine does: synchronously, full render, with the host.
Image Render(PastelHost& host, int P1 = 10, int P2 = 70, int P3 = 30, int P4 = 30, int P5 = 100) {
  EffectRunner runner(host);
  Surface dest(host.source.width(), host.source.height());
  runner.ProcessEffectOnSurface(host.source, dest, 302, P1, P2, P3, P4, P5);
  return dest.snapshot();
}

Image PhotoPatch(int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(380, 520, w, h));
}

// The photo on the left 40 %, nothing on the right.
Image HalfEmpty(int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h, 0u);
  const Image photo = PhotoPatch(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 2 / 5; ++x) px[size_t(y) * w + x] = gfx::Unpremultiply(photo.row(y)[x]);
  return testutil::MakeImage(w, h, px);
}

// A working sheet with one brush in cell 0: `coverage` (alpha) over the rectangle.
Image OneBrushSheet(const QRect& rect) {
  std::vector<uint32_t> px(size_t(kBrushSheetWidth) * kBrushCellSize, 0u);
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x)
      px[size_t(y) * kBrushSheetWidth + x] = 0xFF000000u;
  return testutil::MakeImage(kBrushSheetWidth, kBrushCellSize, px);
}

int CountEqual(const Image& image, uint32_t premultiplied) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.row(y)[x] == premultiplied;
  return n;
}

}  // namespace

// The brush set-up writes the working sheet of the image holder; the tests of other
// effects expect the built-in one.
class OilPastel : public ::testing::Test {
 protected:
  ~OilPastel() override { TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("Brushes")); }
};

TEST_F(OilPastel, BrushSizesFromTheSliders) {
  struct Case {
    int P1, P2;
    bool paintOver;
    int min, max;
  };
  const Case cases[] = {
      {50, 50, false, 183, 203},  // P1 >= P2 is taken as P2 - 5
      {50, 50, true, 135, 135},   // two thirds in paint-over, and the minimum follows
      {10, 70, false, 43, 283},  {10, 70, true, 43, 188}, {0, 0, false, 3, 3}, {100, 0, true, 2, 2},
  };
  for (const Case& c : cases) {
    const TOilPastelSizes s = OilPastelSizes(c.P1, c.P2, c.paintOver);
    EXPECT_EQ(s.MinSize, c.min) << c.P1 << "," << c.P2 << " " << c.paintOver;
    EXPECT_EQ(s.MaxSize, c.max) << c.P1 << "," << c.P2 << " " << c.paintOver;
  }
}

TEST_F(OilPastel, SearchEffortBySizeAndQuality) {
  struct Case {
    int s, MaxSize, P3, P4;
    int budget, step, extra, repeats, attempts;
  };
  const Case cases[] = {
      // Quality 0 counts as 1: 50 seeds while s >= 0.75 MaxSize, 25 below, fewer when
      // small, and one attempt per seed.
      {203, 203, 30, 0, 50, 4, 0, 5, 1},
      {153, 203, 30, 0, 50, 4, 0, 5, 1},
      {152, 203, 30, 0, 25, 4, 0, 5, 1},
      {102, 203, 30, 0, 25, 4, 0, 5, 1},
      {101, 203, 30, 0, 8, 4, 0, 5, 1},
      {50, 203, 30, 0, 4, 2, 0, 15, 1},
      // Attempts grow with quality from size 15 up.
      {40, 100, 30, 30, 250, 2, 0, 15, 3},
      {15, 100, 100, 100, 416, 1, 8, 100, 7},
      {14, 100, 100, 100, 416, 1, 9, 100, 1},
      // Small marks get many extra rounds, capped at 50; no iterations still repeat once.
      {10, 283, 0, 30, 125, 1, 18, 1, 1},
      {3, 283, 30, 30, 125, 1, 50, 30, 1},
      {61, 61, 30, 30, 1500, 4, 0, 5, 3},
      {31, 61, 30, 30, 750, 2, 1, 15, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "s=" << c.s << " Max=" << c.MaxSize << " P3=" << c.P3 << " P4=" << c.P4);
    const TOilPastelRoundPlan plan = OilPastelRoundPlan(c.s, c.MaxSize, c.P3, c.P4);
    EXPECT_EQ(plan.seedBudget, c.budget);
    EXPECT_EQ(plan.step, c.step);
    EXPECT_EQ(plan.extraRounds, c.extra);
    EXPECT_EQ(plan.repeats, c.repeats);
    EXPECT_EQ(plan.attempts, c.attempts);
  }
}

TEST_F(OilPastel, SizesShrinkAndStayInsideThePicture) {
  // The broad marks of the first fifty iterations take no random number.
  SetRandomSeed(77);
  EXPECT_EQ(OilPastelBrushSize(999, 43, 283, 4000, 4000), 283);
  EXPECT_EQ(RandomSeed(), 77u);
  // At a = 500: C = Round(241 (500 / 950)^4) + 43 = 61, s = 61 + Random(12) - 6.
  const int r = Random(12);
  SetRandomSeed(77);
  EXPECT_EQ(OilPastelBrushSize(500, 43, 283, 4000, 4000), 61 + r - 6);
  // Never below the minimum, never above half the shorter side (60 for 150 x 120).
  EXPECT_EQ(OilPastelBrushSize(1000, 43, 283, 150, 120), 60);
  for (int a = 1000; a >= 0; --a) {
    const int s = OilPastelBrushSize(a, 43, 283, 150, 120);
    ASSERT_GE(s, 43);
    ASSERT_LE(s, 60);
  }
  for (int i = 0; i < 20; ++i) {
    const int s = OilPastelBrushSize(0, 43, 283, 4000, 4000);
    ASSERT_GE(s, 43);
    ASSERT_LE(s, 43 + 4);
  }
}

TEST_F(OilPastel, AcceptanceLevels) {
  EXPECT_EQ(OilPastelAcceptLevel(10, 1000, false), 250);
  EXPECT_EQ(OilPastelAcceptLevel(10, 501, false), 250);
  EXPECT_EQ(OilPastelAcceptLevel(10, 500, false), 550);  // 1.1 * 100 * 5
  EXPECT_EQ(OilPastelAcceptLevel(10, 0, false), 220);
  EXPECT_EQ(OilPastelAcceptLevel(10, 0, true), 110);
  EXPECT_EQ(OilPastelAcceptLevel(3, 250, false), 35);  // 9.9 * 3.5 = 34.65
  // Exact halves round to even: 2.5 * 9 = 22.5 and 1.1 * 1 * 5 = 5.5.
  EXPECT_EQ(OilPastelAcceptLevel(3, 700, false), 22);
  EXPECT_EQ(OilPastelAcceptLevel(1, 500, false), 6);
}

TEST_F(OilPastel, MarksLandWhereTheGraphicsLayerDrawsThem) {
  // Each mark is sampled with the cubic the graphics layer uses for high-quality draws;
  // the routine's own sampler must put the grain where that draw puts it, turned the
  // same way, at every size from the smallest marks to larger than the cell.
  std::vector<Image> brushes =
      ExtractSheetBrushes(TForm3::Instance().Picture(QStringLiteral("PastelBrushes")));
  ASSERT_EQ(brushes.size(), 13u);
  // A custom brush that fills its whole cell: coverage right up to the square's edges.
  brushes.push_back(testutil::SolidImage(kBrushCellSize, kBrushCellSize, 0xFF000000u));
  struct Case {
    size_t brush;
    int s;
    int degrees;
    float opacity;
  };
  const Case cases[] = {{0, 283, 0, 1.0f},   {4, 203, 37, 1.0f},   {7, 120, 90, 0.5f},
                        {11, 43, 200, 1.0f}, {12, 300, 311, 0.1f}, {2, 7, 145, 1.0f},
                        {13, 64, 0, 1.0f},   {13, 45, 23, 0.7f}};
  const int side = 370, c0 = side / 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "brush " << c.brush << ", " << c.s << " px at " << c.degrees
                                    << " degrees, opacity " << c.opacity);
    const double theta = c.degrees * M_PI / 180.0;
    const std::vector<uint8_t> ours =
        OilPastelMarkCoverage(brushes[c.brush], c.s, theta, side, c.opacity);
    Surface ref(side, side);
    ref.translate(c0, c0);
    ref.rotate(theta * 180.0 / M_PI);
    ref.drawImageRect(brushes[c.brush], QRectF(0, 0, kBrushCellSize, kBrushCellSize),
                      QRectF(-c.s / 2.0, -c.s / 2.0, c.s, c.s), gfx::Sampling::Cubic);
    const Image theirs = ref.snapshot();
    int worst = 0;
    int64_t oursTotal = 0, theirsTotal = 0;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        // The opacity scales the drawn coverage (the graphics layer would cut it to
        // 8 bits first, which is no part of the mark).
        const int a = ours[size_t(y) * side + x];
        const int b = int(std::lround(gfx::AlphaOf(theirs.row(y)[x]) * double(c.opacity)));
        worst = std::max(worst, std::abs(a - b));
        oursTotal += a;
        theirsTotal += b;
      }
    // The square's own edge is smoothed across one pixel of the turned square where the
    // graphics layer takes the exact area, a few levels apart on the rim of a brush
    // that fills its cell; crayon marks keep clear of the rim.
    const bool wholeCell = c.brush == 13;
    EXPECT_LE(worst, wholeCell ? 8 : 3);
    EXPECT_NEAR(double(oursTotal) / double(theirsTotal), 1.0, wholeCell ? 0.01 : 0.005);
  }
}

TEST_F(OilPastel, SameMillisecondSameDrawing) {
  PastelHost host;
  host.load(PhotoPatch(130, 110));
  Image first, again, other;
  {
    FixedClock clock(417);
    first = Render(host, 10, 40, 4);
    again = Render(host, 10, 40, 4);
  }
  {
    FixedClock clock(418);
    other = Render(host, 10, 40, 4);
  }
  EXPECT_EQ(testutil::MaxChannelDifference(first, again), 0);
  EXPECT_GT(testutil::MaxChannelDifference(first, other), 0);
  // Opaque photo, erase on: crayon on white paper, every pixel opaque.
  for (int y = 0; y < first.height(); ++y)
    for (int x = 0; x < first.width(); ++x) ASSERT_EQ(gfx::AlphaOf(first.row(y)[x]), 255u);
  EXPECT_LT(CountEqual(first, 0xFFFFFFFFu), first.width() * first.height() / 4);
  testutil::ExpectMatchesGolden(first, QStringLiteral("oil_pastel"));
}

TEST_F(OilPastel, EraseBackgroundOffPaintsOverTheResult) {
  FixedClock clock(5);
  const int w = 160, h = 120;
  PastelHost host;
  host.source = HalfEmpty(w, h);
  host.result = testutil::SolidImage(w, h, 0xFFD02020);
  const uint32_t red = gfx::Premultiply(0xFFD02020);
  // Small marks (at most 23 pixels) seeded only on the photo's part never reach the
  // right edge.
  auto rightEdgeIs = [&](const Image& out, uint32_t expected) {
    for (int y = 0; y < h; ++y)
      for (int x = w - 20; x < w; ++x)
        if (out.row(y)[x] != expected) return false;
    return true;
  };
  auto paintedLeft = [&](const Image& out, uint32_t background) {
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 2 / 5; ++x) n += out.row(y)[x] != background;
    return n;
  };

  host.eraseBackground = false;
  const Image over = Render(host, 3, 5, 1);
  EXPECT_TRUE(rightEdgeIs(over, red));
  EXPECT_GT(paintedLeft(over, red), w * h / 10);

  // The manual brush's base image takes the result's place.
  host.manualBase = testutil::SolidImage(w, h, 0xFF20C040);
  EXPECT_TRUE(rightEdgeIs(Render(host, 3, 5, 1), gfx::Premultiply(0xFF20C040)));

  // Erase on: the source has transparency, so the paper is transparent.
  host.eraseBackground = true;
  const Image fresh = Render(host, 3, 5, 1);
  EXPECT_TRUE(rightEdgeIs(fresh, 0u));
  EXPECT_GT(paintedLeft(fresh, 0u), w * h / 10);
}

TEST_F(OilPastel, CustomBrushesReplaceThePastelSheet) {
  FixedClock clock(99);
  PastelHost host;
  host.load(testutil::SolidImage(120, 110, 0xFF3366CC));
  const uint32_t blue = gfx::Premultiply(0xFF3366CC);
  // One solid square filling its cell: at full opacity every mark lays the exact colour.
  host.brushes.CustomBrushesOn302 = true;
  host.brushes.CustomBrushBitmap302 = OneBrushSheet(QRect(0, 0, 256, 256));
  const Image squares = Render(host, 10, 30, 5);
  EXPECT_GT(CountEqual(squares, blue), 120 * 110 * 9 / 10);
  EXPECT_EQ(TForm3::Instance().Picture(QStringLiteral("Brushes")).height(), 256);

  // A brush too small to ever pay for itself paints nothing.
  host.brushes.CustomBrushBitmap302 = OneBrushSheet(QRect(126, 126, 4, 4));
  EXPECT_EQ(CountEqual(Render(host, 10, 30, 5), 0xFFFFFFFFu), 120 * 110);

  // Back to the pastel sheet: grainy marks.
  host.brushes.CustomBrushesOn302 = false;
  const Image pastel = Render(host, 10, 30, 5);
  EXPECT_EQ(TForm3::Instance().Picture(QStringLiteral("Brushes")).height(), 512);
  EXPECT_LT(CountEqual(pastel, blue), 120 * 110 * 9 / 10);
  EXPECT_LT(CountEqual(pastel, 0xFFFFFFFFu), 120 * 110 / 2);
}

TEST_F(OilPastel, SheetWithoutBrushesLeavesThePaper) {
  FixedClock clock(3);
  PastelHost host;
  host.load(PhotoPatch(120, 110));
  host.brushes.CustomBrushesOn302 = true;
  // The only mark misses the cell's vertical centre line, so it is not a brush.
  host.brushes.CustomBrushBitmap302 = OneBrushSheet(QRect(0, 0, 60, 256));
  EXPECT_EQ(CountEqual(Render(host), 0xFFFFFFFFu), 120 * 110);
  host.brushes.CustomBrushBitmap302 = Image();
  EXPECT_EQ(CountEqual(Render(host), 0xFFFFFFFFu), 120 * 110);
}

TEST_F(OilPastel, SmallSourcesAreLeftAlone) {
  for (const QSize size : {QSize(99, 150), QSize(150, 99)}) {
    PastelHost host;
    host.load(PhotoPatch(size.width(), size.height()));
    host.eraseBackground = false;
    const Image out = Render(host);
    EXPECT_EQ(CountEqual(out, 0u), size.width() * size.height());
  }
}

TEST_F(OilPastel, FullRenderShowsItsProgress) {
  RegisterBuiltinEffects();
  FixedClock clock(250);
  PastelHost host;
  host.load(PhotoPatch(120, 110));
  EffectRunner runner(host);
  runner.ProcessEffect(302, 10, 30, 2, 0, 100, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
  // Ten intermediate pictures (every hundred iterations) and the finished one.
  EXPECT_GE(host.redraws, 11);
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);
  for (int p : host.progress) EXPECT_TRUE((p >= 1 && p <= 96) || p == 101) << p;
  EXPECT_EQ(host.historySaves, 1);
}
