#include "effects/photolab/retro_film.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/photolab/vintage_sepia.h"
#include "effects/register_effects.h"
#include "engine/random.h"
#include "engine/runner.h"
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

Image Retro(const Image& source, const Sliders& s, bool preview = false) {
  Surface dest(source.width(), source.height());
  RetroFilm(source, dest, s.P1, s.P2, s.P3, s.P4, s.P5, preview);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(400, 520, 64, 48)); }

// A photo patch, odd-sized, with black and white pixels and translucent and nearly
// transparent pixels inside the runs of opaque ones.
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

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// The film look pixel by pixel in single precision, in the order the steps are
// written: the oracle of the four-pixels-at-a-time pass.
Image ReferenceRetro(const Image& src, const Sliders& s) {
  const int W = src.width(), H = src.height();
  // The factors are the exact decimal values (P1 / 100 x 1.5 + 0.5 and so on) rounded
  // once to single precision.
  const float sat = float(15 * s.P1 + 500) / 1000.0f;
  const float warm = float(s.P2 - 40) / 1000.0f;
  const float con = float(8 * s.P3 + 800) / 1000.0f;
  const int A = int(std::nearbyint(s.P4 * 0.408));
  const double cx = W * 0.5, cy = H * 0.5, R = std::sqrt(cx * cx + cy * cy);
  const double inner = R * double(float(1000 - 6 * s.P5) / 1000.0f);
  const double ring = std::max(R - inner, 0.001);
  const double strength = double(float(85 * s.P5) / 10000.0f);
  std::vector<uint32_t> out(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = src.row(y)[x];
      uint32_t& o = out[size_t(y) * W + x];
      o = p;
      const int a = int(gfx::AlphaOf(p));
      if (a <= 4) continue;
      float c[3];
      const uint32_t bytes[3] = {gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p)};
      for (int i = 0; i < 3; ++i)
        c[i] = a == 255 ? float(bytes[i]) / 255.0f : float(bytes[i]) * 255.0f / float(a) / 255.0f;
      float g[3] = {Clamp01(1.12f * c[0] + 0.05f * c[1] - 0.02f * c[2] + (0.03f + warm)),
                    Clamp01(-0.02f * c[0] + 1.0f * c[1] + 0.05f * c[2] + (0.01f + 0.4f * warm)),
                    Clamp01(-0.04f * c[0] - 0.04f * c[1] + 0.9f * c[2] + (0.05f - 0.5f * warm))};
      const float Y = 0.299f * g[0] + 0.587f * g[1] + 0.114f * g[2];
      int v[3];
      for (int i = 0; i < 3; ++i) {
        const float saturated = Clamp01(Y + (g[i] - Y) * sat);
        v[i] = int(std::nearbyint(Clamp01((saturated - 0.5f) * con + 0.5f) * 255.0f));
      }
      if (s.P4 > 0) {
        const int grain = (FilmGrainNoise(uint32_t(x), uint32_t(y)) * A) / 256;
        for (int& c8 : v) c8 = std::clamp(c8 + grain, 0, 255);
      }
      if (s.P5 > 0) {
        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 > inner * inner) {
          const double t = std::min((std::sqrt(d2) - inner) / ring, 1.0);
          for (int& c8 : v) c8 = int(std::nearbyint(c8 * (1.0 - t * t * strength)));
        }
      }
      if (a < 255)
        for (int& c8 : v) c8 = c8 * a / 255;
      o = gfx::PackArgb(uint32_t(a), uint32_t(std::clamp(v[0], 0, 255)),
                        uint32_t(std::clamp(v[1], 0, 255)), uint32_t(std::clamp(v[2], 0, 255)));
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

TEST(RetroFilm, GradesFlatColoursAsWorkedOutByHand) {
  // Worked out in double precision; none of these lands within 0.005 of a rounding
  // tie, so single precision gives the same bytes. No grain, no vignette.
  const struct {
    Sliders s;
    uint32_t colour, expected;
  } cases[] = {
      // Defaults: whites turn slightly yellow, mid grey warm.
      {{30, 35, 60, 0, 0}, 0xFFFFFFFF, 0xFFFFFFFB},
      {{30, 35, 60, 0, 0}, 0xFF6496C8, 0xFF7AA9C5},
      {{30, 35, 60, 0, 0}, 0xFFC85028, 0xFFFF4512},
      {{30, 35, 60, 0, 0}, 0xFF808080, 0xFFA08875},
      {{30, 35, 60, 0, 0}, 0xFF000000, 0xFF000000},
      // Almost neutral saturation, no warmth, no contrast: the grade alone (its
      // offsets lift black).
      {{33, 40, 25, 0, 0}, 0xFF000000, 0xFF08030D},
      {{33, 40, 25, 0, 0}, 0xFFFFFFFF, 0xFFFFFFDE},
      {{33, 40, 25, 0, 0}, 0xFFC85028, 0xFFEA5126},
      // Every slider at its end.
      {{100, 100, 100, 0, 0}, 0xFF808080, 0xFFEB8C2A},
      {{100, 100, 100, 0, 0}, 0xFF6496C8, 0xFF70CAE5},
      {{0, 0, 0, 0, 0}, 0xFFFFFFFF, 0xFFE4E4D9},
      {{0, 0, 0, 0, 0}, 0xFF000000, 0xFF1A1A21},
      {{0, 0, 0, 0, 0}, 0xFFC85028, 0xFFA26759},
      // Grain 1 rounds to no noise at all.
      {{30, 35, 60, 1, 0}, 0xFF808080, 0xFFA08875},
  };
  for (const auto& c : cases) {
    // Six wide: one group of four and a two-pixel tail.
    const Image out = Retro(SolidImage(6, 2, c.colour), c.s);
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(out.row(1)[x], c.expected)
          << c.s.P1 << "," << c.s.P2 << "," << c.s.P3 << " on " << std::hex << c.colour << " x "
          << x << ": " << out.row(1)[x];
  }
}

