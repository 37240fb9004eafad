#include "gfx/pixel.h"
#include "gfx/surface.h"
#include "test_util.h"

#include <QThreadPool>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using gfx::BlendMode;
using gfx::Image;
using gfx::Paint;
using gfx::Sampling;
using gfx::Surface;
using testutil::MakeImage;
using testutil::PixelAt;
using testutil::SolidImage;

namespace {

// A deterministic spread of colours and alphas, opaque and not.
std::vector<uint32_t> Pattern(int w, int h, uint32_t seed, bool opaque = false) {
  std::vector<uint32_t> px(size_t(w) * h);
  uint32_t s = seed;
  for (auto& p : px) {
    s = s * 1664525u + 1013904223u;
    const uint32_t a = opaque ? 255u : std::max(0u, (s >> 24) & 0xFF);
    p = (a << 24) | (s & 0xFFFFFF);
  }
  return px;
}

struct Rgb {
  double r, g, b;
};

double Lum(const Rgb& c) { return 0.3 * c.r + 0.59 * c.g + 0.11 * c.b; }

Rgb ClipColor(Rgb c) {
  const double l = Lum(c);
  const double n = std::min({c.r, c.g, c.b}), x = std::max({c.r, c.g, c.b});
  auto fix = [&](double& v) {
    if (n < 0) v = l + (v - l) * l / (l - n);
    if (x > 1) v = l + (v - l) * (1 - l) / (x - l);
  };
  fix(c.r);
  fix(c.g);
  fix(c.b);
  return c;
}

Rgb SetLum(Rgb c, double l) {
  const double d = l - Lum(c);
  return ClipColor({c.r + d, c.g + d, c.b + d});
}

using Separable = std::function<double(double cb, double cs)>;

double SoftLight(double cb, double cs) {
  if (cs <= 0.5) return cb - (1 - 2 * cs) * cb * (1 - cb);
  const double d = cb <= 0.25 ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
  return cb + (2 * cs - 1) * (d - cb);
}

double HardLight(double cb, double cs) {
  return cs <= 0.5 ? cb * 2 * cs : cb + (2 * cs - 1) - cb * (2 * cs - 1);
}

// The compositing and blending definition, in doubles, on unpremultiplied colours.
uint32_t Reference(uint32_t dst, uint32_t src, double opacity, BlendMode mode) {
  const uint32_t d = gfx::Unpremultiply(dst), s = gfx::Unpremultiply(src);
  const double ab = gfx::AlphaOf(d) / 255.0, as = gfx::AlphaOf(s) / 255.0 * opacity;
  const Rgb cb{gfx::RedOf(d) / 255.0, gfx::GreenOf(d) / 255.0, gfx::BlueOf(d) / 255.0};
  const Rgb cs{gfx::RedOf(s) / 255.0, gfx::GreenOf(s) / 255.0, gfx::BlueOf(s) / 255.0};
  if (mode == BlendMode::DestIn) {
    const double a = ab * as;
    return gfx::PackArgb(uint32_t(std::lround(a * 255)), uint32_t(std::lround(cb.r * a * 255)),
                         uint32_t(std::lround(cb.g * a * 255)), uint32_t(std::lround(cb.b * a * 255)));
  }
  Rgb blended;
  Separable f;
  switch (mode) {
    case BlendMode::SrcOver: f = [](double, double s2) { return s2; }; break;
    case BlendMode::Multiply: f = [](double b, double s2) { return b * s2; }; break;
    case BlendMode::Screen: f = [](double b, double s2) { return b + s2 - b * s2; }; break;
    case BlendMode::Overlay: f = [](double b, double s2) { return HardLight(s2, b); }; break;
    case BlendMode::Darken: f = [](double b, double s2) { return std::min(b, s2); }; break;
    case BlendMode::Lighten: f = [](double b, double s2) { return std::max(b, s2); }; break;
    case BlendMode::HardLight: f = HardLight; break;
    case BlendMode::SoftLight: f = SoftLight; break;
    case BlendMode::Difference: f = [](double b, double s2) { return std::abs(b - s2); }; break;
    default: break;
  }
  if (mode == BlendMode::Color)
    blended = SetLum(cs, Lum(cb));
  else
    blended = {f(cb.r, cs.r), f(cb.g, cs.g), f(cb.b, cs.b)};
  const double ao = as + ab * (1 - as);
  auto ch = [&](double b, double s2, double bl) {
    return as * (1 - ab) * s2 + ab * (1 - as) * b + as * ab * bl;  // premultiplied
  };
  return gfx::PackArgb(uint32_t(std::lround(ao * 255)),
                       uint32_t(std::lround(ch(cb.r, cs.r, blended.r) * 255)),
                       uint32_t(std::lround(ch(cb.g, cs.g, blended.g) * 255)),
                       uint32_t(std::lround(ch(cb.b, cs.b, blended.b) * 255)));
}

int ChannelDistance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 32; s += 8)
    worst = std::max(worst, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
  return worst;
}

}  // namespace

