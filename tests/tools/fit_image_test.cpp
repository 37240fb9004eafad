#include "tools/fit_image.h"

#include "test_util.h"

#include <gtest/gtest.h>

using quillora::FitImageToSize;
using testutil::MakeImage;
using testutil::PixelAt;

namespace {

// 4 x 2, every pixel its own colour: 0xFF0000xy.
gfx::Image Numbered() {
  std::vector<uint32_t> argb;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) argb.push_back(0xFF000000u | uint32_t(x << 4 | y));
  return MakeImage(4, 2, argb);
}

TEST(FitImageToSize, SameSizeIsTheImageItself) {
  const gfx::Image image = Numbered();
  EXPECT_EQ(FitImageToSize(image, 4, 2).uniqueId(), image.uniqueId());
}

TEST(FitImageToSize, PadsWithWhiteAndCropsEquallyUnscaled) {
  const gfx::Image image = Numbered();
  struct Case {
    int w, h;
    int dx, dy;  // where the image's top-left lands
  };
  // Wider and taller (framed), narrower (cropped both sides), odd differences truncated.
  const Case cases[] = {{8, 6, 2, 2}, {2, 2, -1, 0}, {7, 3, 1, 0}, {1, 1, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    const gfx::Image fitted = FitImageToSize(image, c.w, c.h);
    ASSERT_EQ(fitted.width(), c.w);
    ASSERT_EQ(fitted.height(), c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const int sx = x - c.dx, sy = y - c.dy;
        const bool inside = sx >= 0 && sx < 4 && sy >= 0 && sy < 2;
        EXPECT_EQ(PixelAt(fitted, x, y), inside ? PixelAt(image, sx, sy) : 0xFFFFFFFFu)
            << x << "," << y;
      }
  }
}

TEST(FitImageToSize, TranslucentPixelsLieOverWhite) {
  const gfx::Image clear = testutil::SolidImage(1, 1, 0x00000000);
  EXPECT_EQ(PixelAt(FitImageToSize(clear, 3, 1), 1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(FitImageToSize(gfx::Image(), 2, 2), 0, 0), 0xFFFFFFFFu);
}

}  // namespace
