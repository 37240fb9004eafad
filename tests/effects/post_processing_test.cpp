#include "effects/painting/post_processing.h"
#include "engine/numeric.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::Image;
using gfx::RedOf;
using gfx::Surface;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

// Premultiplied words, row by row.
std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

void Fill(Surface& s, const Image& image) {
  s.clear(0);
  s.drawImage(image, 0, 0, gfx::Sampling::Nearest);
}

// A deterministic picture of random colours; `transparentEvery` > 0 makes every n-th
// pixel fully transparent and the one after it translucent.
Image Noise(int w, int h, uint32_t seed, int transparentEvery = 0) {
  std::vector<uint32_t> argb(size_t(w) * size_t(h));
  for (size_t i = 0; i < argb.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t p = 0xFF000000u | (seed >> 8);
    if (transparentEvery > 0 && i % size_t(transparentEvery) == 0) p = 0;
    if (transparentEvery > 0 && i % size_t(transparentEvery) == 1)
      p = (p & 0x00FFFFFFu) | 0x60000000u;
    argb[i] = p;
  }
  return MakeImage(w, h, argb);
}

bool ValidPremultiplied(uint32_t p) {
  const uint32_t a = AlphaOf(p);
  return RedOf(p) <= a && GreenOf(p) <= a && BlueOf(p) <= a;
}

}  // namespace

// ---- SharpenSurface ------------------------------------------------------------------

TEST(SharpenSurface, AmountZeroOrBelowLeavesThePictureAsItWas) {
  const Image picture = Noise(7, 5, 3, 4);
  for (int amount : {0, -40}) {
    Surface s(7, 5);
    Fill(s, picture);
    SharpenSurface(nullptr, s, amount);
    EXPECT_EQ(Words(s.snapshot()), Words(picture)) << "amount " << amount;
  }
}

TEST(SharpenSurface, FullAmountIsFiveMinusTheFourNeighboursWithClampedEdges) {
  const int w = 5, h = 4;
  const Image picture = Noise(w, h, 11);
  auto at = [&](int x, int y, int shift) {
    x = std::clamp(x, 0, w - 1);
    y = std::clamp(y, 0, h - 1);
    return int((picture.row(y)[x] >> shift) & 0xFF);
  };
  // 150 is held at 100; the picture may also come from outside the surface.
  for (int amount : {100, 150}) {
    Surface s(w, h);
    s.clear(0xFF00FF00);
    SharpenSurface(&picture, s, amount);
    const Image out = s.snapshot();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = out.row(y)[x];
        EXPECT_EQ(AlphaOf(p), 255u);
        for (int shift : {0, 8, 16}) {
          const int expected =
              std::clamp(5 * at(x, y, shift) - at(x - 1, y, shift) - at(x + 1, y, shift) -
                             at(x, y - 1, shift) - at(x, y + 1, shift),
                         0, 255);
          EXPECT_EQ(int((p >> shift) & 0xFF), expected) << x << "," << y << " shift " << shift;
        }
      }
  }
}

// ---- VibrancePop ---------------------------------------------------------------------

TEST(VibrancePop, NeutralAmountsOrNoMixKeepThePicture) {
  const Image picture = Noise(9, 6, 5, 5);
  const struct {
    int vibrance, saturation, contrast, skin, mix;
  } cases[] = {
      {0, 0, 0, 0, 100},       // nothing to change
      {100, -100, 80, 50, 0},  // strong changes, none of them mixed in
  };
  for (const auto& c : cases) {
    Surface dest(9, 6);
    dest.clear(0xFFFF0000);  // replaced, not drawn over
    VibrancePop(picture, dest, c.vibrance, c.saturation, c.contrast, c.skin, c.mix, false);
    const Image out = dest.snapshot();
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 9; ++x) {
        const uint32_t in = picture.row(y)[x], got = out.row(y)[x];
        ASSERT_EQ(AlphaOf(got), AlphaOf(in));
        // Opaque pixels come back exactly; translucent ones lose at most the
        // truncation of premultiplying again.
        const int tolerance = AlphaOf(in) == 255 ? 0 : 1;
        for (int shift : {0, 8, 16})
          EXPECT_LE(std::abs(int((got >> shift) & 0xFF) - int((in >> shift) & 0xFF)), tolerance)
              << x << "," << y << " mix " << c.mix;
      }
  }
}