// Some 130 000 colours, so that single-precision rounding near a half is met.
Image ColourSweep() {
  const int w = 509, h = 257;
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[size_t(y) * w + x] =
          gfx::PackArgb(255, uint32_t(x / 2), uint32_t(y), uint32_t((7 * x + 3 * y) & 255));
  return MakeImage(w, h, px);
}

TEST(RetroFilm, MatchesThePixelByPixelPassExactly) {
  const Sliders cases[] = {{30, 35, 60, 20, 25}, {0, 0, 0, 0, 0},    {100, 100, 100, 100, 100},
                           {33, 40, 25, 50, 70}, {7, 93, 12, 3, 99}, {61, 17, 88, 77, 1}};
  for (const Image& source : {MixedPatch(37, 23), ColourSweep()})
    for (const Sliders& s : cases) {
      SCOPED_TRACE(testing::Message() << source.width() << " wide, " << s.P1 << "," << s.P2 << ","
                                      << s.P3 << "," << s.P4 << "," << s.P5);
      ExpectSamePixels(Retro(source, s), ReferenceRetro(source, s));
    }
}

TEST(RetroFilm, VignetteLeavesTheInnerCircleAlone) {
  // Neutral grade; the vignette at full strength against none.
  const int W = 41, H = 29;
  const Image flat = SolidImage(W, H, 0xFFB4A08C);
  const Image plain = Retro(flat, {33, 40, 25, 0, 0});
  const Image dark = Retro(flat, {33, 40, 25, 0, 100});
  const double cx = W * 0.5, cy = H * 0.5, R = std::sqrt(cx * cx + cy * cy);
  const double inner = R * 0.4;
  int unchanged = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = plain.row(y)[x], q = dark.row(y)[x];
      const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      if (d2 < inner * inner * 0.999) {
        ASSERT_EQ(q, p) << x << "," << y;
        ++unchanged;
      } else {
        ASSERT_TRUE(gfx::RedOf(q) <= gfx::RedOf(p) && gfx::GreenOf(q) <= gfx::GreenOf(p) &&
                    gfx::BlueOf(q) <= gfx::BlueOf(p))
            << x << "," << y;
      }
    }
  EXPECT_GT(unchanged, 100);
  // (0, 0) lies at the full distance R: darkened to 15 %.
  for (int shift : {0, 8, 16})
    EXPECT_NEAR(double((dark.row(0)[0] >> shift) & 0xFF),
                ((plain.row(0)[0] >> shift) & 0xFF) * 0.15, 0.5);
}

TEST(RetroFilm, NearlyTransparentPixelsKeepTheDrawnValue) {
  const uint32_t alphas[] = {0, 1, 2, 3, 4, 5, 6, 64, 128, 200, 255};
  std::vector<uint32_t> px;
  for (int y = 0; y < 3; ++y)
    for (uint32_t a : alphas) px.push_back((a << 24) | 0xF0D0A0u);
  const Image source = MakeImage(11, 3, px);
  const Image out = Retro(source, {100, 100, 100, 100, 100});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 11; ++x) {
      const uint32_t p = out.row(y)[x], d = source.row(y)[x];
      if (gfx::AlphaOf(d) <= 4) {
        EXPECT_EQ(p, d) << x << "," << y;
        continue;
      }
      EXPECT_EQ(gfx::AlphaOf(p), gfx::AlphaOf(d));
      EXPECT_LE(std::max({gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p)}), gfx::AlphaOf(p));
    }
}

TEST(RetroFilm, SameInputSamePicture) {
  const Image patch = SamplePatch();
  const Sliders defaults = {30, 35, 60, 20, 25};
  SetRandomSeed(1);
  const Image first = Retro(patch, defaults);
  SetRandomSeed(987654321);
  ExpectSamePixels(Retro(patch, defaults), first);
  ExpectSamePixels(Retro(patch, defaults, true), first);
}

TEST(RetroFilm, DefaultsOnThePhoto) {
  testutil::ExpectMatchesGolden(Retro(SamplePatch(), {30, 35, 60, 20, 25}),
                                QStringLiteral("retro_film"));
}

TEST(RetroFilm, ProgressInAFullRenderOnly) {
  RegisterBuiltinEffects();
  const Image source = TForm3::Instance().DefaultImage().subset(QRect(200, 300, 90, 130));
  for (bool preview : {false, true}) {
    FakeHost host;
    host.load(source);
    EffectRunner runner(host);
    LastUiUpdateTick.store(0);
    runner.ProcessEffect(403, 30, 35, 60, 20, 25, preview);
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

TEST(RetroFilm, CancelledRenderStopsBeforeTheGradeAndHidesTheProgressBar) {
  RegisterBuiltinEffects();
  FakeHost host;
  const Image source = SamplePatch();
  host.load(source);
  EffectRunner runner(host);
  runner.SetCancel(true);
  Surface dest(source.width(), source.height());
  EXPECT_THROW(runner.ProcessEffectOnSurface(source, dest, 403, 30, 35, 60, 20, 25),
               EEffectAborted);
  ExpectSamePixels(dest.snapshot(), source);
  QCoreApplication::processEvents();
  EXPECT_EQ(host.progress, std::vector<int>{101});
}
