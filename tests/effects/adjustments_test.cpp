#include "effects/photolab/adjustments.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/register_effects.h"
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
using testutil::PixelAt;
using testutil::SolidImage;

namespace {

struct Sliders {
  int P1, P2, P3, P4, P5;
};

Image Adjust(const Image& source, const Sliders& s, bool preview = false) {
  Surface dest(source.width(), source.height());
  Adjustments(source, dest, s.P1, s.P2, s.P3, s.P4, s.P5, preview);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(400, 520, 64, 48)); }

// A photo patch with a black pixel, translucent pixels and a transparent one painted in.
Image MixedPatch(int w, int h) {
  const Image photo = TForm3::Instance().DefaultImage().subset(QRect(300, 600, w, h));
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = PixelAt(photo, x, y);
  px[size_t(h / 2) * w + w / 2] = 0xFF000000;
  px[3] = 0x00000000;
  px[size_t(5) * w + 5] = 0xC0FFFFFF;  // bright and translucent: the pass lifts it
  for (int x = 0; x < w; ++x) px[size_t(h - 1) * w + x] = (uint32_t(40 + 5 * x) << 24) | 0xF0E0D0;
  return MakeImage(w, h, px);
}

bool SameImage(const Image& a, const Image& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (!std::equal(a.row(y), a.row(y) + a.width(), b.row(y))) return false;
  return true;
}

// The structure pass the slow way: window sums taken afresh for every pixel and the
// formula evaluated per pixel. Colour is capped at alpha.
Image ReferenceStructure(const Image& src, int P4) {
  const int W = src.width(), H = src.height();
  const int r = P4 / 10 + 5, n = 2 * r + 1;
  const float a = std::min(float(P4) / 100.0f, 1.0f);
  const double k = double(P4) / 50.0 + 1.0;
  auto lum = [&](int x, int y) {
    const uint32_t p = src.row(std::clamp(y, 0, H - 1))[std::clamp(x, 0, W - 1)];
    return int((77 * gfx::RedOf(p) + 150 * gfx::GreenOf(p) + 29 * gfx::BlueOf(p)) >> 8);
  };
  std::vector<int> across(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum = 0;
      for (int i = -r; i <= r; ++i) sum += lum(x + i, y);
      across[size_t(y) * W + x] = sum / n;
    }
  std::vector<uint32_t> out(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum = 0;
      for (int j = -r; j <= r; ++j) sum += across[size_t(std::clamp(y + j, 0, H - 1)) * W + x];
      const int L = lum(x, y), M = sum / n;
      const float t = float(L) / 255.0f;
      const float d = float(L - M) / 255.0f;
      const float dk = d > 0 ? float(d * k * 0.5) : float(d * k);
      const float e = std::clamp(dk + 0.5f, 0.0f, 1.0f);
      const float v = t < 0.5f ? 2.0f * t * e : 1.0f - 2.0f * (1.0f - t) * (1.0f - e);
      const int Lp = int(std::nearbyint(v * 255.0f));
      const int target = L + int(std::nearbyint(float(Lp - L) * a));
      const float ratio = L > 0 ? float(target) / float(L) : 1.0f;
      const uint32_t p = src.row(y)[x];
      const int alpha = int(gfx::AlphaOf(p));
      auto scale = [&](uint32_t c) {
        return uint32_t(std::clamp(int(std::nearbyint(float(c) * ratio)), 0, alpha));
      };
      out[size_t(y) * W + x] = gfx::PackArgb(uint32_t(alpha), scale(gfx::RedOf(p)),
                                             scale(gfx::GreenOf(p)), scale(gfx::BlueOf(p)));
    }
  return Image::FromPixels(out.data(), W, H, qsizetype(W) * 4, gfx::AlphaType::Premultiplied);
}

}  // namespace

TEST(Adjustments, NeutralSlidersLeaveThePhotoAsItIs) {
  const Image source = MixedPatch(21, 13);
  EXPECT_TRUE(SameImage(Adjust(source, {50, 50, 50, 0, 50}), source));
}

