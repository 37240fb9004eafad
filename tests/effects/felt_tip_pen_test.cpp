#include "effects/sketch/felt_tip_pen.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
#include "engine/effect_registry.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::RedOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

// The effect called directly, as the script engine would without a window: white
// paper, no progress.
Image Pen(const Image& source, int P1, int P2, int P3, int P4, int P5, bool preview = false,
          uint32_t seed = 2024) {
  SetRandomSeed(seed);
  Surface dest(source.width(), source.height());
  MarkerRenderingEffect(source, dest, P1, P2, P3, P4, P5, preview);
  return dest.snapshot();
}

// The generator's state after `draws` numbers from `seed`.
uint32_t StateAfter(uint32_t seed, int64_t draws) {
  SetRandomSeed(seed);
  for (int64_t k = 0; k < draws; ++k) RandomFloat();
  return RandomSeed();
}

// Mean of |lum(p) - lum(p + (dx, dy))| over the picture: small along the direction
// the strokes run, large across it.
double MeanStep(const Image& image, int dx, int dy) {
  double sum = 0;
  int n = 0;
  for (int y = std::max(0, -dy); y < image.height() - std::max(0, dy); ++y)
    for (int x = std::max(0, -dx); x < image.width() - std::max(0, dx); ++x) {
      auto lum = [&](int px, int py) {
        const uint32_t p = image.row(py)[px];
        return (30.0 * RedOf(p) + 59.0 * GreenOf(p) + 11.0 * BlueOf(p)) / 100.0;
      };
      sum += std::fabs(lum(x, y) - lum(x + dx, y + dy));
      ++n;
    }
  return sum / n;
}

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

// Captures the surface a registered run leaves, before the runner's own result step.
Image g_lastDest;
void CapturingPen(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                  bool Preview) {
  MarkerRenderingEffect(Source, Dest, P1, P2, P3, P4, P5, Preview);
  g_lastDest = Dest.snapshot();
}
class CapturingRegistered {
 public:
  CapturingRegistered() { RegisterEffect(202, &CapturingPen); }
  ~CapturingRegistered() { RegisterEffect(202, &MarkerRenderingEffect); }
};

// A main window with a manual-brush base, counting what reaches the main view, and able
// to press Escape at the moment the effect reads the "Erase background" switch.
class PenHost : public FakeHost {
 public:
  Image manualBase;
  int resultsShown = 0;
  std::vector<Image> shown;
  EffectRunner* cancelOnSwitchRead = nullptr;
  Image ManualBrushBaseImage() override { return manualBase; }
  void SetResultImage(const Image& image) override {
    FakeHost::SetResultImage(image);
    shown.push_back(image);
  }
  bool EraseBackgroundChecked() override {
    if (cancelOnSwitchRead) cancelOnSwitchRead->SetCancel(true);
    return eraseBackground;
  }
};

void Render(EffectRunner& runner, const int (&P)[5]) {
  runner.ProcessEffect(202, P[0], P[1], P[2], P[3], P[4], false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
}

// A clock that moves 125 ms at every look, for one test.
std::atomic<uint32_t> g_ticks{0};
uint32_t FastTicks() { return g_ticks.fetch_add(125); }
class FastClock {
 public:
  FastClock() { SetMarkerClock(&FastTicks); }
  ~FastClock() { SetMarkerClock(nullptr); }
};

double MeanLuminance(const Image& image) {
  double sum = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const uint32_t p = image.row(y)[x];
      sum += (30.0 * RedOf(p) + 59.0 * GreenOf(p) + 11.0 * BlueOf(p)) / 100.0;
    }
  return sum / (double(image.width()) * image.height());
}

}  // namespace

