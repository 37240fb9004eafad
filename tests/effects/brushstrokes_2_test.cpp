#include "effects/painting/brushstrokes_2.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/painting/post_processing.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <algorithm>
#include <random>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

Image Paint(const Image& source, int P1, int P2, int P3, int P4, int P5, uint32_t seed = 305) {
  SetRandomSeed(seed);
  Surface dest(source.width(), source.height());
  Ollivander(source, dest, P1, P2, P3, P4, P5, true);
  return dest.snapshot();
}

// A full render through the runner, as the render button starts it.
void Render(EffectRunner& runner, int P1, int P2, int P3, int P4, int P5) {
  runner.ProcessEffect(305, P1, P2, P3, P4, P5, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 120000));
  QCoreApplication::processEvents();
}

}  // namespace

TEST(Brushstrokes2, SlidersMapToTheirQuantities) {
  struct Case {
    int P1, P2, P3, P4;
    int divisor, batch, skip, accept, saturation;
  };
  const Case cases[] = {
      {50, 30, 25, 60, 23, 3, 195, 281, 20},  // the defaults
      {100, 0, 0, 50, 18, 1, 255, 256, 0},    // P4 = 50 leaves the colour alone
      {0, 100, 100, 0, 28, 9, 55, 356, -100},
      {9, 12, 1, 100, 28, 1, 231, 257, 100},
      {10, 13, 50, 51, 27, 2, 229, 306, 2},
      // Values from outside the sliders (scripts) are held at the ends.
      {300, -4, 900, 400, 18, 1, 255, 356, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "P=" << c.P1 << "," << c.P2 << "," << c.P3 << "," << c.P4);
    const TBrushstrokes2Settings s = Brushstrokes2Settings(c.P1, c.P2, c.P3, c.P4, 70);
    EXPECT_EQ(s.LengthDivisor, c.divisor);
    EXPECT_EQ(s.BatchMultiplier, c.batch);
    EXPECT_EQ(s.SkipLevel, c.skip);
    EXPECT_EQ(s.AcceptNumerator, c.accept);
    EXPECT_EQ(s.Saturation, c.saturation);
  }
}

TEST(Brushstrokes2, VectorStampsMatchThePlainOne) {
  std::mt19937 gen(7);
  auto byte = [&] { return uint32_t(gen() & 0xFF); };
  // Spans of every length up to a few vectors, so that every tail is met; coverage and
  // opacity over their whole ranges, and transparent source pixels here and there.
  for (int op : {0, 1, 2, 17, 128, 200, 254, 255}) {
    for (int n = 0; n <= 37; ++n) {
      for (int round = 0; round < 8; ++round) {
        std::vector<uint32_t> dst(size_t(n) + 1), p(size_t(n) + 1), src(size_t(n) + 1);
        std::vector<uint8_t> a(size_t(n) + 1);
        for (int i = 0; i < n; ++i) {
          dst[size_t(i)] = gfx::PackArgb(byte(), byte(), byte(), byte());
          p[size_t(i)] = gfx::PackArgb(255, byte(), byte(), byte());
          // Zero, full and everything between.
          const uint32_t r = gen() % 8;
          a[size_t(i)] = uint8_t(r == 0 ? 0 : r == 1 ? 255 : byte());
          src[size_t(i)] = gen() % 5 == 0 ? 0u : 0xFF102030u;
        }
        for (const uint32_t* guard :
             {static_cast<const uint32_t*>(nullptr), static_cast<const uint32_t*>(src.data())}) {
          std::vector<uint32_t> expected = dst, fast = dst, sse2 = dst;
          BlendStampSpanReference(expected.data(), a.data(), p.data(), guard, n, op);
          BlendStampSpan(fast.data(), a.data(), p.data(), guard, n, op);
          BlendStampSpanSse2(sse2.data(), a.data(), p.data(), guard, n, op);
          ASSERT_EQ(fast, expected) << "op " << op << " n " << n;
          ASSERT_EQ(sse2, expected) << "op " << op << " n " << n;
        }
      }
    }
  }
  // Every coverage against every opacity once, on one painting and patch colour.
  std::vector<uint8_t> a(256);
  for (int i = 0; i < 256; ++i) a[size_t(i)] = uint8_t(i);
  const std::vector<uint32_t> p(256, 0xFFF0801Bu);
  for (int op = 0; op <= 255; ++op) {
    std::vector<uint32_t> expected(256, 0x80FF3C00u), fast = expected, sse2 = expected;
    BlendStampSpanReference(expected.data(), a.data(), p.data(), nullptr, 256, op);
    BlendStampSpan(fast.data(), a.data(), p.data(), nullptr, 256, op);
    BlendStampSpanSse2(sse2.data(), a.data(), p.data(), nullptr, 256, op);
    ASSERT_EQ(fast, expected) << op;
    ASSERT_EQ(sse2, expected) << op;
  }
  // The plain rule itself: (d (255 - a) + p a) div 255, then ((255 - op) d + op t) div 255.
  uint32_t d = 0x00102030u;
  const uint8_t cov = 100;
  const uint32_t patch = 0xFFC08040u;
  BlendStampSpanReference(&d, &cov, &patch, nullptr, 1, 60);
  // red: t = (16 * 155 + 192 * 100) / 255 = 85; (195 * 16 + 60 * 85) / 255 = 32
  EXPECT_EQ(d, gfx::PackArgb(255, 32, 40, 49));
}