TEST(VibrancePop, NoSaturationTurnsEveryPixelIntoItsLuminance) {
  // Colours whose luminance lies well away from a rounding tie.
  const std::vector<uint32_t> colours = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFC86432,
                                         0xFF808080, 0xFF000000, 0xFFFFFFFF, 0xFF1E90FF};
  const Image picture = MakeImage(int(colours.size()), 1, colours);
  Surface dest(picture.width(), 1);
  VibrancePop(picture, dest, 0, -100, 0, 0, 100, true);
  const Image out = dest.snapshot();
  for (size_t i = 0; i < colours.size(); ++i) {
    const uint32_t p = out.row(0)[i], c = colours[i];
    const int lum = int(RoundRatio(299 * RedOf(c) + 587 * GreenOf(c) + 114 * BlueOf(c), 1000));
    EXPECT_EQ(RedOf(p), GreenOf(p)) << i;
    EXPECT_EQ(GreenOf(p), BlueOf(p)) << i;
    EXPECT_EQ(int(RedOf(p)), lum) << std::hex << c;
  }
}

TEST(VibrancePop, SkinProtectionKeepsSkinTonesButNotOtherHues) {
  // Hue 35 degrees (a warm skin tone) and a blue.
  const Image picture = MakeImage(2, 1, {0xFFFF9500, 0xFF2050D0});
  Surface dest(2, 1);
  VibrancePop(picture, dest, 0, -100, 0, 100, 100, false);
  const uint32_t skin = dest.snapshot().row(0)[0], blue = dest.snapshot().row(0)[1];
  // On the skin tone F is (0 - 1)(1 - 0.7) + 1 = 0.7 instead of 0: most colour stays.
  EXPECT_GT(int(RedOf(skin)) - int(BlueOf(skin)), 150);
  EXPECT_EQ(RedOf(blue), GreenOf(blue));
  EXPECT_EQ(GreenOf(blue), BlueOf(blue));
}

// ---- SobelEffectSource and BlendSobelEdges ----------------------------------------------

// Left half black, right half white: one vertical edge between columns 5 and 6.
Image VerticalEdge(uint32_t alpha = 0xFF) {
  std::vector<uint32_t> px(12 * 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) px[size_t(y * 12 + x)] = (alpha << 24) | (x < 6 ? 0 : 0xFFFFFF);
  return MakeImage(12, 10, px);
}

TEST(SobelEffectSource, FlatPicturesGiveOnlyTheEmptyLayer) {
  const struct {
    uint32_t colour;
    uint32_t layer;
  } cases[] = {
      {0xFF3366AA, 0xFFFFFFFF},  // opaque: white paper
      {0x80FF0000, 0x00000000},  // translucent: nothing at all
  };
  for (const auto& c : cases) {
    Surface dest(6, 5);
    dest.clear(0xFF00FF00);
    SobelEffectSource(SolidImage(6, 5, c.colour), dest, 0, 0, 0);
    for (uint32_t p : Words(dest.snapshot())) ASSERT_EQ(p, c.layer) << std::hex << c.colour;
  }
}

TEST(SobelEffectSource, NarrowPicturesOnlyClearTheDestination) {
  for (QSize size : {QSize(2, 9), QSize(9, 2), QSize(1, 1)}) {
    const Image picture = Noise(size.width(), size.height(), 9);
    Surface dest(size.width(), size.height());
    dest.clear(0xFF00FF00);
    SobelEffectSource(picture, dest, 1, 255, 100);
    for (uint32_t p : Words(dest.snapshot())) ASSERT_EQ(p, 0u);
  }
}