TEST(FeltTipPen, SlidersMapToTheirQuantities) {
  struct Case {
    int P[5];
    int S, alpha, L;
    float w;
    int Eg, K;
    bool hatching;
  };
  const Case cases[] = {
      // The defaults: 0.7 x 255 = 178.5 goes to the even 178.
      {{65, 70, 30, 5, 40}, 5, 178, 30, 1.25f, 60, 2, true},
      // 50 x 2.55 is exactly 127.5 and rounds to 128 (binary floating point gives 127);
      // e = 50 gives K = Round(2.5) = 2, e = 30 Round(1.5) = 2.
      {{0, 50, 0, 0, 50}, 13, 128, 2, 1.0f, 50, 2, true},
      {{100, 100, 100, 100, 30}, 1, 255, 100, 25.0f, 70, 2, true},
      // e = 100 hatches nearly every edge and repeats up to five times.
      {{50, 0, 1, 3, 100}, 7, 0, 2, 1.0f, 5, 5, true},
      // Out-of-range values are held to the sliders' range.
      {{-20, 140, -5, 400, 250}, 13, 255, 2, 25.0f, 5, 5, true},
      {{65, 70, 5000, 5, 40}, 5, 178, 100, 1.25f, 60, 2, true},
      {{99, 10, 40, 9, 3}, 1, 26, 40, 2.25f, 97, 1, true},
      {{80, 30, 60, 20, 2}, 3, 76, 60, 5.0f, 98, 1, false},
      {{20, 90, 30, 5, 0}, 11, 230, 30, 1.25f, 100, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.P[0] << "," << c.P[1] << "," << c.P[2] << "," << c.P[3] << "," << c.P[4]);
    const TMarkerSettings s = MarkerSettings(c.P[0], c.P[1], c.P[2], c.P[3], c.P[4]);
    EXPECT_EQ(s.S, c.S);
    EXPECT_EQ(s.StrokeAlpha, c.alpha);
    EXPECT_EQ(s.L, c.L);
    EXPECT_FLOAT_EQ(s.w, c.w);
    EXPECT_EQ(s.Eg, c.Eg);
    EXPECT_EQ(s.K, c.K);
    EXPECT_EQ(s.Hatching, c.hatching);
  }
}

TEST(FeltTipPen, InkIsMoreSaturatedAndLighter) {
  const struct {
    uint32_t in, out;
  } cases[] = {
      {0x808080, 0x949494},  // greys only lighten
      {0x102232, 0x243646},  // a spread of 34 counts as grey
      {0x102333, 0x243747},  // 35: the boost starts at zero
      {0x204070, 0x2054AC},  // 80 -> the full 40 up and 20 down
      {0x503A1C, 0x864E1F},  // 52: 34 up, 17 down
      {0xF0F010, 0xFFFF14},  // both largest channels grow, capped at 255
      {0x0A0AF5, 0x1414FF},  // the smallest stop at 0 before lightening
      {0xFFFFFF, 0xFFFFFF},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MarkerInkColour(0xFF000000u | c.in), c.out) << std::hex << c.in;
}

