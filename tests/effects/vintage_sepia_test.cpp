#include "effects/photolab/vintage_sepia.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>

using namespace quillora;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

struct Sliders {
  int P1, P2, P3, P4, P5;
};

Image Vintage(const Image& source, const Sliders& s, bool preview = false) {
  Surface dest(source.width(), source.height());
  VintageSepia(source, dest, s.P1, s.P2, s.P3, s.P4, s.P5, preview);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(400, 520, 64, 48)); }

// A photo patch, odd-sized, with a black and a white pixel, translucent pixels that
// break up the runs of opaque ones, and nearly transparent ones.
Image MixedPatch(int w, int h) {
  const Image photo = TForm3::Instance().DefaultImage().subset(QRect(300, 600, w, h));
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = testutil::PixelAt(photo, x, y);
  px[size_t(h / 2) * w + w / 2] = 0xFF000000;
  px[size_t(h / 2) * w + w / 2 + 1] = 0xFFFFFFFF;
  for (int i = 0; i < w * h; i += 7)
    px[size_t(i)] = (uint32_t(i % 256) << 24) | (px[size_t(i)] & 0xFFFFFF);
  return MakeImage(w, h, px);
}

struct TextureScope {  // a replacement film texture for one test
  explicit TextureScope(const Image& image) {
    TForm3::Instance().SetPicture(QStringLiteral("OldFilmTexture"), image);
  }
  ~TextureScope() { TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("OldFilmTexture")); }
};

int Luma(uint32_t p) {
  return int((77 * gfx::RedOf(p) + 150 * gfx::GreenOf(p) + 29 * gfx::BlueOf(p)) >> 8);
}

int64_t MeanLuma(const Image& texture) {
  int64_t sum = 0;
  for (int y = 0; y < texture.height(); ++y)
    for (int x = 0; x < texture.width(); ++x) sum += Luma(texture.row(y)[x]);
  return sum / (int64_t(texture.width()) * texture.height());
}

// The toning pass pixel by pixel, step by step, on the picture as drawn (the source or
// its blur), with the texture and its mean luma Tm: the oracle of the
// four-pixels-at-a-time pass.
Image ReferenceVintage(const Image& drawn, const Sliders& s, const Image& texture, int64_t Tm) {
  const int W = drawn.width(), H = drawn.height();
  const int kc = s.P1 * 256 / 100, ks = s.P2 * 256 / 100;
  const int A = int(std::nearbyint(s.P4 * 0.306));
  const bool useTexture = s.P4 > 0 && !texture.isEmpty();
  const double cx = W * 0.5, cy = H * 0.5, R = std::sqrt(cx * cx + cy * cy);
  const double inner = R * (double(100000 - 600 * s.P3) / 100000.0);
  const double ring = std::max(R - inner, 0.001), strength = double(85 * s.P3) / 10000.0;
  std::vector<uint32_t> out(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = drawn.row(y)[x];
      uint32_t& o = out[size_t(y) * W + x];
      o = p;
      const int a = int(gfx::AlphaOf(p));
      if (a <= 4) continue;
      int c[3] = {int(gfx::RedOf(p)), int(gfx::GreenOf(p)), int(gfx::BlueOf(p))};
      if (a < 255)
        for (int& v : c) v = std::min(v * 255 / a, 255);
      const int Y = (77 * c[0] + 150 * c[1] + 29 * c[2]) >> 8;
      for (int& v : c) v = Y + ((v - Y) * kc) / 256;
      const int sepia[3] = {std::min((112 * c[0] + 195 * c[1] + 50 * c[2]) >> 8, 255),
                            std::min((86 * c[0] + 170 * c[1] + 42 * c[2]) >> 8, 255),
                            (56 * c[0] + 117 * c[1] + 26 * c[2]) >> 8};
      for (int i = 0; i < 3; ++i) c[i] = c[i] + ((sepia[i] - c[i]) * ks) / 256;
      if (s.P4 > 0) {
        int g = (FilmGrainNoise(uint32_t(x), uint32_t(y)) * A) / 256;
        if (useTexture)
          g +=
              int((Luma(texture.row(y % texture.height())[x % texture.width()]) - Tm) * s.P4 / 100);
        for (int& v : c) v = std::clamp(v + g, 0, 255);
      }
      if (s.P3 > 0) {
        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 > inner * inner) {
          const double t = std::min((std::sqrt(d2) - inner) / ring, 1.0);
          for (int& v : c) v = int(std::nearbyint(v * (1.0 - t * t * strength)));
        }
      }
      if (a < 255)
        for (int& v : c) v = v * a / 255;
      o = gfx::PackArgb(uint32_t(a), uint32_t(std::clamp(c[0], 0, 255)),
                        uint32_t(std::clamp(c[1], 0, 255)), uint32_t(std::clamp(c[2], 0, 255)));
    }
  return Image::FromPixels(out.data(), W, H, qsizetype(W) * 4, gfx::AlphaType::Premultiplied);
}

