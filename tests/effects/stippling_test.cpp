#include "effects/sketch/stippling.h"

#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace quillora;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

Image Stipple(const Image& source, int P1, bool preview = false) {
  Surface dest(source.width(), source.height());
  Stippling(source, dest, P1, 0, 0, 0, 0, preview);
  return dest.snapshot();
}

// The dithering done the plain way: one byte buffer of straight colour, every
// luminance computed afresh from the bytes, every neighbour turned into its grey.
// The written pixel is black, or white at the pixel's opacity in premultiplied form.
Image ReferenceStipple(const Image& source, int P1) {
  const int W = source.width(), H = source.height();
  std::vector<uint32_t> buf(size_t(W) * H), out(size_t(W) * H);
  source.readPixels(buf.data(), W * 4, gfx::AlphaType::Premultiplied);
  for (uint32_t& p : buf) p = gfx::Unpremultiply(p);
  auto lum = [&](uint32_t p) {
    return (0.299f * float(gfx::RedOf(p)) + 0.587f * float(gfx::GreenOf(p)) +
            0.114f * float(gfx::BlueOf(p))) /
           255.0f;
  };
  const double T = P1 / 255.0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = buf[size_t(y) * W + x];
      const float l = lum(p);
      const int o = double(l) >= T ? 1 : 0;
      const uint32_t a = gfx::AlphaOf(p), c = o ? a : 0;
      out[size_t(y) * W + x] = gfx::PackArgb(a, c, c, c);
      const float e = (l - float(o)) / 8.0f;
      const int nx[6] = {x + 1, x + 2, x - 1, x, x + 1, x};
      const int ny[6] = {y, y, y + 1, y + 1, y + 1, y + 2};
      for (int k = 0; k < 6; ++k) {
        if (nx[k] < 0 || nx[k] >= W || ny[k] >= H) continue;
        uint32_t& q = buf[size_t(ny[k]) * W + nx[k]];
        const uint32_t v = uint32_t(RoundEven(std::clamp(lum(q) + e, 0.0f, 1.0f) * 255.0f));
        q = gfx::PackArgb(gfx::AlphaOf(q), v, v, v);
      }
    }
  return Image::FromPixels(out.data(), W, H, W * 4, gfx::AlphaType::Premultiplied);
}

// Colour, shading and every kind of opacity: opaque, partly transparent, invisible.
Image Fixture(int W = 37, int H = 23) {
  std::vector<uint32_t> px(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t a = x < 6 ? 0u : (y < 5 ? 255u - uint32_t(x * 6) : 255u);
      px[size_t(y) * W + x] =
          gfx::PackArgb(a, uint32_t(x * 7) & 0xFF, uint32_t(y * 11), uint32_t((x * y) % 256));
    }
  return MakeImage(W, H, px);
}

}  // namespace

TEST(Stippling, MatchesTheDitheringDoneByHandForEveryThreshold) {
  const Image source = Fixture();
  const Image patch = TForm3::Instance().DefaultImage().subset(QRect(300, 500, 64, 48));
  for (int P1 : {0, 1, 37, 50, 99, 100}) {
    SCOPED_TRACE(P1);
    EXPECT_EQ(testutil::MaxChannelDifference(Stipple(source, P1), ReferenceStipple(source, P1)), 0);
    EXPECT_EQ(testutil::MaxChannelDifference(Stipple(patch, P1), ReferenceStipple(patch, P1)), 0);
    // The preview runs the same dithering.
    EXPECT_EQ(testutil::MaxChannelDifference(Stipple(source, P1, true), Stipple(source, P1)), 0);
  }
}

TEST(Stippling, InkIsBlackOrWhiteAtThePixelsOwnOpacity) {
  const Image source = Fixture();
  for (int P1 : {0, 50, 100}) {
    const Image out = Stipple(source, P1);
    int black = 0, white = 0;
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) {
        const uint32_t p = out.row(y)[x], a = gfx::AlphaOf(p);
        ASSERT_EQ(a, gfx::AlphaOf(source.row(y)[x])) << x << "," << y;
        // Premultiplied: colour 0 (black) or equal to alpha (white), never above it.
        ASSERT_TRUE(gfx::RedOf(p) == 0 || gfx::RedOf(p) == a) << x << "," << y;
        ASSERT_EQ(gfx::RedOf(p), gfx::GreenOf(p));
        ASSERT_EQ(gfx::GreenOf(p), gfx::BlueOf(p));
        if (a > 0 && a < 255) (gfx::RedOf(p) == 0 ? black : white)++;
      }
    // The partly transparent band really holds both inks, not just one of them.
    if (P1 == 50) {
      EXPECT_GT(black, 0);
      EXPECT_GT(white, 0);
    }
  }
}

TEST(Stippling, SeeThroughAreasKeepTheirTone) {
  // Light grey at a third of full opacity dithers into the same dots as opaque light
  // grey (204 at alpha 85 survives premultiplication exactly); read premultiplied, it
  // would turn into a dense, dark scatter.
  const Image opaque = Stipple(SolidImage(40, 30, 0xFFCCCCCC), 50);
  const Image faint = Stipple(SolidImage(40, 30, 0x55CCCCCC), 50);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      ASSERT_EQ(gfx::AlphaOf(faint.row(y)[x]), 85u);
      ASSERT_EQ(gfx::RedOf(opaque.row(y)[x]) == 0, gfx::RedOf(faint.row(y)[x]) == 0)
          << x << "," << y;
    }
}

TEST(Stippling, ZeroDarkeningLeavesWhitePaperAndFullDarkeningInksMore) {
  const Image source = Fixture();
  const Image none = Stipple(source, 0);
  for (int y = 0; y < none.height(); ++y)
    for (int x = 0; x < none.width(); ++x) {
      if (gfx::AlphaOf(none.row(y)[x]) == 0) continue;
      ASSERT_EQ(testutil::PixelAt(none, x, y) | 0xFF000000u, 0xFFFFFFFFu) << x << "," << y;
    }

  auto blackCount = [](const Image& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (gfx::AlphaOf(img.row(y)[x]) > 0 && gfx::RedOf(img.row(y)[x]) == 0) ++n;
    return n;
  };
  const Image grey = SolidImage(40, 40, 0xFF808080);
  EXPECT_LT(blackCount(Stipple(grey, 30)), blackCount(Stipple(grey, 100)));
  // Mid-grey against a mid threshold breaks into a scatter of both inks.
  const int mixed = blackCount(Stipple(grey, 50));
  EXPECT_GT(mixed, 40 * 40 / 10);
  EXPECT_LT(mixed, 40 * 40 * 9 / 10);
}

TEST(Stippling, SamplePictureKeepsItsLook) {
  const Image patch = TForm3::Instance().DefaultImage().subset(QRect(380, 420, 48, 40));
  testutil::ExpectMatchesGolden(Stipple(patch, 50), QStringLiteral("stippling"));
}
