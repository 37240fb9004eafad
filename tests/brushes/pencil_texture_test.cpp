// The pencil texture is a lookup table for the pencil sketch effect: the effect takes
// (R + G + B) div 3 of every pixel, picks the column from a pixel's luminance
// (column = 2 x luminance) and walks the rows along a scan line, jumping to a random
// row now and then. These tests check what that reading relies on.
#include "brushes/image_repository.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 166;
// The rows the effect visits: (y mod 164) + 1 and Random(163) + 1.
constexpr int kFirstRow = 1;
constexpr int kLastRow = kHeight - 2;

// The effect's texture grid.
struct Grid {
  explicit Grid(const gfx::Image& image) : cells(size_t(kWidth) * kHeight) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const uint32_t p = testutil::PixelAt(image, x, y);
        at(x, y) = int(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
      }
  }
  int& at(int x, int y) { return cells[size_t(y) * kWidth + x]; }
  // Mean over columns [x0, x1) and rows [y0, y1).
  double Mean(int x0, int x1, int y0, int y1) {
    double sum = 0.0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sum += at(x, y);
    return sum / (double(x1 - x0) * (y1 - y0));
  }
  std::vector<int> cells;
};

gfx::Image Texture() { return quillora::TForm3::Instance().PencilTexture(); }

TEST(PencilTexture, IsAnOpaqueGreyStrip) {
  const gfx::Image texture = Texture();
  ASSERT_EQ(texture.width(), kWidth);
  ASSERT_EQ(texture.height(), kHeight);
  int notOpaque = 0, notGrey = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint32_t p = testutil::PixelAt(texture, x, y);
      notOpaque += (p >> 24) != 0xFF;
      const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      notGrey += r != g || g != b;
    }
  EXPECT_EQ(notOpaque, 0);
  EXPECT_EQ(notGrey, 0);
}

// The effect's tone response is the column mean as a function of luminance, so the
// means must rise steadily from dark graphite to white paper, close to a straight line.
TEST(PencilTexture, ColumnMeansRiseSteadilyFromDarkToWhite) {
  const gfx::Image texture = Texture();
  ASSERT_EQ(texture.width(), kWidth);
  ASSERT_EQ(texture.height(), kHeight);
  Grid grid(texture);
  std::vector<double> mean(kWidth);
  for (int x = 0; x < kWidth; ++x) mean[x] = grid.Mean(x, x + 1, 0, kHeight);

  EXPECT_NEAR(grid.Mean(0, 4, 0, kHeight), 38.0, 4.0);
  EXPECT_NEAR(grid.Mean(kWidth - 4, kWidth, 0, kHeight), 251.0, 3.0);

  constexpr int kRadius = 2;
  double previous = -1.0;
  for (int x = kRadius; x < kWidth - kRadius; ++x) {
    double smoothed = 0.0;
    for (int k = -kRadius; k <= kRadius; ++k) smoothed += mean[x + k];
    smoothed /= 2 * kRadius + 1;
    EXPECT_GE(smoothed, previous) << "column " << x;
    previous = smoothed;
  }
  for (int x = 0; x < kWidth; ++x) {
    const double line = 38.0 + (251.0 - 38.0) * x / (kWidth - 1);
    EXPECT_NEAR(mean[x], line, 6.0) << "column " << x;
  }
}

// The effect reads whole runs of one row, so a band of rows darker than the rest would
// show as a stripe repeating every 164 scan lines. The tolerance is a small fraction
// of the swing between stroke and paper down a column (several tens of levels), which
// the bands of a hatched texture cannot average away exactly.
TEST(PencilTexture, EveryBandOfRowsCarriesTheSameTone) {
  const gfx::Image texture = Texture();
  ASSERT_EQ(texture.width(), kWidth);
  ASSERT_EQ(texture.height(), kHeight);
  Grid grid(texture);
  constexpr int kBlock = 64, kBands = 4;
  constexpr int kBandRows = (kLastRow - kFirstRow + 1) / kBands;
  for (int x0 = 0; x0 < kWidth; x0 += kBlock) {
    const double block = grid.Mean(x0, x0 + kBlock, kFirstRow, kLastRow + 1);
    for (int band = 0; band < kBands; ++band) {
      const int y0 = kFirstRow + band * kBandRows;
      EXPECT_NEAR(grid.Mean(x0, x0 + kBlock, y0, y0 + kBandRows), block, 6.0)
          << "columns " << x0 << ".." << x0 + kBlock - 1 << ", rows " << y0 << ".."
          << y0 + kBandRows - 1;
    }
  }
}

// Hatching, not a smooth gradient: down a mid-tone column the tone swings between
// strokes and paper, which is what gives the sketch its grain.
TEST(PencilTexture, MidTonesAreHatchedNotFlat) {
  const gfx::Image texture = Texture();
  ASSERT_EQ(texture.width(), kWidth);
  ASSERT_EQ(texture.height(), kHeight);
  Grid grid(texture);
  for (int x = 128; x < 384; x += 32) {
    const double mean = grid.Mean(x, x + 1, 0, kHeight);
    double variance = 0.0;
    for (int y = 0; y < kHeight; ++y) variance += std::pow(grid.at(x, y) - mean, 2.0);
    EXPECT_GT(std::sqrt(variance / kHeight), 25.0) << "column " << x;
  }
}

}  // namespace