TEST(FeltTipPen, MarkerInkMatchesThePainter) {
  // A destination with every kind of pixel: opaque colours, half-transparent, empty.
  std::vector<uint32_t> px(64 * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint32_t a = x < 8 ? 0u : (y < 12 ? 120u : 255u);
      px[size_t(y) * 64 + x] = a << 24 | uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | 200u;
    }
  const Image start = MakeImage(64, 48, px);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> pos(-12.0, 76.0), len(0.3, 40.0), thick(0.2, 8.0),
      turn(-M_PI, M_PI);
  std::uniform_int_distribution<int> byte(0, 255);
  int worst = 0;
  for (int k = 0; k < 300; ++k) {
    const double cx = pos(rng), cy = pos(rng) * 0.7, l = len(rng), t = thick(rng), a = turn(rng);
    const double c = std::cos(a), s = std::sin(a);
    auto corner = [&](double u, double v) {
      return QPointF(cx + u * c - v * s, cy + u * s + v * c);
    };
    const QPointF quad[4] = {corner(-l / 2, -t / 2), corner(l / 2, -t / 2), corner(l / 2, t / 2),
                             corner(-l / 2, t / 2)};
    const uint32_t argb = uint32_t(byte(rng)) << 24 | uint32_t(byte(rng)) << 16 |
                          uint32_t(byte(rng)) << 8 | uint32_t(byte(rng));
    Surface ours(64, 48), theirs(64, 48);
    ours.drawImage(start, 0, 0, gfx::Sampling::Nearest);
    theirs.drawImage(start, 0, 0, gfx::Sampling::Nearest);
    TMarkerInk ink;
    ink.Fill(reinterpret_cast<uint32_t*>(ours.bits()), 64, 48, int(ours.bytesPerLine() / 4), quad,
             4, argb);
    QPainter& p = theirs.painter();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgba(argb));
    p.setCompositionMode(QPainter::CompositionMode_Multiply);
    p.drawConvexPolygon(quad, 4);
    worst = std::max(worst, testutil::MaxChannelDifference(ours.snapshot(), theirs.snapshot()));
  }
  // The painter's rasteriser works to 1/64 pixel, so its edge pixels are off the exact
  // area by a few levels.
  EXPECT_LE(worst, 4);

  // Exact areas: a triangle over half of a pixel, and a rectangle from x = 0.25 and
  // y = 0.5, in opaque black on an empty picture.
  {
    Surface empty(3, 2);
    TMarkerInk ink;
    const QPointF half[3] = {{0, 0}, {1, 0}, {0, 1}};
    const QPointF part[4] = {{1.25, 0.5}, {3, 0.5}, {3, 2}, {1.25, 2}};
    ink.Fill(empty.row(0), 3, 2, int(empty.bytesPerLine() / 4), half, 3, 0xFF000000u);
    ink.Fill(empty.row(0), 3, 2, int(empty.bytesPerLine() / 4), part, 4, 0xFF000000u);
    const Image got = empty.snapshot();
    EXPECT_EQ(got.row(0)[0], 0x80000000u);  // 0.5 x 255 = 127.5 -> 128
    EXPECT_EQ(got.row(0)[1], 0x60000000u);  // 0.375 -> 95.6 -> 96
    EXPECT_EQ(got.row(0)[2], 0x80000000u);
    EXPECT_EQ(got.row(1)[0], 0u);
    EXPECT_EQ(got.row(1)[1], 0xBF000000u);  // 0.75 -> 191.25 -> 191
    EXPECT_EQ(got.row(1)[2], 0xFF000000u);
  }

  // Whole pixels are exact: D (1 - Sa) + S (1 - Da) + S D on white, on an empty pixel
  // and on a half-transparent one; the pixels around are untouched.
  Surface dest(4, 1);
  dest.writePixels(std::vector<uint32_t>{kWhite, 0u, 0x80402010u, kWhite}.data(), 16,
                   gfx::AlphaType::Premultiplied);
  const QPointF cells[4] = {{0, 0}, {3, 0}, {3, 1}, {0, 1}};
  TMarkerInk ink;
  ink.Fill(dest.row(0), 4, 1, int(dest.bytesPerLine() / 4), cells, 4, 0xB2C08040u);
  const uint32_t* row = dest.snapshot().row(0);
  EXPECT_EQ(row[0], 0xFFD3A67Au);
  EXPECT_EQ(row[1], 0xB286592Du);
  EXPECT_EQ(row[2], 0xD978411Eu);
  EXPECT_EQ(row[3], kWhite);
  // Corners that are not numbers or absurdly far, or a polygon wholly outside, leave
  // the pixels alone.
  const double inf = std::numeric_limits<double>::infinity();
  const QPointF bad[3][4] = {{{NAN, 0}, {3, NAN}, {3, 1}, {0, 1}},
                             {{0, 0}, {inf, 0}, {3, 1}, {0, 1}},
                             {{0, 0}, {3, 0}, {3, 1}, {-2e10, 1}}};
  const QPointF outside[4] = {{5, 0}, {9, 0}, {9, 1}, {5, 1}};
  for (const auto& quad : bad)
    ink.Fill(dest.row(0), 4, 1, int(dest.bytesPerLine() / 4), quad, 4, 0xFF000000u);
  ink.Fill(dest.row(0), 4, 1, int(dest.bytesPerLine() / 4), outside, 4, 0xFF000000u);
  EXPECT_EQ(dest.snapshot().row(0)[3], kWhite);
  // A huge polygon covers every pixel exactly, without a grid its size.
  const QPointF huge[4] = {{-1e8, -1e8}, {1e8, -1e8}, {1e8, 1e8}, {-1e8, 1e8}};
  ink.Fill(dest.row(0), 4, 1, int(dest.bytesPerLine() / 4), huge, 4, 0xFF000000u);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dest.snapshot().row(0)[x], 0xFF000000u) << x;
}

