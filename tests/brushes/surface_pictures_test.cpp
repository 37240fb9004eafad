// The surface pictures: the paper grain of the wash painting, the old-film overlay,
// the overlay textures and the frames. The effects read them by position and by
// difference from their mean, and the frame tool cuts a frame into a nine-patch at
// the first nearly opaque pixel it meets walking out from the centre. These tests
// check the pictures against what those readers rely on.
#include "brushes/image_repository.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using quillora::NamedImage;
using quillora::TForm3;

gfx::Image Picture(const char* name) {
  return TForm3::Instance().Picture(QString::fromLatin1(name));
}

int Alpha(uint32_t p) { return int(p >> 24); }

// The overlay's luminance, on premultiplied pixels (the pictures tested with it are
// opaque, so premultiplied and straight agree).
double Luminance(uint32_t p) {
  return 0.299 * double((p >> 16) & 0xFF) + 0.587 * double((p >> 8) & 0xFF) +
         0.114 * double(p & 0xFF);
}

int CountNotOpaque(const gfx::Image& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += Alpha(image.row(y)[x]) != 255;
  return count;
}

struct Tone {
  double mean = 0.0;
  double deviation = 0.0;
};

Tone ToneOf(const gfx::Image& image) {
  double sum = 0.0, squares = 0.0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const double l = Luminance(image.row(y)[x]);
      sum += l;
      squares += l * l;
    }
  const double n = double(image.width()) * image.height();
  return {sum / n, std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)))};
}

// How much worse the step across the wrap edge is than an ordinary step between
// neighbouring columns, with the luminance first averaged over `run` pixels along the
// columns. With run 1 this catches a hard seam; a longer run averages the fine grain
// away, which exposes a seam in the broad tone that the grain would hide. The rows
// are measured on the picture turned by a quarter.
double SeamRatio(const gfx::Image& image, bool acrossColumns, int run) {
  const int w = acrossColumns ? image.width() : image.height();
  const int h = acrossColumns ? image.height() : image.width();
  auto lum = [&](int u, int v) {
    return acrossColumns ? Luminance(image.row(v)[u]) : Luminance(image.row(u)[v]);
  };
  // Column u of the smoothed picture at every run-th position along it.
  auto smoothed = [&](int u, int v0) {
    double sum = 0.0;
    for (int k = 0; k < run; ++k) sum += lum(u, (v0 + k) % h);
    return sum / run;
  };
  double seam = 0.0, inner = 0.0;
  int samples = 0;
  for (int v0 = 0; v0 < h; v0 += run) {
    std::vector<double> column(w);
    for (int u = 0; u < w; ++u) column[u] = smoothed(u, v0);
    seam += std::fabs(column[w - 1] - column[0]);
    for (int u = 0; u + 1 < w; ++u) inner += std::fabs(column[u + 1] - column[u]);
    ++samples;
  }
  seam /= samples;
  inner /= double(samples) * (w - 1);
  return seam / std::max(inner, 1e-9);
}

// --- The wash painting's paper grain -------------------------------------------

// Watercolor 2 stores the red byte of every pixel and adds (mean - red) x 75 / 255 to
// each wash: the grain must be there, and light and gentle enough not to blotch it.
TEST(WatercolorGrain, IsAnOpaqueLightGrainOfGentleContrast) {
  const gfx::Image grain = Picture("VCLwatercolortexture");
  ASSERT_EQ(grain.width(), 1024);
  ASSERT_EQ(grain.height(), 768);
  EXPECT_EQ(CountNotOpaque(grain), 0);
  double sum = 0.0, squares = 0.0;
  for (int y = 0; y < grain.height(); ++y)
    for (int x = 0; x < grain.width(); ++x) {
      const double red = double((grain.row(y)[x] >> 16) & 0xFF);
      sum += red;
      squares += red * red;
    }
  const double n = 1024.0 * 768.0, mean = sum / n;
  const double deviation = std::sqrt(squares / n - mean * mean);
  EXPECT_GT(mean, 190.0);
  // 8 to 25 levels of red move a wash by about 2 to 7 levels.
  EXPECT_GT(deviation, 8.0);
  EXPECT_LT(deviation, 25.0);
}

// --- The old-film overlay -------------------------------------------------------