void ExpectSamePixels(const Image& actual, const Image& expected) {
  ASSERT_EQ(actual.width(), expected.width());
  ASSERT_EQ(actual.height(), expected.height());
  for (int y = 0; y < actual.height(); ++y)
    for (int x = 0; x < actual.width(); ++x)
      ASSERT_EQ(actual.row(y)[x], expected.row(y)[x]) << x << "," << y;
}

}  // namespace

TEST(VintageSepia, GrainHashGivesKnownValues) {
  const struct {
    uint32_t x, y;
    int n;
  } cases[] = {{0, 0, -256}, {1, 0, 208},    {0, 1, -88},
               {5, 3, 212},  {1000, 77, 68}, {4000, 2999, -141}};
  for (const auto& c : cases) EXPECT_EQ(FilmGrainNoise(c.x, c.y), c.n) << c.x << "," << c.y;
}

TEST(VintageSepia, TonesAFlatColourAsWorkedOutByHand) {
  // (100, 150, 200) has the grey 140; no grain, vignette or blur.
  const struct {
    int P1, P2;
    uint32_t expected;
  } cases[] = {
      // All colour gone, sepia (195, 162, 108) mixed in by 179/256; the blue's step
      // (-22.4) truncates towards zero.
      {0, 70, 0xFFB29B76},
      // Half the colour kept (120, 145, 170), then pure sepia.
      {50, 100, 0xFFC4A46D},
      // Truncation toward zero in both the reduction and the mix.
      {33, 30, 0xFF939491},
      {0, 0, 0xFF8C8C8C},    // grey only
      {100, 0, 0xFF6496C8},  // untouched
  };
  for (const auto& c : cases) {
    const Image out = Vintage(SolidImage(7, 3, 0xFF6496C8), {c.P1, c.P2, 0, 0, 0});
    for (int x = 0; x < 7; ++x)
      ASSERT_EQ(out.row(1)[x], c.expected)
          << c.P1 << "," << c.P2 << " x " << x << " " << std::hex << out.row(1)[x];
  }
}

TEST(VintageSepia, MatchesThePixelByPixelPassExactly) {
  // 37 x 23: rows end in a partial group of four, and translucent pixels fall inside
  // groups.
  const Image source = MixedPatch(37, 23);
  const Image texture = TForm3::Instance().Picture(QStringLiteral("OldFilmTexture"));
  ASSERT_FALSE(texture.isEmpty());
  const int64_t Tm = MeanLuma(texture);
  const Sliders cases[] = {{0, 70, 50, 50, 25}, {100, 0, 0, 0, 0},         {50, 100, 100, 100, 0},
                           {33, 30, 70, 1, 1},  {100, 100, 100, 100, 100}, {7, 93, 12, 64, 0},
                           {0, 0, 0, 0, 0}};
  for (const Sliders& s : cases) {
    SCOPED_TRACE(testing::Message()
                 << s.P1 << "," << s.P2 << "," << s.P3 << "," << s.P4 << "," << s.P5);
    const float sigma = float(s.P5 * 375) / 10000.0f;
    const Image drawn = s.P5 == 0 ? source : gfx::GaussianBlur(source, sigma, sigma);
    ExpectSamePixels(Vintage(source, s), ReferenceVintage(drawn, s, texture, Tm));
  }
}

TEST(VintageSepia, NeutralSettingsLeaveAnOpaquePhotoAlone) {
  const Image patch = SamplePatch();
  ExpectSamePixels(Vintage(patch, {100, 0, 0, 0, 0}), patch);
}

TEST(VintageSepia, BlurSliderSoftensWithAClampedGaussian) {
  const Image patch = SamplePatch();
  for (const auto& [P5, sigma] :
       {std::pair{25, 0.9375f}, std::pair{100, 3.75f}, std::pair{1, 0.0375f}})
    ExpectSamePixels(Vintage(patch, {100, 0, 0, 0, P5}),
                     gfx::GaussianBlur(patch, sigma, sigma, gfx::TileMode::Clamp));
}

TEST(VintageSepia, FilmTextureAddsItsDepartureFromTheMeanTiled) {
  // A 3 x 2 texture of greys 100 200 60 / 0 255 150: mean 765 / 6, taken as 127. At
  // grain 50 the texels add (g - 127) x 50 div 100, truncated toward zero; the picture
  // (7 x 5) sees the texture repeated.
  const Image texture = MakeImage(3, 2,
                                  {0xFF646464, 0xFFC8C8C8, 0xFF3C3C3C,  //
                                   0xFF000000, 0xFFFFFFFF, 0xFF969696});
  const int texel[2][3] = {{-13, 36, -33}, {-63, 64, 11}};
  const Image grey = SolidImage(7, 5, 0xFF808080);
  const Sliders s = {100, 0, 0, 50, 0};  // no toning: grey stays 128
  const int A = 15;                      // Round(50 x 0.306)
  Image withTexture, without;
  {
    TextureScope scope(texture);
    withTexture = Vintage(grey, s);
  }
  {
    TextureScope scope{Image()};  // a missing texture leaves the hash noise alone
    without = Vintage(grey, s);
  }
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const int noise = 128 + (FilmGrainNoise(uint32_t(x), uint32_t(y)) * A) / 256;
      const int textured = std::clamp(noise + texel[y % 2][x % 3], 0, 255);
      EXPECT_EQ(withTexture.row(y)[x], gfx::PackArgb(255, textured, textured, textured))
          << x << "," << y;
      EXPECT_EQ(without.row(y)[x], gfx::PackArgb(255, noise, noise, noise)) << x << "," << y;
    }
  // No grain at all at 0: the grey stays flat.
  ExpectSamePixels(Vintage(grey, {100, 0, 0, 0, 0}), grey);
}