TEST(FeltTipPen, StrokesOnTheGridWhereThePhotoIsDarkEnough) {
  // Black never fails the darkness draw, and a flat picture gives every stroke a
  // random slant: six numbers per grid point, the grid S pixels apart.
  for (const auto& [P1, S] : {std::pair{100, 1}, {65, 5}, {0, 13}}) {
    SCOPED_TRACE(P1);
    const int W = 40, H = 27;
    Pen(SolidImage(W, H, 0xFF000000u), P1, 70, 30, 5, 0);
    const int64_t points = int64_t((W + S - 1) / S) * ((H + S - 1) / S);
    EXPECT_EQ(RandomSeed(), StateAfter(2024, 6 * points));
  }
  // White, or light enough (luminance 251), gets no stroke at all and draws nothing;
  // neither does a picture with nothing in it.
  for (uint32_t colour : {kWhite, 0xFFFBFBFBu, 0x00000000u, 0x00FF8040u})
    for (bool preview : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << colour << (preview ? " preview" : ""));
      const Image out = Pen(SolidImage(30, 20, colour), 100, 100, 30, 5, 100, preview);
      EXPECT_EQ(RandomSeed(), 2024u);
      const uint32_t expected = AlphaOf(colour) ? kWhite : 0u;
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(out.row(y)[x], expected) << x << "," << y;
    }
}

TEST(FeltTipPen, HatchingOnlyAboveTwo) {
  // Black squares on white: every edge magnitude is 0 or at least 255, so edge intensity
  // 0, 2 and 3 stop the strokes at the same places and differ only in the hatching.
  std::vector<uint32_t> px(48 * 36);
  for (int y = 0; y < 36; ++y)
    for (int x = 0; x < 48; ++x)
      px[size_t(y) * 48 + x] = ((x / 12 + y / 12) % 2) ? 0xFF000000u : kWhite;
  const Image squares = MakeImage(48, 36, px);
  const Image none = Pen(squares, 65, 70, 30, 5, 0);
  const uint32_t afterNone = RandomSeed();
  const Image two = Pen(squares, 65, 70, 30, 5, 2);
  EXPECT_EQ(RandomSeed(), afterNone);
  EXPECT_EQ(testutil::MaxChannelDifference(none, two), 0);
  const Image three = Pen(squares, 65, 70, 30, 5, 3);
  EXPECT_NE(RandomSeed(), afterNone);
  // The hatches are grey lines on the white squares next to the edges.
  int greyed = 0;
  for (int y = 2; y < 34; ++y)
    for (int x = 2; x < 46; ++x)
      if (testutil::PixelAt(squares, x, y) == kWhite && three.row(y)[x] != none.row(y)[x]) {
        const uint32_t p = three.row(y)[x];
        EXPECT_LE(std::abs(int(RedOf(p)) - int(BlueOf(p))), 2);
        ++greyed;
      }
  EXPECT_GT(greyed, 20);
}

TEST(FeltTipPen, StrokesLeanAtFortyFiveDegreesAndFollowEdges) {
  // A flat picture has no edges: the strokes rise from lower left to upper right, so a
  // step along (1, -1) changes the picture less than one along (1, 1).
  const Image flat = Pen(SolidImage(90, 90, 0xFF907860u), 65, 70, 30, 5, 0);
  EXPECT_LT(MeanStep(flat, 3, -3), 0.75 * MeanStep(flat, 3, 3));
  // A ramp across x is an edge at every pixel (magnitude 8 x 7 = 56 > 40) running
  // down the picture: the strokes run vertically and lie in columns.
  std::vector<uint32_t> px(100 * 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) {
      const uint32_t v = uint32_t(std::min(30 + 7 * (x % 30), 240));
      px[size_t(y) * 100 + x] = 0xFF000000u | v << 16 | v << 8 | v;
    }
  const Image ramp = Pen(MakeImage(100, 60, px), 65, 70, 30, 5, 0);
  EXPECT_LT(MeanStep(ramp, 0, 2), 0.5 * MeanStep(ramp, 2, 0));
}

TEST(FeltTipPen, StrokesStopAtStrongEdges) {
  // Grey on the left, a white too light for strokes on the right: strokes from the
  // grey side lift off at the edge instead of running their full 24 to 72 pixels.
  std::vector<uint32_t> px(120 * 80);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) px[size_t(y) * 120 + x] = x < 60 ? 0xFF646464u : 0xFFFCFCFCu;
  for (int P3 : {30, 60}) {
    const Image out = Pen(MakeImage(120, 80, px), 65, 70, P3, 5, 0);
    int inked = 0;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 120; ++x) {
        if (x >= 65) {
          ASSERT_EQ(out.row(y)[x], kWhite) << x << "," << y;
        }
        if (x < 55 && out.row(y)[x] != kWhite) ++inked;
      }
    EXPECT_GT(inked, 55 * 80 / 2);
  }
}

