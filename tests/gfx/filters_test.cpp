#include "gfx/filters.h"

#include "gfx/pixel.h"
#include "test_util.h"

#include <QThreadPool>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

namespace {

using gfx::Image;
using gfx::TileMode;
using testutil::PremultipliedAt;

// ---------------------------------------------------------------------------------------
// Fixtures and slow references.

// Premultiplied channels of an image as ints, B, G, R, A per pixel (the word's bytes).
struct Channels {
  int w = 0, h = 0;
  std::vector<int64_t> v;
  Channels(int width, int height) : w(width), h(height), v(size_t(width) * height * 4) {}
  int64_t& at(int x, int y, int c) { return v[(size_t(y) * w + x) * 4 + c]; }
  int64_t at(int x, int y, int c) const { return v[(size_t(y) * w + x) * 4 + c]; }
};

Channels ToChannels(const Image& img) {
  Channels ch(img.width(), img.height());
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      for (int c = 0; c < 4; ++c) ch.at(x, y, c) = (img.row(y)[x] >> (8 * c)) & 0xFF;
  return ch;
}

Image ToImage(const Channels& ch) {
  std::vector<uint32_t> words(size_t(ch.w) * ch.h);
  for (int y = 0; y < ch.h; ++y)
    for (int x = 0; x < ch.w; ++x) {
      uint32_t p = 0;
      for (int c = 0; c < 4; ++c) p |= uint32_t(ch.at(x, y, c)) << (8 * c);
      words[size_t(y) * ch.w + x] = p;
    }
  return Image::FromPixels(words.data(), ch.w, ch.h, qsizetype(ch.w) * 4,
                           gfx::AlphaType::Premultiplied);
}

// Valid premultiplied noise: a mix of transparent, opaque and partial pixels.
Image NoiseImage(int w, int h, uint32_t seed) {
  std::vector<uint32_t> words(size_t(w) * h);
  uint32_t s = seed;
  auto next = [&] {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  };
  for (uint32_t& p : words) {
    const uint32_t kind = next() % 4;
    const uint32_t a = kind == 0 ? 0 : kind == 1 ? 255 : next() % 256;
    p = gfx::PackArgb(a, next() % (a + 1), next() % (a + 1), next() % (a + 1));
  }
  return Image::FromPixels(words.data(), w, h, qsizetype(w) * 4, gfx::AlphaType::Premultiplied);
}

// Pixel (c, a) of a 256 x 256 image carries colour levels c, a - c and c / 2 under
// alpha a: every premultiplied level under every alpha.
Image AllPremultipliedPixels() {
  std::vector<uint32_t> words(256 * 256, 0);
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t c = 0; c <= a; ++c) words[a * 256 + c] = gfx::PackArgb(a, c, a - c, c / 2);
  return Image::FromPixels(words.data(), 256, 256, 256 * 4, gfx::AlphaType::Premultiplied);
}

bool SamePixels(const Image& a, const Image& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         testutil::MaxChannelDifference(a, b) == 0;
}

bool IsValidPremultiplied(const Image& img) {
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const uint32_t p = img.row(y)[x];
      if (gfx::RedOf(p) > gfx::AlphaOf(p) || gfx::GreenOf(p) > gfx::AlphaOf(p) ||
          gfx::BlueOf(p) > gfx::AlphaOf(p))
        return false;
    }
  return true;
}

int64_t Extended(const Channels& in, int x, int y, int c, TileMode tile) {
  if (tile == TileMode::Decal && (x < 0 || y < 0 || x >= in.w || y >= in.h)) return 0;
  return in.at(std::clamp(x, 0, in.w - 1), std::clamp(y, 0, in.h - 1), c);
}

// Direct 1-D convolution along one axis with a centred kernel; `finish` turns a weighted
// sum into the stored value.
template <typename W, typename Finish>
Channels Convolve1D(const Channels& in, bool vertical, const std::vector<W>& kernel, TileMode tile,
                    Finish finish) {
  const int r = int(kernel.size() / 2);
  Channels out(in.w, in.h);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x)
      for (int c = 0; c < 4; ++c) {
        W sum = 0;
        for (int t = -r; t <= r; ++t)
          sum += kernel[t + r] *
                 W(vertical ? Extended(in, x, y + t, c, tile) : Extended(in, x + t, y, c, tile));
        out.at(x, y, c) = finish(sum);
      }
  return out;
}