TEST(SobelEffectSource, StrokesFollowTheEdgeOnly) {
  for (uint32_t alpha : {0xFFu, 0xC0u}) {
    Surface dest(12, 10);
    SobelEffectSource(VerticalEdge(alpha), dest, 0, 100, 0);
    const Image layer = dest.snapshot();
    const uint32_t paper = alpha == 0xFF ? 0xFFFFFFFFu : 0u;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) {
        const uint32_t p = layer.row(y)[x];
        if (x == 5 || x == 6) {
          // Stroke pixels are dark grey and opaque, whatever the source's alpha.
          EXPECT_EQ(AlphaOf(p), 255u) << x << "," << y;
          EXPECT_LT(RedOf(p), 128u) << x << "," << y;
          EXPECT_EQ(RedOf(p), BlueOf(p));
        } else {
          EXPECT_EQ(p, paper) << x << "," << y;
        }
      }
  }
  // More darkness draws darker strokes.
  Surface light(12, 10), dark(12, 10);
  SobelEffectSource(VerticalEdge(), light, 0, 0, 30);
  SobelEffectSource(VerticalEdge(), dark, 0, 200, 30);
  EXPECT_LT(RedOf(dark.snapshot().row(0)[5]), RedOf(light.snapshot().row(0)[5]));
}

TEST(BlendSobelEdges, DarkensTheEdgesAndLeavesTheRestAlone) {
  const uint32_t base = 0xFF6080A0;
  auto blend = [&](int mode) {
    Surface dest(12, 10);
    dest.clear(base);
    BlendSobelEdges(VerticalEdge(), dest, 0, 100, 0, mode, 100);
    return dest.snapshot();
  };
  // Multiply and Darken are neutral on the white paper; Overlay lifts it.
  for (int mode : {0, 1, 2}) {
    const Image out = blend(mode);
    const bool neutral = mode != 2;
    EXPECT_EQ(out.row(4)[1] == base, neutral) << "mode " << mode;
    EXPECT_EQ(out.row(4)[10] == base, neutral) << "mode " << mode;
    EXPECT_LT(RedOf(out.row(4)[5]), RedOf(base)) << "mode " << mode;
  }
  EXPECT_EQ(Words(blend(7)), Words(blend(0)));  // unknown modes multiply
  // Opacity 0 (or below) changes nothing.
  for (int opacity : {0, -20}) {
    Surface dest(12, 10);
    dest.clear(base);
    BlendSobelEdges(VerticalEdge(), dest, 0, 100, 0, 0, opacity);
    for (uint32_t p : Words(dest.snapshot())) ASSERT_EQ(p, base);
  }
}

// ---- SimilaritySmoothSurface_MT ------------------------------------------------------

namespace {

struct SmoothArgs {
  int radius = 2;
  int threshold = 60;
  int iterations = 2;
  bool useRange = true;
  float spatialSigma = 1.0f;
  float rangeSigma = 25.0f;
};

Image Smooth(const Image& picture, const SmoothArgs& a, int threads, const Image* guide = nullptr,
             const std::function<void(float)>& progress = nullptr) {
  Surface s(picture.width(), picture.height());
  Fill(s, picture);
  SimilaritySmoothSurface_MT(s, guide, a.radius, a.threshold, a.iterations, a.useRange,
                             a.spatialSigma, a.rangeSigma, threads, progress);
  return s.snapshot();
}

int Ch(uint32_t p, int i) { return int((p >> (8 * i)) & 0xFF); }  // 0 blue .. 3 alpha

// The per-pixel rule written out plainly, one pixel and one window position at a
// time: the oracle of the fast smoothing.
std::vector<uint32_t> ReferenceSmooth(std::vector<uint32_t> px, int w, int h,
                                      const std::vector<uint32_t>* guide, const SmoothArgs& a) {
  const int r = a.radius;
  const double s = a.spatialSigma < r / 2.5 ? std::max(0.5, r / 2.5) : double(a.spatialSigma);
  for (int n = 1; n <= a.iterations; ++n) {
    const std::vector<uint32_t> in = px;
    const std::vector<uint32_t>& g = guide ? *guide : in;
    const double sigma = double(a.rangeSigma) * (1.0 + 0.2 * (n - 1));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t c = in[size_t(y * w + x)], gc = g[size_t(y * w + x)];
        uint32_t& o = px[size_t(y * w + x)];
        if (Ch(c, 3) == 0) {
          o = c;
          continue;
        }
        float sum[3] = {0, 0, 0}, wsum = 0;
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx) {
            const int yy = y + dy, xx = x + dx;
            if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
            const uint32_t ga = g[size_t(yy * w + xx)], e = in[size_t(yy * w + xx)];
            int dist2 = 0, maxd = 0;
            for (int i = 0; i < 3; ++i) {
              const int diff = Ch(gc, i) - Ch(ga, i);
              dist2 += diff * diff;
              maxd = std::max(maxd, std::abs(diff));
            }
            if (dist2 > a.threshold * a.threshold || Ch(e, 3) == 0) continue;
            const float spatial = float(std::exp(-0.5 * double(dx * dx + dy * dy) / (s * s)));
            const float range =
                a.useRange ? float(std::exp(-double(maxd * maxd) / (2.0 * sigma * sigma))) : 1.0f;
            const float W = spatial * range;
            for (int i = 0; i < 3; ++i) sum[i] += W * float(Ch(e, i));
            wsum += W;
          }
        uint32_t out = c & 0xFF000000u;
        for (int i = 0; i < 3; ++i) {
          int v;
          if (double(wsum) > 0.001) {
            v = int(std::nearbyint(sum[i] / wsum));
          } else {
            int total = 0, count = 0;
            for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy)
              for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx)
                if (Ch(in[size_t(yy * w + xx)], 3) != 0) {
                  total += Ch(in[size_t(yy * w + xx)], i);
                  ++count;
                }
            v = count > 0 ? total / count : Ch(c, i);
          }
          out |= uint32_t(std::min(v, Ch(c, 3))) << (8 * i);
        }
        o = out;
      }
  }
  return px;
}

}  // namespace

