#include "tools/texture_overlay.h"

#include "brushes/image_repository.h"
#include "engine/effect_registry.h"
#include "engine/fake_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/codec.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::Image;
using gfx::RedOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

uint32_t Grey(int v) { return 0xFF000000u | uint32_t(v) * 0x010101u; }

// A texture of grey texels, row by row.
Image GreyTexture(int w, int h, const std::vector<int>& levels) {
  std::vector<uint32_t> px;
  for (int v : levels) px.push_back(Grey(v));
  return MakeImage(w, h, px);
}

// A texture with a different luminance in every texel.
Image DistinctTexture(int n) {
  std::vector<int> levels;
  for (int i = 0; i < n * n; ++i) levels.push_back((i * 97 + 13) % 256);
  return GreyTexture(n, n, levels);
}

// The smallest p > 0 with f(i) == f(i + p) for every i.
int SmallestPeriod(int count, const std::function<uint32_t(int)>& f) {
  for (int p = 1; p < count; ++p) {
    bool same = true;
    for (int i = 0; i + p < count && same; ++i) same = f(i) == f(i + p);
    if (same) return p;
  }
  return count;
}

// The offset ApplyTexture will draw after SetRandomSeed(seed).
int OffsetFor(uint32_t seed, int texels) {
  SetRandomSeed(seed);
  const int d = Random(texels);
  SetRandomSeed(seed);
  return d;
}

}  // namespace

TEST(ApplyTexture, NeutralCasesLeaveThePictureAlone) {
  std::vector<uint32_t> px;
  for (int i = 0; i < 30; ++i) px.push_back(i % 3 == 0 ? 0x80C06020u : 0xFF000000u | (i * 8193u));
  const Image picture = MakeImage(6, 5, px);
  const Image texture = DistinctTexture(4);
  const Image flat = SolidImage(5, 3, 0xFF7A7A7A);  // every texel equals the mean
  const struct {
    Image texture;
    int strength;
  } cases[] = {{texture, 0}, {flat, 100}, {flat, 37}, {Image(), 100}};
  for (const auto& c : cases)
    EXPECT_EQ(Words(ApplyTexture(picture, c.texture, c.strength, 1.0f)), Words(picture))
        << c.strength;
  EXPECT_TRUE(ApplyTexture(Image(), texture, 50, 1.0f).isEmpty());
}

TEST(ApplyTexture, ShiftsTowardsTheTextureMeanAndKeepsAlpha) {
  // White can only darken, black only brighten; transparent pixels stay exactly as
  // they were; translucent pixels stay valid (colour never above alpha).
  const Image texture = DistinctTexture(8);
  std::vector<uint32_t> px;
  for (int i = 0; i < 24 * 16; ++i) {
    const uint32_t kinds[] = {0xFFFFFFFFu, 0xFF000000u, 0x00000000u, 0x40FFFFFFu, 0xFF808080u};
    px.push_back(kinds[i % 5]);
  }
  const Image picture = MakeImage(24, 16, px);
  const Image out = ApplyTexture(picture, texture, 100, 1.5f);
  const std::vector<uint32_t> in = Words(picture), got = Words(out);
  bool darkened = false, brightened = false;
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(AlphaOf(got[i]), AlphaOf(in[i]));
    for (uint32_t c : {RedOf(got[i]), GreenOf(got[i]), BlueOf(got[i])})
      ASSERT_LE(c, AlphaOf(got[i]));
    switch (i % 5) {
      case 0:
        darkened |= RedOf(got[i]) < 255;
        break;
      case 1:
        brightened |= RedOf(got[i]) > 0;
        break;
      case 2:
        ASSERT_EQ(got[i], 0u);
        break;
    }
    // A grey pixel stays grey: all three bytes move alike.
    if (AlphaOf(in[i]) == 255) {
      ASSERT_EQ(RedOf(got[i]), GreenOf(got[i]));
      ASSERT_EQ(GreenOf(got[i]), BlueOf(got[i]));
    }
  }
  EXPECT_TRUE(darkened);
  EXPECT_TRUE(brightened);
}