int BoxWidth(double sigma) {
  return std::max(1, int(std::floor(sigma * 3.0 * std::sqrt(2.0 * std::numbers::pi) / 4.0 + 0.5)));
}

// The three-box kernel as one set of integer weights: boxes d, d, d (d odd) or d, d, d + 1
// (d even) convolved in full.
std::vector<int64_t> ThreeBoxKernel(double sigma) {
  const int d = BoxWidth(sigma);
  std::vector<int64_t> k{1};
  for (int width : {d, d, d % 2 ? d : d + 1}) {
    std::vector<int64_t> next(k.size() + width - 1, 0);
    for (size_t i = 0; i < k.size(); ++i)
      for (int j = 0; j < width; ++j) next[i + j] += k[i];
    k = next;
  }
  return k;
}

// The box path's definition, summed directly: each pass rounds sum / total to nearest.
Image ThreeBoxReference(const Image& img, double sigma, TileMode tile) {
  const std::vector<int64_t> k = ThreeBoxKernel(sigma);
  int64_t total = 0;
  for (int64_t v : k) total += v;
  auto finish = [total](int64_t s) { return (s + total / 2) / total; };
  const Channels x = Convolve1D(ToChannels(img), false, k, tile, finish);
  return ToImage(Convolve1D(x, true, k, tile, finish));
}

std::vector<double> GaussianKernel(double sigma, int radius) {
  std::vector<double> k(2 * radius + 1);
  double total = 0;
  for (int t = -radius; t <= radius; ++t)
    total += k[t + radius] = std::exp(-t * t / (2 * sigma * sigma));
  for (double& v : k) v /= total;
  return k;
}

// A true Gaussian (radius 4 sigma), rounded after each pass as the filter does.
Image GaussianReference(const Image& img, double sigma, TileMode tile) {
  const std::vector<double> k = GaussianKernel(sigma, int(std::ceil(4 * sigma)));
  auto finish = [](double s) { return int64_t(std::floor(s + 0.5)); };
  const Channels x = Convolve1D(ToChannels(img), false, k, tile, finish);
  return ToImage(Convolve1D(x, true, k, tile, finish));
}

int64_t AlphaMass(const Image& img) {
  int64_t sum = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) sum += gfx::AlphaOf(img.row(y)[x]);
  return sum;
}

// A transparent image with an opaque white 3 x 3 block centred on (cx, cy).
Image BlockImage(int w, int h, int cx, int cy) {
  std::vector<uint32_t> argb(size_t(w) * h, 0);
  for (int y = cy - 1; y <= cy + 1; ++y)
    for (int x = cx - 1; x <= cx + 1; ++x) argb[size_t(y) * w + x] = 0xFFFFFFFF;
  return testutil::MakeImage(w, h, argb);
}

// ---------------------------------------------------------------------------------------
// Gaussian blur.

TEST(GaussianBlur, FlatImageStaysFlatWithClampedEdges) {
  // Sizes include single pixels, single rows and columns, and widths that leave a
  // partial column strip; sigmas cover both kernels and kernels far wider than the image.
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 9}, {17, 1}, {13, 7}, {70, 3}};
  for (auto [w, h] : sizes)
    for (float sigma : {0.5f, 1.5f, 2.0f, 3.3f, 10.0f, 40.0f}) {
      const Image flat = testutil::SolidImage(w, h, 0x80336699);
      const Image out = gfx::GaussianBlur(flat, sigma, sigma);
      EXPECT_TRUE(SamePixels(out, flat)) << w << " x " << h << ", sigma " << sigma;
    }
}

TEST(GaussianBlur, IneffectiveSigmaLeavesTheImage) {
  const Image img = NoiseImage(9, 7, 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float s : {0.0f, -3.0f, nan, inf, 0.03f})
    EXPECT_TRUE(SamePixels(gfx::GaussianBlur(img, s, s), img)) << s;
  EXPECT_TRUE(gfx::GaussianBlur(Image(), 3, 3).isNull());
}