TEST(Surface, BlendModesFollowTheCompositingDefinition) {
  const int w = 32, h = 32;
  const Image dst = MakeImage(w, h, Pattern(w, h, 1));
  const Image src = MakeImage(w, h, Pattern(w, h, 2));
  const BlendMode modes[] = {BlendMode::SrcOver,  BlendMode::Multiply,  BlendMode::Screen,
                             BlendMode::Overlay,  BlendMode::Darken,    BlendMode::Lighten,
                             BlendMode::HardLight, BlendMode::SoftLight, BlendMode::Difference,
                             BlendMode::DestIn,   BlendMode::Color};
  for (BlendMode mode : modes) {
    for (float opacity : {1.0f, 0.5f}) {
      Surface s(w, h);
      s.drawImage(dst, 0, 0, Sampling::Nearest);
      const Paint paint{opacity, mode};
      s.drawImage(src, 0, 0, Sampling::Cubic, &paint);
      const Image out = s.snapshot();
      int worst = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          worst = std::max(worst, ChannelDistance(out.row(y)[x],
                                                  Reference(dst.row(y)[x], src.row(y)[x],
                                                            opacity, mode)));
      // The non-separable Color mode is computed on premultiplied integers.
      EXPECT_LE(worst, mode == BlendMode::Color ? 4 : 2) << int(mode) << " at " << opacity;
    }
  }
}

TEST(Surface, UnscaledWholePixelDrawsCopyExactly) {
  const Image src = MakeImage(7, 5, Pattern(7, 5, 3));
  for (Sampling sampling : {Sampling::Nearest, Sampling::Linear, Sampling::Cubic}) {
    Surface s(10, 9);
    s.translate(1, 0);
    s.drawImage(src, 2, 3, sampling);
    const Image out = s.snapshot();
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside = x >= 3 && x < 10 && y >= 3 && y < 8;
        const uint32_t expected = inside ? src.row(y - 3)[x - 3] : 0u;
        ASSERT_EQ(out.row(y)[x], expected) << x << "," << y;
      }
  }
}

TEST(Surface, QuarterTurnWithNearestSamplingTransposes) {
  const Image src = MakeImage(6, 4, Pattern(6, 4, 4, true));
  Surface s(4, 6);
  // Turn clockwise about the origin, then move the picture back into view.
  s.translate(4, 0);
  s.rotate(90);
  s.drawImage(src, 0, 0, Sampling::Nearest);
  const Image out = s.snapshot();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(out.row(y)[x], src.row(3 - x)[y]) << x << "," << y;
}

TEST(Surface, CubicScalingMatchesMitchellNetravali) {
  // A 2x enlargement, checked against a direct evaluation of the B = C = 1/3 kernel
  // with clamped edges.
  const int w = 12, h = 10;
  const auto px = Pattern(w, h, 5, true);
  const Image src = MakeImage(w, h, px);
  Surface s(2 * w, 2 * h);
  s.drawImageRect(src, QRectF(0, 0, w, h), QRectF(0, 0, 2 * w, 2 * h), Sampling::Cubic);
  const Image out = s.snapshot();
  auto kernel = [](double x) {
    const double B = 1.0 / 3, C = 1.0 / 3;
    x = std::abs(x);
    if (x < 1) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
    if (x < 2)
      return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
              (8 * B + 24 * C)) / 6;
    return 0.0;
  };
  int worst = 0;
  for (int y = 0; y < 2 * h; ++y)
    for (int x = 0; x < 2 * w; ++x) {
      const double sx = (x + 0.5) / 2 - 0.5, sy = (y + 0.5) / 2 - 0.5;
      double acc[3] = {0, 0, 0};
      for (int j = int(std::floor(sy)) - 1; j <= int(std::floor(sy)) + 2; ++j)
        for (int i = int(std::floor(sx)) - 1; i <= int(std::floor(sx)) + 2; ++i) {
          const double k = kernel(sx - i) * kernel(sy - j);
          const uint32_t p = px[size_t(std::clamp(j, 0, h - 1)) * w + size_t(std::clamp(i, 0, w - 1))];
          acc[0] += k * gfx::RedOf(p);
          acc[1] += k * gfx::GreenOf(p);
          acc[2] += k * gfx::BlueOf(p);
        }
      const uint32_t expected = gfx::PackArgb(255, uint32_t(std::clamp(std::lround(acc[0]), 0L, 255L)),
                                              uint32_t(std::clamp(std::lround(acc[1]), 0L, 255L)),
                                              uint32_t(std::clamp(std::lround(acc[2]), 0L, 255L)));
      worst = std::max(worst, ChannelDistance(out.row(y)[x], expected));
    }
  EXPECT_LE(worst, 3);
}