// Vintage adds (texel luminance - mean) x grain / 100 to every channel. The film must
// be a flat grey almost everywhere, or the picture would drown in it, with flaws that
// stand well out of it. It repeats over photographs larger than itself, so it must
// also wrap without a seam.
TEST(OldFilmTexture, IsAFlatGreyWithDistinctFlawsThatWraps) {
  const gfx::Image film = Picture("OldFilmTexture");
  ASSERT_EQ(film.width(), 2904);
  ASSERT_EQ(film.height(), 2064);
  EXPECT_EQ(CountNotOpaque(film), 0);
  const Tone tone = ToneOf(film);
  EXPECT_GT(tone.mean, 100.0);
  EXPECT_LT(tone.mean, 200.0);
  int calm = 0, flaws = 0;
  for (int y = 0; y < film.height(); ++y)
    for (int x = 0; x < film.width(); ++x) {
      const double d = std::fabs(Luminance(film.row(y)[x]) - tone.mean);
      calm += d <= 12.0;
      flaws += d >= 30.0;
    }
  const double n = 2904.0 * 2064.0;
  EXPECT_GT(calm / n, 0.95);
  EXPECT_GT(flaws, 10000);
  EXPECT_LT(flaws / n, 0.02);
  EXPECT_LT(SeamRatio(film, true, 1), 1.5);
  EXPECT_LT(SeamRatio(film, false, 1), 1.5);
}

// --- The overlay textures -------------------------------------------------------

const char* const kTextures[] = {"Canvas", "Paper", "Impasto", "watercolor", "cardboard", "fabric"};

TEST(TextureList, HoldsTheSixTexturesInTheSelectorsOrder) {
  const std::vector<NamedImage> list = TForm3::Instance().ImageList(QStringLiteral("TextureList"));
  QStringList names;
  for (const NamedImage& item : list) names << item.name;
  QStringList expected;
  for (const char* name : kTextures) expected << QString::fromLatin1(name);
  EXPECT_EQ(names, expected);
}

class Texture : public ::testing::TestWithParam<const char*> {
 protected:
  gfx::Image Image() const {
    for (const NamedImage& item : TForm3::Instance().ImageList(QStringLiteral("TextureList")))
      if (item.name == QLatin1String(GetParam())) return item.image;
    return gfx::Image();
  }
};

TEST_P(Texture, IsAnOpaqueLightSquare) {
  const gfx::Image texture = Image();
  ASSERT_EQ(texture.width(), 1024);
  ASSERT_EQ(texture.height(), 1024);
  EXPECT_EQ(CountNotOpaque(texture), 0);
  EXPECT_GT(ToneOf(texture).mean, 170.0);
}

// The overlay's strength is the texture's spread around its mean: too little and the
// surface vanishes at the default half strength, too much and it buries the picture.
TEST_P(Texture, HasAModerateSpreadOfTone) {
  const gfx::Image texture = Image();
  ASSERT_FALSE(texture.isEmpty());
  const Tone tone = ToneOf(texture);
  EXPECT_GT(tone.deviation, 10.0);
  EXPECT_LT(tone.deviation, 30.0);
}

// The overlay tiles the texture over the picture. The step across the wrap edge must
// be like any other step between neighbours; 1.5 leaves room for the lattice of the
// noise (its steps are a little smaller or larger depending on where a column falls in
// a cell) but not for a seam, whose step is that of unrelated texels.
TEST_P(Texture, TilesWithoutASeam) {
  const gfx::Image texture = Image();
  ASSERT_FALSE(texture.isEmpty());
  for (int run : {1, 16}) {
    EXPECT_LT(SeamRatio(texture, true, run), 1.5) << "columns, run " << run;
    EXPECT_LT(SeamRatio(texture, false, run), 1.5) << "rows, run " << run;
  }
}