TEST(GaussianBlur, EachSigmaBlursOnlyItsAxis) {
  // Vertical stripes: blurring along y alone changes nothing, along x alone keeps every
  // column constant.
  const int w = 24, h = 10;
  std::vector<uint32_t> argb(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) argb[size_t(y) * w + x] = (x / 3) % 2 ? 0xFF000000 : 0xFFFFFFFF;
  const Image stripes = testutil::MakeImage(w, h, argb);
  for (float sigma : {1.2f, 5.0f}) {
    EXPECT_TRUE(SamePixels(gfx::GaussianBlur(stripes, 0, sigma), stripes)) << sigma;
    const Image across = gfx::GaussianBlur(stripes, sigma, 0);
    EXPECT_FALSE(SamePixels(across, stripes)) << sigma;
    for (int y = 1; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(PremultipliedAt(across, x, y), PremultipliedAt(across, x, 0));
  }
}

TEST(GaussianBlur, ImpulseStaysCentredSymmetricAndKeepsItsMass) {
  // sigma 2 gives an even box width (4), where the two half-pixel shifts must cancel;
  // 2.5 an odd one (5). Mass is lost only to 8-bit rounding of the faint tails.
  const int n = 61, c = 30;
  const Image block = BlockImage(n, n, c, c);
  for (float sigma : {0.8f, 1.7f, 2.0f, 2.5f, 6.0f}) {
    const Image out = gfx::GaussianBlur(block, sigma, sigma);
    for (int j = 0; j <= c; ++j)
      for (int i = 0; i <= c; ++i) {
        const uint32_t p = PremultipliedAt(out, c + i, c + j);
        ASSERT_EQ(p, PremultipliedAt(out, c - i, c + j)) << sigma << " at " << i << "," << j;
        ASSERT_EQ(p, PremultipliedAt(out, c + i, c - j)) << sigma << " at " << i << "," << j;
      }
    EXPECT_NEAR(double(AlphaMass(out)), 9.0 * 255, 9.0 * 255 * 0.03) << sigma;
    EXPECT_TRUE(IsValidPremultiplied(out));
  }
}

TEST(GaussianBlur, BoxPathEqualsDirectThreeBoxSums) {
  // Exact: running sums against the composite kernel summed pixel by pixel. The 5 x 3
  // image makes every kernel wider than the image; sigma 200 needs 64-bit sums.
  for (auto [w, h] : std::vector<std::pair<int, int>>{{37, 23}, {5, 3}})
    for (float sigma : {2.0f, 2.5f, 7.3f, 25.0f, 200.0f})
      for (TileMode tile : {TileMode::Clamp, TileMode::Decal}) {
        if (sigma > 30 && w > 5) continue;  // the direct sums would take long
        const Image img = NoiseImage(w, h, uint32_t(w * 7 + sigma));
        const Image out = gfx::GaussianBlur(img, sigma, sigma, tile);
        EXPECT_TRUE(SamePixels(out, ThreeBoxReference(img, sigma, tile)))
            << w << " x " << h << ", sigma " << sigma << ", decal " << (tile == TileMode::Decal);
        EXPECT_TRUE(IsValidPremultiplied(out));
      }
}

TEST(GaussianBlur, SigmaAboveTheCapBlursAsTheCap) {
  const Image img = NoiseImage(6, 4, 3);
  EXPECT_TRUE(SamePixels(gfx::GaussianBlur(img, 900, 900), gfx::GaussianBlur(img, 532, 532)));
}

TEST(GaussianBlur, MatchesTrueGaussian) {
  // Below sigma 2 the kernel is the Gaussian itself in 16-bit weights: at most 1 level off
  // after the two roundings. From 2 on, three boxes of whole-pixel width stand in for it;
  // their spread misses sigma by up to 6 % (width 4 at sigma 2 spreads like 2.12), which
  // on hard edges costs up to 11 levels (measured worst, sigma 2 with Decal); against a
  // Gaussian of the boxes' own spread they stay within 5.
  const int w = 48, h = 40;
  std::vector<uint32_t> argb(size_t(w) * h, 0xFF202020);
  for (int y = 8; y < 30; ++y)
    for (int x = 10; x < 26; ++x) argb[size_t(y) * w + x] = 0xFFE0C040;
  argb[size_t(34) * w + 38] = 0xFFFFFFFF;
  const Image shapes = testutil::MakeImage(w, h, argb);
  const Image noise = NoiseImage(w, h, 9);
  for (float sigma : {0.6f, 1.3f, 1.99f, 2.0f, 3.0f, 5.0f, 8.0f, 20.0f})
    for (TileMode tile : {TileMode::Clamp, TileMode::Decal})
      for (const Image& img : {shapes, noise}) {
        const int tolerance = sigma < 2 ? 1 : 12;
        EXPECT_LE(testutil::MaxChannelDifference(gfx::GaussianBlur(img, sigma, sigma, tile),
                                                 GaussianReference(img, sigma, tile)),
                  tolerance)
            << "sigma " << sigma << ", decal " << (tile == TileMode::Decal);
      }
}

TEST(GaussianBlur, DecalFadesOpaqueEdges) {
  const Image opaque = testutil::SolidImage(40, 30, 0xFF808080);
  const Image out = gfx::GaussianBlur(opaque, 3, 3, TileMode::Decal);
  EXPECT_EQ(PremultipliedAt(out, 20, 15), 0xFF808080u);
  // At a straight edge a little over half the kernel lies inside, at a corner a quarter.
  EXPECT_NEAR(int(gfx::AlphaOf(PremultipliedAt(out, 0, 15))), 145, 8);
  EXPECT_NEAR(int(gfx::AlphaOf(PremultipliedAt(out, 0, 0))), 82, 8);
  EXPECT_TRUE(IsValidPremultiplied(out));
}

// ---------------------------------------------------------------------------------------
// Matrix convolution.

std::vector<float> Sharpen(float q) { return {0, -q, 0, -q, 1 + 4 * q, -q, 0, -q, 0}; }

// The dense definition, in the same single-precision order as documented.
Image ConvolutionReference(const Image& img, int kw, int kh, const std::vector<float>& k,
                           float gain, float bias, int ox, int oy, TileMode tile,
                           bool convolveAlpha) {
  Channels in = ToChannels(img);
  if (!convolveAlpha)
    for (int y = 0; y < in.h; ++y)
      for (int x = 0; x < in.w; ++x) {
        const uint32_t u = gfx::Unpremultiply(img.row(y)[x]);
        for (int c = 0; c < 4; ++c) in.at(x, y, c) = (u >> (8 * c)) & 0xFF;
      }
  auto roundClamp = [](float v, float hi) {
    v = v > 0 ? v : 0;
    v = v < hi ? v : hi;
    return int(v + 0.5f);
  };
  Channels out(in.w, in.h);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      float sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < kh; ++j)
        for (int i = 0; i < kw; ++i)
          for (int c = 0; c < 4; ++c)
            sum[c] += float(Extended(in, x + i - ox, y + j - oy, c, tile)) * k[size_t(j) * kw + i];
      float v[4];
      for (int c = 0; c < 4; ++c) v[c] = sum[c] * gain + bias;
      if (convolveAlpha) {
        const int a = roundClamp(v[3], 255);
        for (int c = 0; c < 3; ++c) out.at(x, y, c) = roundClamp(v[c], float(a));
        out.at(x, y, 3) = a;
      } else {
        const uint32_t p =
            gfx::Premultiply(gfx::PackArgb(gfx::AlphaOf(img.row(y)[x]), roundClamp(v[2], 255),
                                           roundClamp(v[1], 255), roundClamp(v[0], 255)));
        for (int c = 0; c < 4; ++c) out.at(x, y, c) = (p >> (8 * c)) & 0xFF;
      }
    }
  return ToImage(out);
}