TEST(ApplyTexture, ShiftIsStrengthPercentOfTheDistanceToTheMean) {
  // Levels 0, 10, 200, 250: mean 115. At scale 1 every pixel sits on one texel.
  const Image texture = GreyTexture(2, 2, {0, 10, 200, 250});
  const int L[2][2] = {{0, 10}, {200, 250}}, M = 115;
  // Even and odd bytes, since a tie rounds them differently.
  std::vector<uint32_t> px;
  for (int i = 0; i < 5 * 4; ++i) px.push_back(Grey(100 + i % 3));
  const Image picture = MakeImage(5, 4, px);
  for (int strength : {50, 30, 100, 7}) {
    const int d = OffsetFor(1234u + uint32_t(strength), 2);
    const Image out = ApplyTexture(picture, texture, strength, 1.0f);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        // round(byte + strength / 100 x (M - t)), ties to even on the exact value.
        const int byte = 100 + (y * 5 + x) % 3;
        const int t = L[(y + d) % 2][(x + d) % 2];
        const int expected =
            std::clamp(int(RoundRatio(byte * 100 + strength * (M - t), 100)), 0, 255);
        ASSERT_EQ(int(RedOf(out.row(y)[x])), expected)
            << "strength " << strength << " at " << x << "," << y;
      }
  }
}

TEST(ApplyTexture, ScaleSetsThePeriodOfTheTiling) {
  // Scale 0.5 halves the texture on the picture (period 512 for 1024 texels), 2
  // doubles it; the period is round(texels x scale), at least 1.
  const Image texture = DistinctTexture(4);
  const Image picture = SolidImage(40, 40, Grey(128));
  const struct {
    float scale;
    int period;
  } cases[] = {{0.5f, 2}, {1.0f, 4}, {2.0f, 8}, {1.25f, 5}, {0.1f, 1}};
  for (const auto& c : cases) {
    const Image out = ApplyTexture(picture, texture, 100, c.scale);
    for (int line : {0, 7}) {
      EXPECT_EQ(SmallestPeriod(40, [&](int x) { return out.row(line)[x]; }), c.period)
          << "scale " << c.scale << " row " << line;
      EXPECT_EQ(SmallestPeriod(40, [&](int y) { return out.row(y)[line]; }), c.period)
          << "scale " << c.scale << " column " << line;
    }
  }
}

TEST(ApplyTexture, SamplesBetweenTexelsBilinearly) {
  // At scale 2 the odd pixels fall half-way between two texels. 10 and 15 average
  // 12.5, which rounds to 12; 10 and 17 make 13.5, which rounds to 14.
  const Image texture = GreyTexture(2, 2, {10, 15, 17, 10});
  const int M = 13;
  const int d = OffsetFor(77u, 2);
  const Image out = ApplyTexture(SolidImage(8, 8, Grey(100)), texture, 100, 2.0f);
  const int L[2][2] = {{10, 15}, {17, 10}};
  auto lerp = [](double a, double b, double f) { return a * (1.0 - f) + b * f; };
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const double u = ((x + d) % 4) / 2.0, v = ((y + d) % 4) / 2.0;
      const int x0 = int(u) % 2, x1 = (x0 + 1) % 2, y0 = int(v) % 2, y1 = (y0 + 1) % 2;
      const double fx = u - int(u), fy = v - int(v);
      const int t =
          RoundEven(lerp(lerp(L[y0][x0], L[y0][x1], fx), lerp(L[y1][x0], L[y1][x1], fx), fy));
      ASSERT_EQ(int(RedOf(out.row(y)[x])), 100 + M - t) << x << "," << y;
    }
}

TEST(ApplyTexture, EachApplicationTakesANewOffset) {
  const Image texture = DistinctTexture(16);
  const Image picture = SolidImage(32, 32, Grey(128));
  SetRandomSeed(7);
  const int d1 = Random(16), d2 = Random(16);
  ASSERT_NE(d1, d2);
  SetRandomSeed(7);
  const Image first = ApplyTexture(picture, texture, 60, 1.0f);
  const Image second = ApplyTexture(picture, texture, 60, 1.0f);
  EXPECT_NE(Words(first), Words(second));
  // The same draw gives the same picture.
  SetRandomSeed(7);
  EXPECT_EQ(Words(ApplyTexture(picture, texture, 60, 1.0f)), Words(first));
}

