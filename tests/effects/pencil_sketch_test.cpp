#include "brushes/image_repository.h"
#include "effects/sketch/pencil_sketch.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace quillora;
using testutil::MakeImage;
using testutil::PixelAt;
using testutil::SolidImage;

namespace {

Image Sketch(const Image& source, int P1 = 20, int P2 = 50, int P3 = 65, int P4 = 5, int P5 = 80) {
  Surface dest(source.width(), source.height());
  PencilSketch(source, dest, P1, P2, P3, P4, P5, false);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(420, 560, 48, 40)); }

// Hides the pencil texture for one test.
class MissingTexture {
 public:
  MissingTexture() { TForm3::Instance().SetPicture(QStringLiteral("PencilTexture"), Image()); }
  ~MissingTexture() { TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("PencilTexture")); }
};

}  // namespace

TEST(PencilSketch, TransparentStaysTransparentAndEmptyDrawsNothing) {
  const Image out = Sketch(SolidImage(9, 7, 0x05FFFFFF));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) ASSERT_EQ(out.row(y)[x], 0u);
}

TEST(PencilSketch, SameInputGivesTheSamePicture) {
  const Image patch = SamplePatch();
  const Image a = Sketch(patch), b = Sketch(patch);
  EXPECT_EQ(testutil::MaxChannelDifference(a, b), 0);
  testutil::ExpectMatchesGolden(a, QStringLiteral("pencil_sketch_1"));
}

TEST(PencilSketch, ZeroColourIntensityDrawsInGrey) {
  const Image out = Sketch(SamplePatch(), 20, 50, 65, 5, 0);
  int opaque = 0;
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) {
      const uint32_t p = out.row(y)[x];
      if (gfx::AlphaOf(p) == 255) ++opaque;
      ASSERT_EQ(gfx::RedOf(p), gfx::GreenOf(p));
      ASSERT_EQ(gfx::GreenOf(p), gfx::BlueOf(p));
    }
  EXPECT_GT(opaque, out.width() * out.height() / 2);
  // Full colour intensity keeps the tint.
  const Image coloured = Sketch(SamplePatch(), 20, 50, 65, 5, 100);
  bool tinted = false;
  for (int y = 0; y < coloured.height() && !tinted; ++y)
    for (int x = 0; x < coloured.width(); ++x)
      if (gfx::RedOf(coloured.row(y)[x]) != gfx::BlueOf(coloured.row(y)[x])) tinted = true;
  EXPECT_TRUE(tinted);
}

TEST(PencilSketch, ZeroThresholdMakesEveryPixelAnEdgeWithoutTexture) {
  const Image patch = SamplePatch();
  const Image edgesOnly = Sketch(patch, 0);
  const Image withFlats = Sketch(patch, 20);
  MissingTexture hidden;
  EXPECT_EQ(testutil::MaxChannelDifference(edgesOnly, Sketch(patch, 0)), 0);
  // With a threshold the flat areas take their grain from the texture.
  EXPECT_GT(testutil::MaxChannelDifference(withFlats, Sketch(patch, 20)), 0);
}

TEST(PencilSketch, WithoutTheTextureFlatAreasUseTheMiddleGrey) {
  // A flat colour (100, 150, 200) with the defaults but a threshold no inner pixel
  // reaches: with the texture value 128 the two possible shades are (207, 247, 253)
  // and, with the half-luminance flag, white.
  MissingTexture hidden;
  const Image out = Sketch(SolidImage(40, 40, 0xFF6496C8), 100);
  int minRed = 255, maxRed = 0;
  for (int y = 6; y < 34; ++y)
    for (int x = 6; x < 34; ++x) {
      const uint32_t p = PixelAt(out, x, y);
      ASSERT_EQ(gfx::AlphaOf(p), 255u);
      // Cubic resampling may overshoot a little between the two shades.
      ASSERT_GE(int(gfx::RedOf(p)), 207 - 4);
      ASSERT_GE(int(gfx::GreenOf(p)), 247 - 4);
      ASSERT_GE(int(gfx::BlueOf(p)), 253 - 4);
      minRed = std::min(minRed, int(gfx::RedOf(p)));
      maxRed = std::max(maxRed, int(gfx::RedOf(p)));
    }
  EXPECT_LE(minRed, 212);
  EXPECT_GE(maxRed, 250);
}
