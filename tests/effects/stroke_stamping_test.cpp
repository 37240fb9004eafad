#include "effects/painting/stroke_stamping.h"

#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "gfx/pixel.h"
#include "gfx/surface.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::Image;
using gfx::Surface;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr double kPi = 3.14159265358979323846;

// The blend rule written out byte by byte, as the painting effects define it.
uint32_t BlendByBytes(uint32_t p, uint32_t d) {
  const uint32_t a = p >> 24;
  if (a == 255) return p;
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t y = ((d >> shift) & 0xFF) * (255 - a);
    out |= (((p >> shift) & 0xFF) + ((y + (y >> 7)) >> 8)) << shift;
  }
  return out;
}

uint32_t NextRandom(uint32_t& s) {
  s = s * 1664525u + 1013904223u;
  return s >> 8;
}

uint32_t RandomPremultiplied(uint32_t& s) {
  const uint32_t a = NextRandom(s) & 0xFF;
  auto c = [&] { return a == 0 ? 0u : NextRandom(s) % (a + 1); };
  return a << 24 | c() << 16 | c() << 8 | c();
}

Image DefaultBrush(int k) {
  return ExtractCountedBrushes(TForm3::Instance().Picture(QStringLiteral("DefaultBrushes")), k + 1)
      .images[size_t(k)];
}

// The alpha of `image` drawn by the graphics layer the way the effects place a brush:
// turned by `angle` radians about (cx, cy) into the square of side `size`.
Image DrawnByGraphicsLayer(const Image& image, int side, double size, double angle, double cx,
                           double cy) {
  Surface s(side, side);
  s.translate(cx, cy);
  s.rotate(angle * 180.0 / kPi);
  s.drawImageRect(image, QRectF(0, 0, image.width(), image.height()),
                  QRectF(-size / 2, -size / 2, size, size), gfx::Sampling::Linear);
  return s.snapshot();
}

}  // namespace

TEST(StrokeStamping, BlendMatchesTheByteRuleAndPixelDeltaWeighsAlphaTwice) {
  uint32_t seed = 7;
  for (int i = 0; i < 200000; ++i) {
    const uint32_t p = RandomPremultiplied(seed), d = RandomPremultiplied(seed);
    ASSERT_EQ(BlendStroke(p, d), BlendByBytes(p, d)) << std::hex << p << " over " << d;
  }
  // The extremes of the approximation: a transparent stroke keeps the painting, an
  // opaque one replaces it.
  EXPECT_EQ(BlendStroke(0, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(BlendStroke(0xFF102030u, 0x80404040u), 0xFF102030u);
  EXPECT_EQ(PixelDelta(0xFF000000u, 0x00000000u), 510);
  EXPECT_EQ(PixelDelta(0x10203040u, 0x12213243u), 2 * 2 + 1 + 2 + 3);
}

TEST(StrokeStamping, TintKeepsTheColourAtFullCoverage) {
  // A translucent source colour is painted as itself, not darkened a second time.
  EXPECT_EQ(TintPixel(0x80402010u, 255), 0x80402010u);
  EXPECT_EQ(TintPixel(0xFFFFFFFFu, 128), 0x80808080u);
  EXPECT_EQ(TintPixel(0xFFFFFFFFu, 0), 0u);
}

TEST(StrokeStamping, StampLandsWhereTheGraphicsLayerDrawsIt) {
  // Medium sampling is bilinear from the mipmap level nearest the size; at 200 pixels
  // and above that is the picture itself, at 100 its half-size level. Either way the
  // stamp must sit and turn exactly as the graphics layer draws the same picture.
  const Image brush = DefaultBrush(9);
  const StrokeBrush stroke(brush);
  const Image half = ScaleImageMedium(brush, 128, 128);
  struct Case {
    double size, degrees;
    const Image* reference;
  };
  const Case cases[] = {{256, 0, &brush},    {256, 30, &brush}, {200, 90, &brush},
                        {300, -120, &brush}, {100, 45, &half},  {100, 200, &half}};
  const int side = 420, z = side / 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " px at " << c.degrees << " degrees");
    const double a = c.degrees * kPi / 180.0;
    StrokeScratch scratch(side);
    scratch.Render(BrushStamp(stroke, c.size, a, z, z, 1.0f), 0xFF000000u);
    const Image ref = DrawnByGraphicsLayer(*c.reference, side, c.size, a, z, z);
    int worst = 0;
    int64_t total = 0, painted = 0;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const int ours = int(AlphaOf(scratch.row(y)[x])), theirs = int(AlphaOf(ref.row(y)[x]));
        worst = std::max(worst, std::abs(ours - theirs));
        total += theirs;
        painted += ours;
      }
    EXPECT_LE(worst, 4);
    EXPECT_NEAR(double(painted) / double(total), 1.0, 0.01);
  }
}