TEST(SimilaritySmooth, MatchesThePlainRule) {
  const Image picture = Noise(11, 8, 21, 7);
  const Image guide = Noise(11, 8, 99);
  const std::vector<uint32_t> guideWords = Words(guide);
  const struct {
    SmoothArgs args;
    bool withGuide;
  } cases[] = {
      {{2, 60, 2, true, 1.0f, 25.0f}, false},
      {{2, 90, 3, false, 0.1f, 25.0f}, false},  // sigma raised to radius / 2.5
      {{1, 120, 1, true, 3.0f, 10.0f}, true},
      {{3, 400, 2, true, 2.0f, 0.0f}, false},  // NaN weights: 3 x 3 means
      {{0, 60, 1, true, 0.0f, 25.0f}, false},
      {{2, 450, 1, false, 1.0f, 25.0f}, false},  // everything mixes, translucent too
  };
  for (const auto& c : cases) {
    const Image out = Smooth(picture, c.args, 2, c.withGuide ? &guide : nullptr);
    const std::vector<uint32_t> expected =
        ReferenceSmooth(Words(picture), 11, 8, c.withGuide ? &guideWords : nullptr, c.args);
    EXPECT_EQ(Words(out), expected)
        << "radius " << c.args.radius << " threshold " << c.args.threshold;
    for (uint32_t p : Words(out)) ASSERT_TRUE(ValidPremultiplied(p)) << std::hex << p;
  }
}

TEST(SimilaritySmooth, WidePicturesMatchThePlainRule) {
  // Wide enough for whole windows inside the columns, where eight pixels are smoothed
  // at a time; soft gradients with a little noise, so that many neighbours pass the
  // colour test, and transparent and translucent pixels scattered through them.
  const int w = 45, h = 14;
  std::vector<uint32_t> argb(size_t(w) * size_t(h));
  uint32_t seed = 5;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const uint32_t n = seed >> 28;
      uint32_t p = 0xFF000000u | ((uint32_t(x * 5) + n) & 0xFF) << 16 |
                   ((uint32_t(y * 9) + n) & 0xFF) << 8 | ((uint32_t(x + y) * 3 + n) & 0xFF);
      const int i = y * w + x;
      if (i % 17 == 3) p = 0;
      if (i % 23 == 5) p = gfx::Premultiply(0x80000000u | (p & 0x00FFFFFFu));
      argb[size_t(i)] = p;
    }
  const Image picture = MakeImage(w, h, argb);
  const Image guide = Noise(w, h, 7);
  const std::vector<uint32_t> guideWords = Words(guide);
  const struct {
    SmoothArgs args;
    bool withGuide;
  } cases[] = {
      {{5, 30, 3, false, 1.2f, 5.0f}, false},  // as the watercolour finishes its washes
      {{3, 60, 2, true, 1.0f, 25.0f}, false},
      {{2, 200, 1, true, 3.0f, 10.0f}, true},
      {{3, 400, 2, true, 2.0f, 0.0f}, false},  // NaN weights: 3 x 3 means
  };
  for (const auto& c : cases) {
    const Image out = Smooth(picture, c.args, 2, c.withGuide ? &guide : nullptr);
    const std::vector<uint32_t> expected =
        ReferenceSmooth(Words(picture), w, h, c.withGuide ? &guideWords : nullptr, c.args);
    EXPECT_EQ(Words(out), expected)
        << "radius " << c.args.radius << " threshold " << c.args.threshold;
  }
}