TEST(MatrixConvolution, IdentityKernelsAreIdentity) {
  // Unpremultiplying and premultiplying again is exact, so convolveAlpha false is too;
  // every premultiplied pixel goes through both.
  const Image img = AllPremultipliedPixels();
  struct Case {
    int kw, kh, ox, oy;
  };
  for (const Case& k : {Case{1, 1, 0, 0}, Case{3, 3, 1, 1}, Case{5, 3, 4, 2}, Case{2, 4, 0, 3}}) {
    std::vector<float> kernel(size_t(k.kw) * k.kh, 0.0f);
    kernel[size_t(k.oy) * k.kw + k.ox] = 1.0f;
    for (TileMode tile : {TileMode::Clamp, TileMode::Decal})
      for (bool alpha : {true, false})
        EXPECT_TRUE(SamePixels(
            gfx::MatrixConvolution(img, {k.kw, k.kh}, kernel, 1, 0, {k.ox, k.oy}, tile, alpha),
            img))
            << k.kw << "x" << k.kh << " alpha " << alpha;
  }
}

TEST(MatrixConvolution, OffsetPicksTheNeighbour) {
  // The 1 sits one column right of the offset: every pixel takes its right neighbour,
  // the last column its own (clamp) or nothing (decal).
  const Image img = NoiseImage(7, 5, 5);
  const std::vector<float> k = {0, 0, 0, 0, 0, 1, 0, 0, 0};
  const Image clamp = gfx::MatrixConvolution(img, {3, 3}, k, 1, 0, {1, 1}, TileMode::Clamp, true);
  const Image decal = gfx::MatrixConvolution(img, {3, 3}, k, 1, 0, {1, 1}, TileMode::Decal, true);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      ASSERT_EQ(PremultipliedAt(clamp, x, y), PremultipliedAt(img, std::min(x + 1, 6), y));
      ASSERT_EQ(PremultipliedAt(decal, x, y), x < 6 ? PremultipliedAt(img, x + 1, y) : 0u);
    }
}