TEST(Adjustments, ColourCorrectionFollowsContrastBrightnessThenSaturation) {
  const Image source = SamplePatch();
  // The defaults' colour part, each slider alone at both ends and one step from
  // neutral (a step moves a value far beyond the 0.001 tolerance).
  const Sliders cases[] = {{52, 52, 55, 0, 50},  {100, 50, 50, 0, 50}, {0, 50, 50, 0, 50},
                           {50, 100, 50, 0, 50}, {50, 0, 50, 0, 50},   {50, 50, 100, 0, 50},
                           {50, 50, 0, 0, 50},   {51, 50, 50, 0, 50},  {50, 51, 50, 0, 50},
                           {50, 50, 49, 0, 50},  {80, 30, 90, 0, 50}};
  for (const Sliders& s : cases) {
    SCOPED_TRACE(testing::Message() << s.P1 << "," << s.P2 << "," << s.P3);
    const double b = (s.P1 - 50) / 200.0, c = s.P2 / 50.0, sat = s.P3 / 50.0;
    const Image out = Adjust(source, s);
    int worst = 0;
    for (int y = 0; y < source.height(); ++y)
      for (int x = 0; x < source.width(); ++x) {
        const uint32_t p = PixelAt(source, x, y);
        double v[3];
        for (int i = 0; i < 3; ++i)
          v[i] = c * double((p >> (16 - 8 * i)) & 0xFF) / 255.0 + (1 - c) * 0.5 + b;
        const double grey = 0.213 * v[0] + 0.715 * v[1] + 0.072 * v[2];
        const uint32_t q = PixelAt(out, x, y);
        ASSERT_EQ(gfx::AlphaOf(q), 255u);
        for (int i = 0; i < 3; ++i) {
          const double want = std::clamp(grey + sat * (v[i] - grey), 0.0, 1.0) * 255.0;
          worst = std::max(worst, int(std::lround(std::fabs(want - ((q >> (16 - 8 * i)) & 0xFF)))));
        }
      }
    EXPECT_LE(worst, 1);
  }
}

TEST(Adjustments, LastSliderBlursBelowHalfAndSharpensAbove) {
  const Image source = SamplePatch();
  const float q100 = 5.0f / 3.0f, q51 = 1.0f / 30.0f;
  auto sharpen = [&](float q) {
    const float k[9] = {0, -q, 0, -q, 1 + 4 * q, -q, 0, -q, 0};
    return gfx::MatrixConvolution(source, QSize(3, 3), k, 1, 0, QPoint(1, 1), gfx::TileMode::Clamp,
                                  true);
  };
  const struct {
    int P5;
    Image expected;
  } cases[] = {
      {0, gfx::GaussianBlur(source, 10, 10, gfx::TileMode::Decal)},
      {49, gfx::GaussianBlur(source, 0.2f, 0.2f, gfx::TileMode::Decal)},
      {50, source},
      {51, sharpen(q51)},
      {100, sharpen(q100)},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(SameImage(Adjust(source, {50, 50, 50, 0, c.P5}), c.expected)) << c.P5;

  // What that means on the picture: the strong blur fades the opaque photo out at its
  // borders; the strong sharpening keeps a flat area flat and the borders opaque.
  const Image blurred = Adjust(source, {50, 50, 50, 0, 0});
  EXPECT_LT(gfx::AlphaOf(blurred.row(0)[0]), 128u);
  EXPECT_GE(gfx::AlphaOf(blurred.row(24)[32]), 250u);
  const Image flat = Adjust(SolidImage(8, 8, 0xFF6496C8), {50, 50, 50, 0, 100});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(PixelAt(flat, x, y), 0xFF6496C8u);
}

TEST(Adjustments, StructureMatchesTheSlowPassExactly) {
  // Small enough that the windows (up to 31 pixels) run over both edges.
  const Image source = MixedPatch(37, 23);
  for (int P4 : {1, 15, 47, 100}) {
    SCOPED_TRACE(P4);
    const Image out = Adjust(source, {50, 50, 50, P4, 50});
    const Image expected = ReferenceStructure(source, P4);
    for (int y = 0; y < source.height(); ++y)
      for (int x = 0; x < source.width(); ++x)
        ASSERT_EQ(out.row(y)[x], expected.row(y)[x]) << x << "," << y;
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) {
        const uint32_t p = out.row(y)[x];
        ASSERT_LE(std::max({gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p)}), gfx::AlphaOf(p));
      }
    // Black has no brightness to scale and stays black.
    EXPECT_EQ(out.row(23 / 2)[37 / 2], 0xFF000000u);
    // At 1 the amount is too small to move any pixel by a whole level.
    if (P4 >= 15) EXPECT_GT(testutil::MaxChannelDifference(out, source), 0);
  }
}

TEST(Adjustments, DefaultsOnThePhoto) {
  testutil::ExpectMatchesGolden(Adjust(SamplePatch(), {52, 52, 55, 15, 52}),
                                QStringLiteral("adjustments"));
}

TEST(Adjustments, ProgressOnlyInAFullRender) {
  RegisterBuiltinEffects();
  for (bool preview : {false, true}) {
    FakeHost host;
    host.load(SamplePatch());
    EffectRunner runner(host);
    LastUiUpdateTick.store(0);  // so that the first value is not throttled
    runner.ProcessEffect(401, 52, 52, 55, 15, 52, preview);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }));
    QCoreApplication::processEvents();
    if (preview) {
      EXPECT_TRUE(host.progress.empty());
    } else {
      ASSERT_GE(host.progress.size(), 2u);
      EXPECT_EQ(host.progress.front(), 5);
      EXPECT_EQ(host.progress.back(), 101);
      EXPECT_TRUE(std::is_sorted(host.progress.begin(), host.progress.end()));
    }
  }
}