TEST(VintageSepia, VignetteDarkensTheCornersOnly) {
  // 9 x 7: the pixel (0, 0) lies exactly at the corner distance R, where the darkening
  // is full: x (1 - 0.85 x P3 / 100).
  const Image flat = SolidImage(9, 7, 0xFF648CC8);  // (100, 140, 200)
  const struct {
    int P3;
    uint32_t corner;
  } cases[] = {{100, gfx::PackArgb(255, 15, 21, 30)}, {60, gfx::PackArgb(255, 49, 69, 98)}};
  for (const auto& c : cases) {
    const Image out = Vintage(flat, {100, 0, c.P3, 0, 0});
    EXPECT_EQ(out.row(0)[0], c.corner) << c.P3;
    for (int y = 2; y <= 4; ++y)
      for (int x = 3; x <= 5; ++x) EXPECT_EQ(out.row(y)[x], 0xFF648CC8u) << x << "," << y;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        const uint32_t p = out.row(y)[x];
        EXPECT_TRUE(gfx::RedOf(p) <= 100 && gfx::GreenOf(p) <= 140 && gfx::BlueOf(p) <= 200);
      }
  }
}

TEST(VintageSepia, NearlyTransparentPixelsKeepTheDrawnValue) {
  const uint32_t alphas[] = {0, 1, 2, 3, 4, 5, 6, 64, 128, 200, 255};
  std::vector<uint32_t> px;
  for (int y = 0; y < 3; ++y)
    for (uint32_t a : alphas) px.push_back((a << 24) | 0xF0D0A0u);
  const Image source = MakeImage(11, 3, px);
  for (const Sliders& s : {Sliders{0, 70, 50, 50, 0}, Sliders{0, 70, 50, 50, 25}}) {
    const Image drawn = s.P5 ? gfx::GaussianBlur(source, 0.9375f, 0.9375f) : source;
    const Image out = Vintage(source, s);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 11; ++x) {
        const uint32_t p = out.row(y)[x], d = drawn.row(y)[x];
        if (gfx::AlphaOf(d) <= 4) {
          EXPECT_EQ(p, d) << x << "," << y;
          continue;
        }
        EXPECT_EQ(gfx::AlphaOf(p), gfx::AlphaOf(d));
        EXPECT_LE(std::max({gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p)}), gfx::AlphaOf(p));
      }
  }
}

TEST(VintageSepia, SameInputSamePicture) {
  // No random generator is involved: another seed, or the preview flag, changes nothing.
  const Image patch = SamplePatch();
  const Sliders defaults = {0, 70, 50, 50, 25};
  SetRandomSeed(1);
  const Image first = Vintage(patch, defaults);
  SetRandomSeed(987654321);
  ExpectSamePixels(Vintage(patch, defaults), first);
  ExpectSamePixels(Vintage(patch, defaults, true), first);
}

TEST(VintageSepia, DefaultsOnThePhoto) {
  testutil::ExpectMatchesGolden(Vintage(SamplePatch(), {0, 70, 50, 50, 25}),
                                QStringLiteral("vintage_sepia"));
}

TEST(VintageSepia, ProgressInAFullRenderOnly) {
  RegisterBuiltinEffects();
  // 130 rows: progress is reported at rows 0, 64 and 128.
  const Image source = TForm3::Instance().DefaultImage().subset(QRect(200, 300, 90, 130));
  for (bool preview : {false, true}) {
    FakeHost host;
    host.load(source);
    EffectRunner runner(host);
    LastUiUpdateTick.store(0);
    runner.ProcessEffect(402, 0, 70, 50, 50, 25, preview);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }));
    QCoreApplication::processEvents();
    if (preview) {
      EXPECT_TRUE(host.progress.empty());
    } else {
      ASSERT_GE(host.progress.size(), 2u);
      EXPECT_EQ(host.progress.front(), 0);
      EXPECT_EQ(host.progress.back(), 101);
      EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end()));
    }
  }
}

TEST(VintageSepia, CancelledRenderStopsBeforeTheToningAndHidesTheProgressBar) {
  RegisterBuiltinEffects();
  FakeHost host;
  const Image source = SamplePatch();
  host.load(source);
  EffectRunner runner(host);
  runner.SetCancel(true);
  Surface dest(source.width(), source.height());
  EXPECT_THROW(runner.ProcessEffectOnSurface(source, dest, 402, 0, 70, 50, 50, 0), EEffectAborted);
  ExpectSamePixels(dest.snapshot(), source);  // drawn, not yet toned
  QCoreApplication::processEvents();
  EXPECT_EQ(host.progress, std::vector<int>{101});
}