TEST(MatrixConvolution, SharpenLeavesFlatAreasAlone) {
  for (float q : {1.0f / 15, 0.4f, 5.0f / 3})
    for (bool alpha : {true, false})
      for (uint32_t colour : {0xFF336699u, 0x80C08040u, 0x00000000u}) {
        const Image flat = testutil::SolidImage(9, 6, colour);
        EXPECT_TRUE(SamePixels(
            gfx::MatrixConvolution(flat, {3, 3}, Sharpen(q), 1, 0, {1, 1}, TileMode::Clamp, alpha),
            flat))
            << q << " " << alpha << " " << std::hex << colour;
      }
}

TEST(MatrixConvolution, SharpenByHand) {
  // Grey 100 centre, 50 around, q = 1: 5 * 100 - 4 * 50 = 300 clamps to 255. The top
  // middle pixel sees a clamped copy of itself above, 50 either side and 100 below:
  // 5 * 50 - 50 - 50 - 50 - 100 = 0.
  std::vector<uint32_t> argb(9, 0xFF323232);
  argb[4] = 0xFF646464;
  const Image img = testutil::MakeImage(3, 3, argb);
  for (bool alpha : {true, false}) {
    const Image out =
        gfx::MatrixConvolution(img, {3, 3}, Sharpen(1), 1, 0, {1, 1}, TileMode::Clamp, alpha);
    EXPECT_EQ(PremultipliedAt(out, 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(PremultipliedAt(out, 1, 0), 0xFF000000u);
  }
}

TEST(MatrixConvolution, BiasIsInChannelUnits) {
  // Bias 10 adds 10 levels; colour is held to the (new) alpha. Bias 255 with a zero
  // kernel makes every pixel opaque white.
  const Image img = testutil::MakeImage(1, 1, {0xC8FF3300});  // premultiplied 200, 200, 40, 0
  const uint32_t p = PremultipliedAt(img, 0, 0);
  const Image lifted = gfx::MatrixConvolution(img, {1, 1}, std::vector<float>{1}, 1, 10, {0, 0},
                                              TileMode::Clamp, true);
  EXPECT_EQ(PremultipliedAt(lifted, 0, 0),
            gfx::PackArgb(210, std::min(210u, gfx::RedOf(p) + 10), gfx::GreenOf(p) + 10, 10));
  const Image white = gfx::MatrixConvolution(NoiseImage(4, 3, 6), {3, 3}, std::vector<float>(9, 0),
                                             1, 255, {1, 1}, TileMode::Decal, true);
  EXPECT_TRUE(SamePixels(white, testutil::SolidImage(4, 3, 0xFFFFFFFF)));
}

TEST(MatrixConvolution, MatchesDenseDefinition) {
  // Bit for bit: the fast path skips zero taps, pads rows and works four lanes at once.
  const Image img = NoiseImage(23, 17, 7);
  const std::vector<float> k5x4 = {0.1f, 0,    -0.3f, 0,     0.25f, 0,     0.7f, 0,    -0.2f, 0.05f,
                                   0,    0.4f, 0,     0.15f, 0,     -0.1f, 0,    0.3f, 0,     0.2f};
  struct Case {
    int kw, kh, ox, oy;
    std::vector<float> k;
    float gain, bias;
  };
  const std::vector<Case> cases = {{3, 3, 1, 1, Sharpen(1.0f / 15), 1, 0},
                                   {3, 3, 1, 1, Sharpen(5.0f / 3), 1, 0},
                                   {5, 4, 3, 1, k5x4, 0.7f, 12},
                                   {5, 4, 0, 3, k5x4, 1.3f, -20}};
  for (const Case& c : cases)
    for (TileMode tile : {TileMode::Clamp, TileMode::Decal})
      for (bool alpha : {true, false}) {
        const Image out = gfx::MatrixConvolution(img, {c.kw, c.kh}, c.k, c.gain, c.bias,
                                                 {c.ox, c.oy}, tile, alpha);
        EXPECT_TRUE(SamePixels(out, ConvolutionReference(img, c.kw, c.kh, c.k, c.gain, c.bias, c.ox,
                                                         c.oy, tile, alpha)))
            << c.kw << "x" << c.kh << " offset " << c.ox << "," << c.oy << " alpha " << alpha;
        EXPECT_TRUE(IsValidPremultiplied(out));
      }
}

TEST(MatrixConvolution, RejectsInvalidParameters) {
  const Image img = NoiseImage(3, 3, 8);
  const std::vector<float> k9(9, 0.1f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  auto call = [&](QSize size, const std::vector<float>& k, float gain, float bias, QPoint off) {
    return gfx::MatrixConvolution(img, size, k, gain, bias, off, TileMode::Clamp, true);
  };
  EXPECT_THROW(call({0, 3}, {}, 1, 0, {0, 0}), gfx::Error);
  EXPECT_THROW(call({3, 3}, std::vector<float>(8, 0.1f), 1, 0, {1, 1}), gfx::Error);
  EXPECT_THROW(call({3, 3}, k9, 1, 0, {3, 1}), gfx::Error);
  EXPECT_THROW(call({3, 3}, k9, 1, 0, {1, -1}), gfx::Error);
  EXPECT_THROW(call({3, 3}, k9, nan, 0, {1, 1}), gfx::Error);
  EXPECT_THROW(call({3, 3}, {0, 0, 0, 0, nan, 0, 0, 0, 0}, 1, 0, {1, 1}), gfx::Error);
}

// ---------------------------------------------------------------------------------------
// Colour matrix.

constexpr gfx::ColorMatrixValues kIdentityMatrix = {1, 0, 0, 0, 0, 0, 1, 0, 0, 0,
                                                    0, 0, 1, 0, 0, 0, 0, 0, 1, 0};

TEST(ColorMatrix, IdentityIsExactForEveryPremultipliedPixel) {
  const Image all = AllPremultipliedPixels();
  EXPECT_TRUE(SamePixels(gfx::ColorMatrix(all, kIdentityMatrix), all));
}

TEST(ColorMatrix, KnownMatrices) {
  const gfx::ColorMatrixValues grey = {
      0.2126f, 0.7152f, 0.0722f, 0, 0, 0.2126f, 0.7152f, 0.0722f, 0, 0,
      0.2126f, 0.7152f, 0.0722f, 0, 0, 0,       0,       0,       1, 0};
  // 0.2126 * 200 + 0.7152 * 100 + 0.0722 * 50 = 117.65
  const Image opaque = testutil::MakeImage(1, 1, {0xFFC86432});
  EXPECT_EQ(PremultipliedAt(gfx::ColorMatrix(opaque, grey), 0, 0), 0xFF767676u);
  // Half transparent: the matrix sees unpremultiplied colour, the result is
  // premultiplied again: 117.65 * 128 / 255 = 59.06.
  const Image half = testutil::MakeImage(1, 1, {0x80C86432});
  const uint32_t g = PremultipliedAt(gfx::ColorMatrix(half, grey), 0, 0);
  EXPECT_EQ(gfx::AlphaOf(g), 128u);
  for (uint32_t c : {gfx::RedOf(g), gfx::GreenOf(g), gfx::BlueOf(g)}) EXPECT_NEAR(int(c), 59, 1);

  // The fifth column is in units of full intensity: 0.5 is 127.5, rounded to 128.
  gfx::ColorMatrixValues offset = kIdentityMatrix;
  offset[0] = 0;
  offset[4] = 0.5f;
  EXPECT_EQ(PremultipliedAt(gfx::ColorMatrix(opaque, offset), 0, 0), 0xFF806432u);
  // Results clamp to full intensity.
  gfx::ColorMatrixValues doubled = kIdentityMatrix;
  doubled[0] = 2;
  EXPECT_EQ(PremultipliedAt(gfx::ColorMatrix(opaque, doubled), 0, 0), 0xFFFF6432u);
  // A matrix that lifts alpha shows transparent pixels: they read as transparent black.
  gfx::ColorMatrixValues lift = kIdentityMatrix;
  lift[4] = 1;
  lift[18] = 0;
  lift[19] = 1;
  EXPECT_EQ(PremultipliedAt(gfx::ColorMatrix(testutil::SolidImage(2, 1, 0), lift), 1, 0),
            0xFFFF0000u);
}

TEST(ColorMatrix, RejectsNonFiniteValues) {
  gfx::ColorMatrixValues m = kIdentityMatrix;
  m[7] = std::numeric_limits<float>::infinity();
  EXPECT_THROW(gfx::ColorMatrix(NoiseImage(2, 2, 1), m), gfx::Error);
}

// ---------------------------------------------------------------------------------------
// Drop shadow.

TEST(DropShadow, SharpShadowLandsAtTheOffsetInItsColour) {
  std::vector<uint32_t> argb(8 * 6, 0);
  argb[1 * 8 + 1] = 0xFF0000FF;  // opaque blue at (1, 1)
  argb[3 * 8 + 4] = 0x80FFFFFF;  // half white at (4, 3), where the shadow falls
  const Image img = testutil::MakeImage(8, 6, argb);
  const uint32_t tint = gfx::Premultiply(0x80FF0000);  // 128, 128, 0, 0

  const Image only = gfx::DropShadowOnly(img, 3, 2, 0, 0, 0x80FF0000);
  const Image both = gfx::DropShadow(img, 3, 2, 0, 0, 0x80FF0000);
  // The half-white pixel casts a shadow too, at (7, 5), at half the strength.
  const uint32_t faint = gfx::PackArgb(64, 64, 0, 0);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const uint32_t expected = (x == 4 && y == 3) ? tint : (x == 7 && y == 5) ? faint : 0u;
      EXPECT_EQ(PremultipliedAt(only, x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(PremultipliedAt(both, 1, 1), 0xFF0000FFu);
  EXPECT_EQ(PremultipliedAt(both, 7, 5), faint);
  // Half white (premultiplied 128) over the shadow: 128 + 128 * 127 / 255 = 192 for
  // alpha and red, 128 for green and blue.
  EXPECT_EQ(PremultipliedAt(both, 4, 3), gfx::PackArgb(192, 192, 128, 128));
}

TEST(DropShadow, OffsetsCutTheShadowAtTheImageEdge) {
  std::vector<uint32_t> argb(6 * 4, 0);
  argb[1 * 6 + 1] = 0xFF00FF00;
  argb[2 * 6 + 4] = 0xFF00FF00;
  const Image img = testutil::MakeImage(6, 4, argb);
  // Moved up and left by 2: (1, 1) leaves the image, (4, 2) lands on (2, 0).
  const Image moved = gfx::DropShadowOnly(img, -2, -2, 0, 0, 0xFF000000);
  EXPECT_EQ(AlphaMass(moved), 255);
  EXPECT_EQ(PremultipliedAt(moved, 2, 0), 0xFF000000u);
  for (float far : {1000.0f, -1e30f}) {
    EXPECT_EQ(AlphaMass(gfx::DropShadowOnly(img, far, 0, 0, 0, 0xFF000000)), 0) << far;
    EXPECT_TRUE(SamePixels(gfx::DropShadow(img, 0, far, 2, 2, 0xFF000000), img)) << far;
  }
  EXPECT_THROW(gfx::DropShadow(img, std::numeric_limits<float>::quiet_NaN(), 0, 1, 1, 0),
               gfx::Error);
}

TEST(DropShadow, FractionalOffsetSplitsBetweenPixels) {
  std::vector<uint32_t> argb(5 * 3, 0);
  argb[1 * 5 + 1] = 0xFF000000;
  const Image img = testutil::MakeImage(5, 3, argb);
  const Image out = gfx::DropShadowOnly(img, 1.5f, 0, 0, 0, 0xFF000000);
  EXPECT_EQ(PremultipliedAt(out, 2, 1), 0x80000000u);
  EXPECT_EQ(PremultipliedAt(out, 3, 1), 0x80000000u);
  EXPECT_EQ(AlphaMass(out), 256);
}

TEST(DropShadow, BlurredShadowIsTheDecalBlurOfAlpha) {
  // The mask blur (one channel: 64-column strips, 64-row bundles) must agree with the
  // alpha of the four-channel blur; the image holds two full strips and one full bundle,
  // each followed by a partial one.
  const int w = 150, h = 70;
  const Image img = NoiseImage(w, h, 11);
  for (float sigma : {1.5f, 5.0f}) {
    const Image shadow = gfx::DropShadowOnly(img, 0, 0, sigma, sigma * 0.5f, 0xFF000000);
    const Image blur = gfx::GaussianBlur(img, sigma, sigma * 0.5f, TileMode::Decal);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(PremultipliedAt(shadow, x, y), PremultipliedAt(blur, x, y) & 0xFF000000u)
            << sigma << " at " << x << "," << y;
  }
}

TEST(DropShadow, BlurredShadowIsCentredOnTheOffset) {
  const Image block = BlockImage(41, 41, 14, 16);
  const Image out = gfx::DropShadow(block, 6, 4, 3, 3, 0xFF000000);
  const int cx = 20, cy = 20;
  for (int j = 1; j <= 12; ++j)
    for (int i = 0; i <= 12; ++i) {
      if (std::abs(cx + i - 14) <= 1 || std::abs(cx - i - 14) <= 1) continue;  // the block
      ASSERT_EQ(PremultipliedAt(out, cx + i, cy + j), PremultipliedAt(out, cx - i, cy - j))
          << i << "," << j;
    }
  EXPECT_EQ(PremultipliedAt(out, 14, 16), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------------------
// Threads.

TEST(Filters, ResultsDoNotDependOnTheThreadCount) {
  QThreadPool* pool = QThreadPool::globalInstance();
  const int saved = pool->maxThreadCount();
  const Image img = NoiseImage(203, 157, 12);
  const gfx::ColorMatrixValues m = {0.9f, 0.1f, 0,    0, 0.02f, 0, 1.1f, 0, 0,    -0.01f,
                                    0.2f, 0.2f, 0.6f, 0, 0,     0, 0,    0, 0.8f, 0.1f};
  auto runAll = [&] {
    return std::vector<Image>{
        gfx::GaussianBlur(img, 1.5f, 1.5f),
        gfx::GaussianBlur(img, 6, 3, TileMode::Decal),
        gfx::GaussianBlur(img, 250, 250),
        gfx::MatrixConvolution(img, {3, 3}, Sharpen(0.4f), 1, 0, {1, 1}, TileMode::Clamp, true),
        gfx::MatrixConvolution(img, {3, 3}, Sharpen(0.4f), 1, 0, {1, 1}, TileMode::Clamp, false),
        gfx::ColorMatrix(img, m),
        gfx::DropShadow(img, 2.5f, -3, 4, 4, 0xBF000000),
    };
  };
  pool->setMaxThreadCount(1);
  const std::vector<Image> single = runAll();
  pool->setMaxThreadCount(4);
  const std::vector<Image> several = runAll();
  pool->setMaxThreadCount(saved);
  for (size_t i = 0; i < single.size(); ++i)
    EXPECT_TRUE(SamePixels(single[i], several[i])) << "filter " << i;
}

}  // namespace
