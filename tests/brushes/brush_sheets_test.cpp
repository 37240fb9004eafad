// The brush pictures are cut and stamped by position: sheets in 256-pixel cells, eight
// to a row, the stroke atlas in 250-pixel cells, five to a row. The effects tint a brush
// by its alpha alone, drop a sheet cell unless one of five pixels on its centre column
// is covered, and cut the atlas by darkness. These tests check the pictures against
// what that cutting relies on.
#include "brushes/image_repository.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstdint>

namespace {

gfx::Image Picture(const char* name) {
  return quillora::TForm3::Instance().Picture(QString::fromLatin1(name));
}

// Pixels are premultiplied ARGB words, so a black pixel is its alpha alone.
int Alpha(uint32_t p) { return int(p >> 24); }
bool IsBlack(uint32_t p) { return (p & 0x00FFFFFFu) == 0; }
int Luminance(uint32_t p) {
  return (30 * int((p >> 16) & 0xFF) + 59 * int((p >> 8) & 0xFF) + 11 * int(p & 0xFF)) / 100;
}

constexpr int kCell = 256;
constexpr int kColumns = 8;
// How far a mark must stay from its cell's edge; a stroke reaching the edge would be
// cut off in one cell and leak into the next.
constexpr int kMargin = 3;

struct Sheet {
  const char* name;
  int height;
  int brushes;
};

const Sheet kSheets[] = {
    {"DefaultBrushes", 1536, 40},
    {"WatercolorBrushes", 768, 21},
    {"PastelBrushes", 512, 13},
};

class BrushSheet : public ::testing::TestWithParam<Sheet> {};

TEST_P(BrushSheet, HasItsSizeAndIsBlackWithCoverageInAlpha) {
  const Sheet sheet = GetParam();
  const gfx::Image image = Picture(sheet.name);
  ASSERT_EQ(image.width(), 2048);
  ASSERT_EQ(image.height(), sheet.height);
  int coloured = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) coloured += !IsBlack(image.row(y)[x]);
  EXPECT_EQ(coloured, 0);
}

// The extraction of effects 302 and 303 keeps a cell only if one of these pixels has
// alpha above 10; the effects count their brushes from what it keeps.
TEST_P(BrushSheet, EveryBrushCellPassesTheEmptinessTestAndTheRestAreEmpty) {
  const Sheet sheet = GetParam();
  const gfx::Image image = Picture(sheet.name);
  ASSERT_EQ(image.height(), sheet.height);
  const int cells = kColumns * sheet.height / kCell;
  for (int k = 0; k < cells; ++k) {
    const int ox = (k % kColumns) * kCell, oy = (k / kColumns) * kCell;
    bool kept = false;
    for (int y : {64, 96, 128, 160, 192}) kept |= Alpha(image.row(oy + y)[ox + 128]) > 10;
    int covered = 0;
    for (int y = 0; y < kCell; ++y)
      for (int x = 0; x < kCell; ++x) covered += Alpha(image.row(oy + y)[ox + x]) != 0;
    if (k < sheet.brushes) {
      EXPECT_TRUE(kept) << sheet.name << " cell " << k;
      // A real mark, not a few stray pixels.
      EXPECT_GT(covered, kCell * kCell / 50) << sheet.name << " cell " << k;
    } else {
      EXPECT_EQ(covered, 0) << sheet.name << " cell " << k;
    }
  }
}