TEST(SimilaritySmooth, KeepsTransparencyAndNeverMixesDistantColours) {
  // Black and white halves, a transparent column and a red pixel beside it.
  std::vector<uint32_t> px(10 * 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x)
      px[size_t(y * 10 + x)] = x == 2 ? 0u : (x < 5 ? 0xFF000000u : 0xFFFFFFFFu);
  px[1 * 10 + 1] = 0xFFFF0000u;
  const Image picture = MakeImage(10, 6, px);

  // White and black are 441 apart, red and black exactly 255, red and white 360.
  SmoothArgs apart{3, 254, 3, false, 2.0f, 30.0f};
  EXPECT_EQ(Words(Smooth(picture, apart, 1)), Words(picture));
  SmoothArgs touching{3, 255, 1, false, 2.0f, 30.0f};
  const Image redMixed = Smooth(picture, touching, 1);
  EXPECT_NE(redMixed.row(1)[1], picture.row(1)[1]);
  EXPECT_EQ(redMixed.row(1)[7], picture.row(1)[7]);  // white still alone

  SmoothArgs mixing{3, 500, 1, false, 2.0f, 30.0f};
  const Image mixed = Smooth(picture, mixing, 1);
  EXPECT_NE(mixed.row(3)[4], picture.row(3)[4]);               // black next to white turns grey
  for (int y = 0; y < 6; ++y) EXPECT_EQ(mixed.row(y)[2], 0u);  // transparent stays so
}

TEST(SimilaritySmooth, SameResultOnAnyNumberOfThreads) {
  const Image picture = Noise(61, 47, 5, 13);
  const SmoothArgs args{2, 80, 3, true, 1.5f, 20.0f};
  const std::vector<uint32_t> one = Words(Smooth(picture, args, 1));
  EXPECT_NE(one, Words(picture));
  for (int threads : {2, 3, 8, 0}) EXPECT_EQ(Words(Smooth(picture, args, threads)), one) << threads;
}

TEST(SimilaritySmooth, ReportsEachIterationAndAFailingReportChangesNothing) {
  const Image picture = Noise(8, 8, 2);
  std::vector<float> reported;
  Smooth(picture, SmoothArgs{1, 100, 4, true, 1.0f, 20.0f}, 2, nullptr,
         [&](float f) { reported.push_back(f); });
  EXPECT_EQ(reported, (std::vector<float>{0.25f, 0.5f, 0.75f, 1.0f}));

  Surface s(8, 8);
  Fill(s, picture);
  int calls = 0;
  EXPECT_THROW(SimilaritySmoothSurface_MT(s, nullptr, 1, 100, 4, true, 1.0f, 20.0f, 2,
                                          [&](float) {
                                            if (++calls == 3) throw std::runtime_error("stop");
                                          }),
               std::runtime_error);
  EXPECT_EQ(Words(s.snapshot()), Words(picture));
}

TEST(SimilaritySmooth, AGuideOfAnotherSizeIsIgnored) {
  const Image picture = Noise(9, 9, 8);
  const Image wrong = Noise(8, 9, 1);
  const SmoothArgs args{2, 70, 2, true, 1.0f, 20.0f};
  EXPECT_EQ(Words(Smooth(picture, args, 1, &wrong)), Words(Smooth(picture, args, 1)));
}