INSTANTIATE_TEST_SUITE_P(Surfaces, Texture, ::testing::ValuesIn(kTextures),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// --- The frames -----------------------------------------------------------------

struct FrameSize {
  int width;
  int height;
};

const FrameSize kFrames[] = {{2225, 2196}, {2244, 2424}, {1122, 1212}, {816, 1456},
                             {2260, 3000}, {1100, 1100}, {2024, 2416}};

// The window as the frame tool finds it: walking out from the centre along the middle
// row and column to the first pixel of alpha 251 or more.
struct Window {
  int left, top, right, bottom;
};

Window FindWindow(const gfx::Image& frame) {
  const int w = frame.width(), h = frame.height(), cx = w / 2, cy = h / 2;
  auto solid = [&](int x, int y) { return Alpha(frame.row(y)[x]) >= 251; };
  Window window{0, 0, w, h};
  for (int x = cx; x >= 0; --x)
    if (solid(x, cy)) {
      window.left = x + 1;
      break;
    }
  for (int x = cx; x < w; ++x)
    if (solid(x, cy)) {
      window.right = x;
      break;
    }
  for (int y = cy; y >= 0; --y)
    if (solid(cx, y)) {
      window.top = y + 1;
      break;
    }
  for (int y = cy; y < h; ++y)
    if (solid(cx, y)) {
      window.bottom = y;
      break;
    }
  return window;
}

TEST(FrameList, HoldsSevenFramesNumberedInOrderWithTheirSizes) {
  const std::vector<NamedImage> list = TForm3::Instance().ImageList(QStringLiteral("FrameList"));
  ASSERT_EQ(list.size(), std::size(kFrames));
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].name, QString::number(i + 1));
    EXPECT_EQ(list[i].image.width(), kFrames[i].width) << "frame " << i + 1;
    EXPECT_EQ(list[i].image.height(), kFrames[i].height) << "frame " << i + 1;
  }
}

// The nine-patch keeps what lies outside the window and stretches the window over the
// mat and the photograph. So everything outside the window must be opaque (a hole
// there would show the background through the frame), about four fifths of the
// picture must be fully transparent, and the middle must be clear.
TEST(FrameList, EveryFrameIsAnOpaqueBorderRoundATransparentMiddle) {
  const std::vector<NamedImage> list = TForm3::Instance().ImageList(QStringLiteral("FrameList"));
  ASSERT_EQ(list.size(), std::size(kFrames));
  for (const NamedImage& item : list) {
    const gfx::Image& frame = item.image;
    ASSERT_FALSE(frame.isEmpty());
    const Window window = FindWindow(frame);
    const int w = frame.width(), h = frame.height();
    // A border on every side, a few percent of the picture thick.
    EXPECT_GT(window.left, w / 50) << "frame " << item.name.toStdString();
    EXPECT_GT(window.top, h / 50) << "frame " << item.name.toStdString();
    EXPECT_LT(window.right, w - w / 50) << "frame " << item.name.toStdString();
    EXPECT_LT(window.bottom, h - h / 50) << "frame " << item.name.toStdString();
    int holes = 0, solidInside = 0;
    long long transparent = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int a = Alpha(frame.row(y)[x]);
        const bool inside =
            x >= window.left && x < window.right && y >= window.top && y < window.bottom;
        transparent += a == 0;
        if (inside)
          solidInside += a >= 251;
        else
          holes += a != 255;
      }
    EXPECT_EQ(holes, 0) << "frame " << item.name.toStdString();
    EXPECT_EQ(solidInside, 0) << "frame " << item.name.toStdString();
    // 80 % give or take 3 points.
    EXPECT_NEAR(double(transparent) / (double(w) * h), 0.80, 0.03)
        << "frame " << item.name.toStdString();
    EXPECT_EQ(Alpha(frame.row(h / 2)[w / 2]), 0) << "frame " << item.name.toStdString();
  }
}

TEST(Frame, TheWorkingFrameStartsAsTheSecondFrameOfTheList) {
  const gfx::Image frame = Picture("Frame");
  const std::vector<NamedImage> list = TForm3::Instance().ImageList(QStringLiteral("FrameList"));
  ASSERT_GE(list.size(), 2u);
  const gfx::Image& second = list[1].image;
  ASSERT_EQ(frame.width(), 2244);
  ASSERT_EQ(frame.height(), 2424);
  ASSERT_EQ(second.width(), frame.width());
  ASSERT_EQ(second.height(), frame.height());
  int different = 0;
  for (int y = 0; y < frame.height(); ++y)
    different += !std::equal(frame.row(y), frame.row(y) + frame.width(), second.row(y));
  EXPECT_EQ(different, 0);
}

}  // namespace