TEST_P(BrushSheet, NoMarkReachesTheEdgeOfItsCell) {
  const Sheet sheet = GetParam();
  const gfx::Image image = Picture(sheet.name);
  ASSERT_EQ(image.height(), sheet.height);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const int cx = x % kCell, cy = y % kCell;
      const bool nearEdge =
          cx < kMargin || cy < kMargin || cx >= kCell - kMargin || cy >= kCell - kMargin;
      if (nearEdge && Alpha(image.row(y)[x]) != 0) {
        ADD_FAILURE() << sheet.name << " pixel " << x << ", " << y << " in cell "
                      << (y / kCell) * kColumns + x / kCell;
        return;
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Sheets, BrushSheet, ::testing::ValuesIn(kSheets),
                         [](const auto& info) { return std::string(info.param.name); });

// Impasto turns each brush's principal axis to the stroke direction; a brush whose
// coverage is as wide as it is long has no axis to turn, so most must be elongated.
TEST(DefaultBrushes, MostBrushesHaveAClearPrincipalAxis) {
  const gfx::Image image = Picture("DefaultBrushes");
  ASSERT_EQ(image.height(), 1536);
  int elongated = 0;
  for (int k = 0; k < 40; ++k) {
    const int ox = (k % kColumns) * kCell, oy = (k / kColumns) * kCell;
    double m = 0, mx = 0, my = 0;
    for (int y = 0; y < kCell; ++y)
      for (int x = 0; x < kCell; ++x) {
        const double a = Alpha(image.row(oy + y)[ox + x]);
        m += a, mx += a * x, my += a * y;
      }
    ASSERT_GT(m, 0.0) << "cell " << k;
    const double cx = mx / m, cy = my / m;
    double m20 = 0, m02 = 0, m11 = 0;
    for (int y = 0; y < kCell; ++y)
      for (int x = 0; x < kCell; ++x) {
        const double a = Alpha(image.row(oy + y)[ox + x]);
        m20 += a * (x - cx) * (x - cx), m02 += a * (y - cy) * (y - cy),
            m11 += a * (x - cx) * (y - cy);
      }
    // The variances along the two principal axes are mean +- spread; a mark at least
    // half as long again as it is wide has a ratio of 1.5^2.
    const double mean = 0.5 * (m20 + m02), spread = std::hypot(0.5 * (m20 - m02), m11);
    elongated += (mean + spread) > 2.25 * (mean - spread);
  }
  EXPECT_GE(elongated, 24);
}

TEST(TemplateMatchingBrushes, IsAnOpaqueAtlasOfDarkStrokesOnWhite) {
  constexpr int kAtlasCell = 250;
  const gfx::Image atlas = Picture("TemplateMatchingBrushes");
  ASSERT_EQ(atlas.width(), 1250);
  ASSERT_EQ(atlas.height(), 2000);
  for (int k = 0; k < 40; ++k) {
    const int ox = (k % 5) * kAtlasCell, oy = (k / 5) * kAtlasCell;
    int transparent = 0, notWhite = 0, dark = 0, edge = 0;
    for (int y = 0; y < kAtlasCell; ++y)
      for (int x = 0; x < kAtlasCell; ++x) {
        const uint32_t p = atlas.row(oy + y)[ox + x];
        transparent += Alpha(p) != 255;
        notWhite += (p & 0x00FFFFFFu) != 0x00FFFFFFu;
        dark += Luminance(p) < 100;
        const bool nearEdge =
            x < kMargin || y < kMargin || x >= kAtlasCell - kMargin || y >= kAtlasCell - kMargin;
        edge += nearEdge && (p & 0x00FFFFFFu) != 0x00FFFFFFu;
      }
    EXPECT_EQ(transparent, 0) << "cell " << k;
    EXPECT_EQ(edge, 0) << "cell " << k;
    if (k < 38) {
      // Darkness becomes coverage: a stroke must be dark over a real area.
      EXPECT_GT(dark, kAtlasCell * kAtlasCell / 40) << "cell " << k;
    } else {
      EXPECT_EQ(notWhite, 0) << "cell " << k;
    }
  }
}

struct Tip {
  const char* name;
  int width;
  int height;
};

class BrushTip : public ::testing::TestWithParam<Tip> {};

// Brushstrokes 2 reads only the alpha of a tip and stamps it a pixel apart, so a tip
// must be black, cover its middle and leave its border clear (or the stroke would
// show the square of the image).
TEST_P(BrushTip, IsABlackRoundTipWithAClearBorder) {
  const Tip tip = GetParam();
  const gfx::Image image = Picture(tip.name);
  ASSERT_EQ(image.width(), tip.width);
  ASSERT_EQ(image.height(), tip.height);
  int coloured = 0, border = 0, soft = 0;
  for (int y = 0; y < tip.height; ++y)
    for (int x = 0; x < tip.width; ++x) {
      const uint32_t p = image.row(y)[x];
      coloured += !IsBlack(p);
      if (x == 0 || y == 0 || x == tip.width - 1 || y == tip.height - 1) border += Alpha(p) != 0;
      soft += Alpha(p) > 0 && Alpha(p) < 200;
    }
  EXPECT_EQ(coloured, 0);
  EXPECT_EQ(border, 0);
  EXPECT_GT(Alpha(image.row(tip.height / 2)[tip.width / 2]), 60);
  // A soft edge, not a cut-out disc.
  EXPECT_GT(soft, tip.width * tip.height / 10);
}

INSTANTIATE_TEST_SUITE_P(Tips, BrushTip,
                         ::testing::Values(Tip{"PaintBrushSim", 80, 80},
                                           Tip{"PaintBrushSim2", 54, 56},
                                           Tip{"PaintBrushSim3", 38, 39}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