TEST(StrokeStamping, TurnedStampFollowsTheBrushAngleConvention) {
  // A brush turned by theta - ComputeBrushAngle(brush) lies along theta: the effects
  // rely on this to lay strokes along edges.
  for (int k : {0, 8, 17, 38}) {
    const Image brush = DefaultBrush(k);
    const float beta = ComputeBrushAngle(brush);
    const StrokeBrush stroke(brush);
    for (double theta : {0.0, 0.6, kPi / 2, 2.5, -1.0}) {
      StrokeScratch scratch(300);
      scratch.Render(BrushStamp(stroke, 180, theta - beta, 150, 150, 1.0f), 0xFF000000u);
      std::vector<uint32_t> px(300 * 300);
      for (int y = 0; y < 300; ++y) std::copy_n(scratch.row(y), 300, &px[size_t(y) * 300]);
      const double got = ComputeBrushAngle(
          Image::FromPixels(px.data(), 300, 300, 300 * 4, gfx::AlphaType::Premultiplied));
      double diff = std::fmod(std::abs(got - theta), kPi);
      diff = std::min(diff, kPi - diff);
      EXPECT_LT(diff, 0.05) << "brush " << k << " theta " << theta << " got " << got;
    }
  }
}

TEST(StrokeStamping, RenderedStampEqualsEverySampleOfIt) {
  // Render skips whatever its row spans rule out; the spans must never cut coverage.
  const StrokeBrush stroke(DefaultBrush(20));
  StrokeScratch scratch(160);
  for (double size : {3.0, 17.0, 64.0, 131.0, 190.0})
    for (double angle : {0.0, 0.3, 1.5707963, 2.0, 3.14159, -0.8})
      for (double centre : {80.0, 80.5, 20.0}) {
        const BrushStamp stamp(stroke, size, angle, centre, 80.0, 0.7f);
        scratch.Render(stamp, 0xFF336699u);
        for (int y = 0; y < 160; ++y)
          for (int x = 0; x < 160; ++x)
            ASSERT_EQ(scratch.row(y)[x], TintPixel(0xFF336699u, uint32_t(stamp.CoverageAt(x, y))))
                << size << " " << angle << " " << centre << " at " << x << "," << y;
      }
  // A fresh render leaves nothing of the one before.
  scratch.Render(BrushStamp(stroke, 150, 0, 80, 80, 1.0f), 0xFFFFFFFFu);
  scratch.Render(BrushStamp(stroke, 5, 0, 10, 10, 1.0f), 0xFFFFFFFFu);
  for (int y = 30; y < 160; ++y)
    for (int x = 30; x < 160; ++x) ASSERT_EQ(scratch.row(y)[x], 0u);
}

TEST(StrokeStamping, MissingAndBlankBrushesPaintNothing) {
  StrokeScratch scratch(64);
  for (const StrokeBrush& b : {StrokeBrush(), StrokeBrush(SolidImage(256, 256, 0))}) {
    scratch.Render(BrushStamp(b, 40, 0.5, 32, 32, 1.0f), 0xFFFFFFFFu);
    EXPECT_TRUE(scratch.dirty().isEmpty());
  }
  EXPECT_TRUE(StrokeBrush().isMissing());
  EXPECT_TRUE(StrokeBrush(SolidImage(8, 8, 0)).isBlank());
  EXPECT_FALSE(StrokeBrush(SolidImage(8, 8, 0x01000000)).isBlank());
}

TEST(StrokeStamping, ReliefLiftsRisingCoverageAndDarkensFallingCoverage) {
  // Alpha steps from 160 to 200 at the centre column; grey 100 at alpha 200 and 80 at
  // alpha 160. Worked by hand for size 20 and strength 30: at the centre (v = 0)
  // A = 40 * 30 / 10 * 156 / 255 * 255 / 255 = 73, held at 50: 100 + 50 * 100 / 512
  // = 109. One pixel left (v = 1, f = 238, w = 100): A = 40, 80 + 40 * 80 / 512 = 86.
  // The mirrored step darkens: 100 * (255 - 25) >> 8 = 89.
  auto scratchWithStep = [](bool rising) {
    StrokeScratch s(64);
    s.MarkWritten(QRect(0, 0, 64, 64));
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const bool high = rising ? x >= 32 : x < 32;
        s.row(y)[x] = high ? 0xC8646464u : 0xA0505050u;
      }
    return s;
  };
  StrokeScratch up = scratchWithStep(true);
  ImpastoRelief(up, 20, 30);
  EXPECT_EQ(up.row(32)[32], 0xC86D6D6Du);
  EXPECT_EQ(up.row(32)[31], 0xA0565656u);
  // Six rows off the centre (f = 153) the lift is about half: A = 26, 100 + 5.
  EXPECT_EQ(up.row(26)[32], 0xC8696969u);
  // Flat coverage is left alone.
  EXPECT_EQ(up.row(32)[36], 0xC8646464u);
  StrokeScratch down = scratchWithStep(false);
  ImpastoRelief(down, 20, 30);
  EXPECT_EQ(down.row(32)[31], 0xC8595959u);
}