TEST(Surface, RotatedDrawsHaveSoftEdgesAndFlatInteriors) {
  const Image src = SolidImage(40, 40, 0xFF2060A0);
  Surface s(80, 80);
  s.translate(40, 40);
  s.rotate(30);
  s.drawImage(src, -20, -20, Sampling::Cubic);
  const Image out = s.snapshot();
  EXPECT_EQ(PixelAt(out, 40, 40), 0xFF2060A0u);  // clamped sampling keeps the colour
  EXPECT_EQ(PixelAt(out, 2, 2), 0u);
  int partial = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 80; ++x) {
      const uint32_t a = gfx::AlphaOf(out.row(y)[x]);
      if (a > 0 && a < 255) ++partial;
      if (a >= 64 && a < 255) {
        // Colour stays the source's along the anti-aliased edge.
        EXPECT_LE(ChannelDistance(gfx::Unpremultiply(out.row(y)[x]) | 0xFF000000u, 0xFF2060A0u), 2);
      }
    }
  EXPECT_GT(partial, 100);
}

TEST(Surface, DestInOutsideARotatedQuadLeavesPixelsAlone) {
  Surface s(30, 30);
  s.clear(0xFF336699);
  s.translate(15, 15);
  s.rotate(45);
  const Paint paint{1.0f, BlendMode::DestIn};
  s.drawImage(SolidImage(10, 10, 0x00000000), -5, -5, Sampling::Linear, &paint);
  const Image out = s.snapshot();
  EXPECT_EQ(PixelAt(out, 0, 0), 0xFF336699u);
  EXPECT_EQ(PixelAt(out, 29, 29), 0xFF336699u);
  EXPECT_EQ(out.row(15)[15], 0u);
}

TEST(Surface, SnapshotsAreIsolatedAndIdsIdentifyObjects) {
  Surface s(4, 4);
  s.clear(0xFFFF0000);
  const Image first = s.snapshot();
  const Image copy = first;
  s.clear(0xFF00FF00);
  s.painter().fillRect(QRectF(0, 0, 2, 2), Qt::blue);
  const Image second = s.snapshot();
  EXPECT_EQ(PixelAt(first, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelAt(second, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelAt(second, 3, 3), 0xFF00FF00u);
  EXPECT_EQ(copy.uniqueId(), first.uniqueId());
  EXPECT_NE(second.uniqueId(), first.uniqueId());
  EXPECT_NE(first.subset(QRect(0, 0, 4, 4)).uniqueId(), first.uniqueId());
  EXPECT_EQ(Image().uniqueId(), 0u);
}

TEST(Surface, PainterFollowsTheCanvasMatrix) {
  Surface s(20, 20);
  s.save();
  s.translate(10, 10);
  s.painter().fillRect(QRectF(0, 0, 5, 5), QColor(255, 255, 255));
  s.restore();
  s.painter().fillRect(QRectF(0, 0, 2, 2), QColor(0, 0, 0));
  const Image out = s.snapshot();
  EXPECT_EQ(PixelAt(out, 12, 12), 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(out, 8, 8), 0u);
  EXPECT_EQ(PixelAt(out, 1, 1), 0xFF000000u);
}

TEST(Surface, PixelsReadBackInBothAlphaTypes) {
  const std::vector<uint32_t> px = {0xFF102030, 0x80FF8040, 0x00FFFFFF, 0x01FFFFFF};
  const Image img = MakeImage(2, 2, px);
  std::vector<uint32_t> un(4), pre(4);
  ASSERT_TRUE(img.readPixels(un.data(), 8, gfx::AlphaType::Unpremultiplied));
  ASSERT_TRUE(img.readPixels(pre.data(), 8, gfx::AlphaType::Premultiplied));
  EXPECT_EQ(un[0], 0xFF102030u);
  EXPECT_EQ(pre[1], 0x80804020u);
  EXPECT_LE(ChannelDistance(un[1], 0x80FF8040u), 1);
  EXPECT_EQ(un[2], 0u);  // fully transparent colour is not kept
  EXPECT_EQ(pre[3], 0x01010101u);
}

TEST(Surface, ImpossibleSizesAreErrorsNotNullImages) {
  EXPECT_THROW(Surface(0, 10), gfx::Error);
  EXPECT_THROW(Surface(-3, 10), gfx::Error);
  EXPECT_THROW(Surface(200000, 200000), gfx::Error);
}

TEST(Surface, LargeDrawsDoNotDependOnTheNumberOfThreads) {
  const Image src = MakeImage(600, 500, Pattern(600, 500, 9));
  const Image base = MakeImage(800, 700, Pattern(800, 700, 10, true));
  auto draw = [&](BlendMode mode, float alpha) {
    Surface s(800, 700);
    s.drawImage(base, 0, 0, Sampling::Nearest);
    s.translate(400, 350);
    s.rotate(17);
    const Paint paint{alpha, mode};
    s.drawImage(src, -300, -250, Sampling::Cubic, &paint);
    return s.snapshot();
  };
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  for (auto [mode, alpha] : {std::pair{BlendMode::SrcOver, 1.0f}, std::pair{BlendMode::DestIn, 1.0f},
                             std::pair{BlendMode::Color, 0.5f}}) {
    pool->setMaxThreadCount(1);
    const Image one = draw(mode, alpha);
    pool->setMaxThreadCount(std::max(threads, 4));
    const Image many = draw(mode, alpha);
    pool->setMaxThreadCount(threads);
    EXPECT_EQ(testutil::MaxChannelDifference(one, many), 0) << int(mode);
  }
}
