#include "effects/photolab/orton_filter.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
#include "engine/runner.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <cmath>

using namespace quillora;
using testutil::MakeImage;
using testutil::PixelAt;
using testutil::SolidImage;

namespace {

struct Sliders {
  int P1, P2, P3, P4, P5;
};

Image Orton(const Image& source, const Sliders& s, bool preview = false) {
  Surface dest(source.width(), source.height());
  OrtonFilter(source, dest, s.P1, s.P2, s.P3, s.P4, s.P5, preview);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(400, 520, 64, 48)); }

int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// The glow pass step by step, one channel at a time, for an opaque picture (where
// premultiplied and straight colour are the same bytes); the oracle of the tabled pass.
uint32_t ReferencePixel(uint32_t D, uint32_t B, const Sliders& s) {
  const int g = 2 * s.P5 - 100;
  int d[3] = {int(gfx::RedOf(D)), int(gfx::GreenOf(D)), int(gfx::BlueOf(D))};
  int b[3] = {int(gfx::RedOf(B)), int(gfx::GreenOf(B)), int(gfx::BlueOf(B))};
  if (g < 0) {
    const float f = 1.0f + float(g) / 100.0f;
    for (int i = 0; i < 3; ++i) {
      d[i] = Clamp(int(std::nearbyint(float(d[i]) * f)));
      b[i] = Clamp(int(std::nearbyint(float(b[i]) * f)));
    }
  } else if (g > 0) {
    for (int& c : d) c = Clamp(c + g);
  }
  if (s.P2 > 0)
    for (int& c : b) c = Clamp(c + (c * s.P2) / 200);
  int m[3];
  for (int i = 0; i < 3; ++i) {
    const int screen = 255 - ((255 - d[i]) * (255 - b[i])) / 255;
    m[i] = Clamp(d[i] + ((screen - d[i]) * s.P3) / 100);
  }
  if (s.P4 > 0) {
    const int K = (77 * m[0] + 150 * m[1] + 29 * m[2]) >> 8;
    for (int& c : m) c = Clamp(K + ((s.P4 + 100) * (c - K)) / 100);
  }
  return gfx::PackArgb(gfx::AlphaOf(D), uint32_t(m[0]), uint32_t(m[1]), uint32_t(m[2]));
}

}  // namespace

TEST(OrtonFilter, OpaquePhotoFollowsTheGlowFormulaExactly) {
  const Image patch = SamplePatch();
  // Defaults; no blur; lightening with full strength; darkening by half (where the
  // products hit exact halves) and to black; no exposure, strength or vibrance.
  const Sliders cases[] = {{40, 25, 50, 50, 40}, {0, 25, 50, 50, 40}, {12, 100, 100, 100, 100},
                           {7, 60, 70, 30, 25},  {3, 40, 80, 20, 0},  {25, 0, 0, 0, 50}};
  for (const Sliders& s : cases) {
    SCOPED_TRACE(testing::Message()
                 << s.P1 << "," << s.P2 << "," << s.P3 << "," << s.P4 << "," << s.P5);
    const Image glow = gfx::GaussianBlur(patch, float(s.P1), float(s.P1), gfx::TileMode::Clamp);
    const Image out = Orton(patch, s);
    for (int y = 0; y < patch.height(); ++y)
      for (int x = 0; x < patch.width(); ++x)
        ASSERT_EQ(out.row(y)[x], ReferencePixel(patch.row(y)[x], glow.row(y)[x], s))
            << x << "," << y;
    // The preview flag changes nothing.
    EXPECT_EQ(testutil::MaxChannelDifference(Orton(patch, s, true), out), 0);
  }
}

TEST(OrtonFilter, FlatColourByHand) {
  // (100, 150, 200) everywhere, so the glow is the colour itself.
  struct Case {
    Sliders s;
    uint32_t expected;
  } cases[] = {
      // f = 0.8: sharp (80, 120, 160), glow exposed to (90, 135, 180), screen
      // (142, 192, 228), half way (111, 156, 194), grey 146, stretched by 1.5.
      {{40, 25, 50, 50, 40}, 0xFF5EA1DA},
      // Lightening by 100 reaches the sharp layer only; no strength, no vibrance.
      {{40, 25, 0, 0, 100}, 0xFFC8FAFF},
      // Neutral darken/lighten and no strength: untouched.
      {{40, 25, 0, 0, 50}, 0xFF6496C8},
      // No blur, no exposure, full strength: the photo screened with itself.
      {{0, 0, 100, 0, 50}, 0xFFA1D4F4},
  };
  for (const Case& c : cases) {
    const Image out = Orton(SolidImage(9, 7, 0xFF6496C8), c.s);
    EXPECT_EQ(PixelAt(out, 4, 3), c.expected) << std::hex << PixelAt(out, 4, 3);
  }
}

TEST(OrtonFilter, TranslucentPixelsKeepTheirColourAndStayValid) {
  // One straight colour at several alphas; without blur each pixel's glow is itself.
  const uint32_t alphas[] = {0, 3, 5, 6, 64, 128, 200, 255};
  std::vector<uint32_t> px;
  for (uint32_t a : alphas) px.push_back((a << 24) | 0x6496C8u);
  const Image source = MakeImage(8, 1, px);
  for (const Sliders& s : {Sliders{0, 25, 50, 50, 40}, Sliders{0, 25, 0, 0, 100}}) {
    const Image out = Orton(source, s);
    const uint32_t opaque = PixelAt(out, 7, 0);
    for (int x = 0; x < 8; ++x) {
      const uint32_t p = out.row(0)[x];
      if (alphas[x] <= 5) {
        EXPECT_EQ(p, source.row(0)[x]) << x;  // copied unchanged
        continue;
      }
      ASSERT_EQ(gfx::AlphaOf(p), alphas[x]);
      // Lightening and screening must not lift colour above alpha.
      EXPECT_LE(gfx::RedOf(p), gfx::AlphaOf(p));
      EXPECT_LE(gfx::GreenOf(p), gfx::AlphaOf(p));
      EXPECT_LE(gfx::BlueOf(p), gfx::AlphaOf(p));
      // The colour is the opaque pixel's, up to the coarse colour of low alpha that the
      // vibrance stretch amplifies.
      if (alphas[x] < 64) continue;
      const uint32_t c = PixelAt(out, x, 0);
      const int tol = alphas[x] < 128 ? 12 : 5;
      for (int shift : {0, 8, 16})
        EXPECT_NEAR(int((c >> shift) & 0xFF), int((opaque >> shift) & 0xFF), tol) << x;
    }
  }
}

TEST(OrtonFilter, DefaultsOnThePhoto) {
  testutil::ExpectMatchesGolden(Orton(SamplePatch(), {40, 25, 50, 50, 40}),
                                QStringLiteral("orton_filter"));
}

TEST(OrtonFilter, OnlyTheFinishedValueReachesTheProgressBar) {
  RegisterBuiltinEffects();
  for (bool preview : {false, true}) {
    FakeHost host;
    host.load(SamplePatch());
    EffectRunner runner(host);
    runner.ProcessEffect(400, 40, 25, 50, 50, 40, preview);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.progress, preview ? std::vector<int>{} : std::vector<int>{101});
  }
}