TEST(FeltTipPen, KeepsTheOpacityAndColourOfThePhoto) {
  // Opaque blue above, half-transparent blue below, nothing on the left (the last empty
  // column is a stroke point on the outline, where the edge would lead a stroke). The ink of this
  // blue has a blue of 255, which Multiply never darkens: premultiplied blue equal to
  // alpha everywhere shows that no other ink got in, neither the darker premultiplied
  // colour of the half-transparent part nor black from the empty part.
  std::vector<uint32_t> px(80 * 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      px[size_t(y) * 80 + x] = x <= 20 ? 0u : (y < 30 ? 0xFF2828C8u : 0x802828C8u);
  const Image source = MakeImage(80, 60, px);
  for (bool preview : {false, true}) {
    SCOPED_TRACE(preview ? "preview" : "full");
    const Image out = Pen(source, 65, 70, 30, 5, 0, preview);
    int inkedOpaque = 0, inkedHalf = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x) {
        const uint32_t p = out.row(y)[x], s = source.row(y)[x];
        if (AlphaOf(s) == 0) {
          ASSERT_EQ(p, 0u) << x << "," << y;
          continue;
        }
        ASSERT_EQ(AlphaOf(p), AlphaOf(s)) << x << "," << y;
        ASSERT_EQ(BlueOf(p), AlphaOf(p)) << x << "," << y;
        if (RedOf(p) + 40 < AlphaOf(p)) (y < 30 ? inkedOpaque : inkedHalf)++;
      }
    EXPECT_GT(inkedOpaque, 300);
    EXPECT_GT(inkedHalf, 300);
  }
}