TEST(ApplyTexture, RejectsAScaleThatIsNotPositive) {
  const Image picture = SolidImage(4, 4, Grey(128));
  const Image texture = DistinctTexture(4);
  for (float scale : {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    try {
      ApplyTexture(picture, texture, 50, scale);
      ADD_FAILURE() << "scale " << scale << " accepted";
    } catch (const gfx::Error& e) {
      EXPECT_STREQ(e.what(), "Texture scale must be greater than 0");
    }
  }
  // A huge scale is a texture larger than any picture, not an overflow.
  const Image out = ApplyTexture(picture, texture, 50, std::numeric_limits<float>::infinity());
  EXPECT_EQ(out.width(), 4);
  ApplyTexture(picture, texture, 50, 3e38f);
}

TEST(ResolveTexture, FindsListItemsInAnyCaseAndImageFiles) {
  const Image grain = DistinctTexture(3);
  TForm3::Instance().AppendToImageList(QStringLiteral("TextureList"), QStringLiteral("TestGrain"),
                                       grain);
  EXPECT_EQ(ResolveTexture(QStringLiteral("testgrain")).uniqueId(), grain.uniqueId());

  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("weave.png"));
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(gfx::EncodeImage(grain, gfx::FileFormat::Png));
  }
  EXPECT_EQ(Words(ResolveTexture(file)), Words(grain));

  const QString garbage = dir.filePath(QStringLiteral("garbage.png"));
  {
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a picture");
  }
  for (const QString& bad : {QStringLiteral("NoSuchTexture"), garbage}) {
    try {
      ResolveTexture(bad);
      ADD_FAILURE() << qPrintable(bad);
    } catch (const gfx::Error& e) {
      const QString message = QString::fromUtf8(e.what());
      EXPECT_TRUE(message.contains(bad)) << qPrintable(message);
      EXPECT_FALSE(message.contains(QLatin1Char('\n')));
    }
  }
}

// ---- through the runner ----------------------------------------------------------------

namespace {

void GreyEffect(const Image&, gfx::Surface& dest, int, int, int, int, int, bool) {
  dest.clear(Grey(128));
}

struct TexturedHost : FakeHost {
  StoredTextureSettings texture;
  StoredTextureSettings StoredTexture() override { return texture; }
};

// Runs a preview and a full render of a flat grey effect with the host's texture
// settings; returns false when the runner did not settle.
bool RunBoth(TexturedHost& host) {
  const TEffectProc previous = EffectProcFor(300);
  RegisterEffect(300, &GreyEffect);
  bool settled = false;
  {
    EffectRunner runner(host);
    runner.ProcessEffect(300, 0, 0, 0, 0, 0, true);
    runner.ProcessEffect(300, 0, 0, 0, 0, 0, false);
    settled = testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; });
    QCoreApplication::processEvents();
    settled = settled && !runner.IsEffectRunning();
  }
  RegisterEffect(300, previous);
  return settled;
}

bool Uniform(const Image& image) {
  const std::vector<uint32_t> w = Words(image);
  return std::all_of(w.begin(), w.end(), [&](uint32_t p) { return p == w.front(); });
}

}  // namespace

TEST(TextureOverlayInRunner, PreviewAndRenderCarryTheStoredTexture) {
  InstallTextureOverlay();
  const Image texture = GreyTexture(2, 2, {0, 255, 255, 0});
  const struct {
    StoredTextureSettings settings;
    bool textured;
  } cases[] = {
      {{true, texture, 100.0f, 1.0f}, true},
      {{true, texture, 99.6f, 1.0f}, true},     // strength rounded to 100
      {{false, texture, 100.0f, 1.0f}, false},  // switch off
      {{true, Image(), 100.0f, 1.0f}, false},   // nothing ever applied
  };
  for (const auto& c : cases) {
    TexturedHost host;
    host.texture = c.settings;
    host.load(SolidImage(6, 6, 0xFF102030));
    ASSERT_TRUE(RunBoth(host));
    ASSERT_FALSE(host.paneBitmaps.empty());
    EXPECT_EQ(host.historySaves, 1);
    EXPECT_EQ(Uniform(host.paneBitmaps.back()), !c.textured);
    EXPECT_EQ(Uniform(host.result), !c.textured);
    if (c.textured) {
      // Grey 128 against texels 0 and 255 around the mean 127: full strength gives
      // 255 or 0 in a checkerboard.
      for (uint32_t p : Words(host.result)) EXPECT_TRUE(p == Grey(255) || p == Grey(0));
      EXPECT_NE(host.result.row(0)[0], host.result.row(0)[1]);
    } else {
      EXPECT_EQ(host.result.row(0)[0], Grey(128));
    }
  }
  SetTextureOverlayProc(nullptr);
}

TEST(TextureOverlayInRunner, AZeroScaleFailsTheRunWithoutHarm) {
  InstallTextureOverlay();
  TexturedHost host;
  host.texture = {true, DistinctTexture(4), 50.0f, 0.0f};
  const Image loaded = SolidImage(6, 6, 0xFF102030);
  host.load(loaded);
  ASSERT_TRUE(RunBoth(host));
  // The error is an effect error: swallowed, the document untouched, the runner free.
  EXPECT_EQ(host.result.uniqueId(), loaded.uniqueId());
  EXPECT_EQ(host.historySaves, 0);
  EXPECT_TRUE(host.paneBitmaps.empty());
  EXPECT_TRUE(host.messages.isEmpty());
  SetTextureOverlayProc(nullptr);
}