TEST(Brushstrokes2, PaintingIsReproducibleFromTheSeed) {
  const Image source = Patch(380, 420, 72, 56);
  const Image painting = Paint(source, 50, 30, 25, 60, 70);
  testutil::ExpectMatchesGolden(painting, "brushstrokes_2");
  EXPECT_EQ(testutil::MaxChannelDifference(Paint(source, 50, 30, 25, 60, 70), painting), 0);
  // Everything is painted and opaque.
  for (int y = 0; y < painting.height(); ++y)
    for (int x = 0; x < painting.width(); ++x) ASSERT_EQ(AlphaOf(painting.row(y)[x]), 255u);
}

TEST(Brushstrokes2, EraseBackgroundOffOnlyKeepsStrokesThatHelp) {
  // With nothing to improve every stroke is wiped off again: all that is left is the
  // light sharpening of a paint-over (P4 = 50 leaves the colour alone).
  const Image source = Patch(300, 500, 90, 70);
  FakeHost host;
  host.load(source);
  host.eraseBackground = false;
  EffectRunner runner(host);
  Render(runner, 50, 30, 25, 50, 70);
  Surface expected(source.width(), source.height());
  expected.drawImage(source, 0, 0, gfx::Sampling::Nearest);
  SharpenSurface(nullptr, expected, 10);
  EXPECT_EQ(testutil::MaxChannelDifference(host.result, expected.snapshot()), 0);
  EXPECT_EQ(host.progress.back(), 101);
}

TEST(Brushstrokes2, TransparentSourceKeepsItsOutline) {
  // Left third transparent, middle third half-transparent, right third opaque; the
  // colours are straight.
  const int w = 60, h = 48;
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t alpha = x < 20 ? 0 : x < 40 ? 128 : 255;
      px[size_t(y) * w + x] = alpha << 24 | uint32_t(180 + (x + y) % 40) << 16 | 0x7830u;
    }
  const Image source = MakeImage(w, h, px);
  FakeHost host;
  host.load(source);
  EffectRunner runner(host);
  Render(runner, 50, 30, 25, 50, 70);
  const Image& out = host.result;
  ASSERT_EQ(out.width(), w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = out.row(y)[x];
      ASSERT_EQ(AlphaOf(p), AlphaOf(source.row(y)[x])) << x << "," << y;
      // Valid premultiplied pixels: no colour byte above alpha.
      ASSERT_LE(gfx::RedOf(p), AlphaOf(p)) << x << "," << y;
      ASSERT_LE(gfx::GreenOf(p), AlphaOf(p)) << x << "," << y;
    }
  // The half-transparent band is painted in the photo's own colour, not darkened by
  // its alpha a second time.
  int64_t red = 0, count = 0;
  for (int y = 4; y < h - 4; ++y)
    for (int x = 24; x < 36; ++x) {
      red += gfx::RedOf(gfx::Unpremultiply(out.row(y)[x]));
      ++count;
    }
  EXPECT_GT(double(red) / double(count), 170.0);
}

TEST(Brushstrokes2, TinyPicturesKeepTheCanvas) {
  // Too small for a stroke: a full render gives the cleared canvas (white for an opaque
  // photo) or, painting over, the current picture; never an empty one.
  const Image source = Patch(100, 100, 9, 30);
  for (bool erase : {true, false}) {
    FakeHost host;
    host.load(source);
    host.eraseBackground = erase;
    EffectRunner runner(host);
    Render(runner, 50, 30, 25, 60, 70);
    SCOPED_TRACE(erase);
    EXPECT_EQ(testutil::MaxChannelDifference(host.result,
                                             erase ? SolidImage(9, 30, 0xFFFFFFFFu) : source),
              0);
    EXPECT_EQ(host.progress.back(), 101);
  }
}

TEST(Brushstrokes2, MissingTipsArePaintedWithADisc) {
  TForm3& holder = TForm3::Instance();
  for (const char* name : {"PaintBrushSim", "PaintBrushSim2", "PaintBrushSim3"})
    holder.SetPicture(QString::fromLatin1(name), Image());
  const Image source = Patch(380, 420, 64, 48);
  const Image painting = Paint(source, 50, 30, 25, 60, 70);
  for (const char* name : {"PaintBrushSim", "PaintBrushSim2", "PaintBrushSim3"})
    holder.RestoreBuiltinPicture(QString::fromLatin1(name));
  // Strokes were laid: the painting follows the photo, far closer than a blank canvas.
  int64_t painted = 0, blank = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint32_t s = source.row(y)[x];
      painted += std::abs(int(gfx::GreenOf(painting.row(y)[x])) - int(gfx::GreenOf(s)));
      blank += 255 - int(gfx::GreenOf(s));
    }
  EXPECT_LT(painted * 3, blank);
}