namespace {

// The relief written out plainly, pixel by pixel over the whole range.
void ReliefByTheRule(std::vector<uint32_t>& px, int side, int size, int strength, int first,
                     int last) {
  const std::vector<uint32_t> in = px;
  const int z = side / 2, half = size / 2, r = std::max(1, half + size / 4);
  auto alpha = [&](int x, int y) { return int(in[size_t(y) * side + x] >> 24); };
  for (int y = std::max(1, first); y <= std::min(side - 2, last); ++y)
    for (int x = std::max(1, first); x <= std::min(side - 2, last); ++x) {
      const uint32_t p = in[size_t(y) * side + x];
      const int a = int(p >> 24);
      if (a <= 5) continue;
      const int tx = std::clamp(alpha(x + 1, y) - alpha(x - 1, y), -40, 40);
      const int ty = std::clamp(alpha(x, y + 1) - alpha(x, y - 1), -40, 40);
      const int v = std::abs(x - z) + std::abs(y - z);
      if (v >= r) continue;
      const int w = a * a / 255;
      const int f = 255 - v * 255 / r;
      const int A = std::clamp((tx - ty) * strength / 10 * w / 255 * (f * f / 255) / 255, -50, 50);
      uint32_t out = p & 0xFF000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        int c = int((p >> shift) & 0xFF);
        if (A < 0) c = (c * (255 - (-A) / 2)) >> 8;
        if (A > 0) c = std::clamp(c + A * (a - c) / 512, 0, 255);
        out |= uint32_t(c) << shift;
      }
      px[size_t(y) * side + x] = out;
    }
}

}  // namespace

TEST(StrokeStamping, ReliefMatchesTheRuleOnRenderedStrokes) {
  const StrokeBrush stroke(DefaultBrush(13));
  uint32_t seed = 3;
  for (int size : {16, 31, 60, 101, 150})
    for (int strength : {20, 30, 35}) {
      StrokeScratch scratch(200);
      scratch.Render(BrushStamp(stroke, size, 0.4 * strength, 100, 100, 0.9f),
                     RandomPremultiplied(seed) | 0xFF000000u);
      std::vector<uint32_t> expected(200 * 200);
      for (int y = 0; y < 200; ++y) std::copy_n(scratch.row(y), 200, &expected[size_t(y) * 200]);
      const bool own = strength == 35;  // a range of the caller's, as oil pastel uses
      if (own) {
        ImpastoRelief(scratch, size, strength, 100 - size / 2, 100 + size / 3);
        ReliefByTheRule(expected, 200, size, strength, 100 - size / 2, 100 + size / 3);
      } else {
        ImpastoRelief(scratch, size, strength);
        ReliefByTheRule(expected, 200, size, strength, 100 - size / 2 - 2, 100 + size / 2 + 2);
      }
      for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
          ASSERT_EQ(scratch.row(y)[x], expected[size_t(y) * 200 + x])
              << size << " " << strength << " at " << x << "," << y;
    }
}

TEST(StrokeStamping, GradientMapPointsAcrossEdges) {
  // Dark left, bright right: the gradient points right (angle 0); dark top, bright
  // bottom: it points down (+pi/2, y pointing down).
  std::vector<uint32_t> vertical(32 * 32), horizontal(32 * 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      vertical[size_t(y) * 32 + x] = x < 16 ? 0xFF000000u : 0xFFFFFFFFu;
      horizontal[size_t(y) * 32 + x] = y < 16 ? 0xFF000000u : 0xFFFFFFFFu;
    }
  const TGradientMap v = BuildGradientMap(MakeImage(32, 32, vertical), 32, 32);
  const TGradientMap h = BuildGradientMap(MakeImage(32, 32, horizontal), 32, 32);
  EXPECT_EQ(v.at(16, 10).Magnitude, 255);
  EXPECT_FLOAT_EQ(v.at(16, 10).Angle, 0.0f);
  EXPECT_FLOAT_EQ(h.at(10, 16).Angle, float(kPi / 2));
  EXPECT_EQ(v.at(5, 10).Magnitude, 0);
  EXPECT_EQ(v.at(0, 10).Magnitude, 0);  // the border stays zero
  EXPECT_EQ(v.at(16, 0).Magnitude, 0);
}

TEST(StrokeStamping, MediumScalingDoesNotAlias) {
  // A one-pixel checkerboard reduced four times is an even grey; plain bilinear
  // sampling would pick single pixels and keep the pattern.
  std::vector<uint32_t> board(64 * 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      board[size_t(y) * 64 + x] = (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u;
  const Image small = ScaleImageMedium(MakeImage(64, 64, board), 16, 16);
  ASSERT_EQ(small.width(), 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_NEAR(int(gfx::RedOf(small.row(y)[x])), 128, 2);
  const Image same = MakeImage(64, 64, board);
  EXPECT_EQ(ScaleImageMedium(same, 64, 64).uniqueId(), same.uniqueId());
}