TEST(FeltTipPen, EraseBackgroundOffInksOverTheCurrentPicture) {
  const Image source = Patch(300, 420, 72, 56);
  const int P[5] = {65, 70, 30, 5, 40};
  auto renderOnSurface = [&](PenHost& host) {
    EffectRunner runner(host);
    Surface dest(source.width(), source.height());
    SetRandomSeed(99);
    runner.ProcessEffectOnSurface(source, dest, 202, P[0], P[1], P[2], P[3], P[4]);
    return dest.snapshot();
  };
  // Switch on: white paper whatever is on show.
  PenHost on;
  on.source = source;
  on.result = SolidImage(72, 56, 0xFF000000u);
  const Image paper = renderOnSurface(on);
  // Switch off: the same strokes multiplied onto the result, so never lighter than it,
  // and on white exactly the drawing on paper.
  PenHost off;
  off.source = source;
  off.eraseBackground = false;
  off.result = SolidImage(72, 56, kWhite);
  EXPECT_EQ(testutil::MaxChannelDifference(renderOnSurface(off), paper), 0);
  const Image tinted = SolidImage(72, 56, 0xFFC0E0A0u);
  off.result = tinted;
  const Image over = renderOnSurface(off);
  for (int y = 0; y < 56; ++y)
    for (int x = 0; x < 72; ++x)
      for (int shift : {0, 8, 16})
        ASSERT_LE((over.row(y)[x] >> shift) & 0xFF, (tinted.row(y)[x] >> shift) & 0xFF);
  EXPECT_LT(MeanLuminance(over), MeanLuminance(tinted) - 20);
  // While the manual brush works, its base is the canvas, not the result.
  off.manualBase = SolidImage(72, 56, kWhite);
  off.result = SolidImage(72, 56, 0xFF000000u);
  EXPECT_EQ(testutil::MaxChannelDifference(renderOnSurface(off), paper), 0);

  // Full renders through the runner build up: each one darkens the last.
  PenHost host;
  host.load(source);
  host.eraseBackground = false;
  EffectRunner runner(host);
  double last = MeanLuminance(source);
  for (int k = 0; k < 3; ++k) {
    Render(runner, P);
    const double now = MeanLuminance(host.result);
    EXPECT_LT(now, last - 5) << k;
    last = now;
  }

  // A preview is always drawn on white paper.
  PenHost previewHost;
  previewHost.load(SolidImage(72, 56, 0xFF000000u));
  previewHost.source = source;
  previewHost.eraseBackground = false;
  CapturingRegistered capture;
  EffectRunner previewRunner(previewHost);
  SetRandomSeed(99);
  previewRunner.ProcessEffect(202, P[0], P[1], P[2], P[3], P[4], true);
  ASSERT_TRUE(testutil::WaitFor([&] { return previewRunner.ActiveWorkers() == 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(testutil::MaxChannelDifference(g_lastDest,
                                           Pen(source, P[0], P[1], P[2], P[3], P[4], true, 99)),
            0);
}

TEST(FeltTipPen, ProgressPicturesAndTheProgressBar) {
  // With a clock that moves 125 ms at every look, a picture is due at every third
  // progress tick once the canvas is laid (more than 250 ms: two ticks are not enough).
  // The pictures reach the main view, all on the laid canvas (white paper, never the
  // empty surface the edge search runs on), and the progress bar ends hidden.
  FastClock clock;
  PenHost host;
  host.load(Patch(100, 100, 160, 200));
  EffectRunner runner(host);
  Render(runner, {65, 70, 30, 5, 40});
  // 40 rows of strokes and 9 rows of hatches after the canvas make 49 ticks and 16
  // pictures; the last image shown is the result itself.
  ASSERT_EQ(host.shown.size(), 17u);
  for (size_t k = 0; k + 1 < host.shown.size(); ++k) {
    EXPECT_EQ(AlphaOf(host.shown[k].row(0)[0]), 255u);
    EXPECT_EQ(AlphaOf(host.shown[k].row(199)[159]), 255u);
  }
  // Strokes grow from picture to picture.
  EXPECT_GT(MeanLuminance(host.shown[0]), MeanLuminance(host.shown[host.shown.size() - 2]));
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);
  for (size_t k = 0; k + 1 < host.progress.size(); ++k) {
    EXPECT_GE(host.progress[k], 0);
    EXPECT_LE(host.progress[k], 100);
    if (k > 0) {
      EXPECT_GE(host.progress[k], host.progress[k - 1]);
    }
  }
  EXPECT_EQ(host.historySaves, 1);

  // A preview leaves the progress bar alone: a full render may own it meanwhile.
  PenHost previewHost;
  previewHost.load(Patch(200, 200, 300, 300));
  EffectRunner previewRunner(previewHost);
  previewRunner.ProcessEffect(202, 65, 70, 30, 5, 40, true);
  ASSERT_TRUE(testutil::WaitFor([&] { return previewRunner.ActiveWorkers() == 0; }));
  QCoreApplication::processEvents();
  EXPECT_TRUE(previewHost.progress.empty());
  ASSERT_FALSE(previewHost.paneBitmaps.empty());
  EXPECT_EQ(previewHost.panePercents.back(), -1);  // the finished picture
}

TEST(FeltTipPen, CancelledRenderStopsAndKeepsItsPicture) {
  // Escape pressed as the canvas is laid: the marker pass stops before its first row,
  // the source's transparency is not cut out, the progress bar is hidden, and the
  // picture on show goes into the history.
  CapturingRegistered capture;
  std::vector<uint32_t> px(64 * 40, 0xFF604020u);
  for (int y = 0; y < 40; ++y) px[size_t(y) * 64] = 0u;
  PenHost host;
  host.load(MakeImage(64, 40, px));
  EffectRunner runner(host);
  host.cancelOnSwitchRead = &runner;
  g_lastDest = Image();
  Render(runner, {65, 70, 30, 5, 40});
  ASSERT_FALSE(g_lastDest.isEmpty());
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(g_lastDest.row(y)[x], kWhite) << x << "," << y;
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_FALSE(runner.IsEffectRunning());
  EXPECT_EQ(host.result.uniqueId(), host.source.uniqueId());
}

TEST(FeltTipPen, Golden) {
  // A patch of the sample photo with a transparent corner and a half-transparent band.
  const Image photo = Patch(330, 330, 80, 60);
  std::vector<uint32_t> px(80 * 60);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      uint32_t p = gfx::Unpremultiply(photo.row(y)[x]);
      if (x < 10 && y < 10)
        p = 0u;
      else if (y >= 50)
        p = (p & 0x00FFFFFFu) | 0x80000000u;
      px[size_t(y) * 80 + x] = p;
    }
  testutil::ExpectMatchesGolden(Pen(MakeImage(80, 60, px), 65, 70, 30, 5, 40),
                                QStringLiteral("felt_tip_pen"));
}
