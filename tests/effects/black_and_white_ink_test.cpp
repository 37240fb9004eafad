#include "effects/sketch/black_and_white_ink.h"
#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace quillora;

namespace {

Image Ink(const Image& source, int P1, int P2, int P3, int P4, bool preview) {
  Surface dest(source.width(), source.height());
  blackandwhiteInk(source, dest, P1, P2, P3, P4, 0, preview);
  return dest.snapshot();
}

// The drawing computed the slow, obvious way: every window summed directly (81, 25
// and 49 samples per pixel) with clamped coordinates.
Image ReferenceInk(const Image& source, int P1, int P2, int P3, int P4, bool preview) {
  const int W = source.width(), H = source.height();
  const int O = 192 - int(RoundRatio(int64_t(P1) * 255, 100));
  const int edgeLimit = 5 * int(RoundRatio(int64_t(P2) * 255, 100)) - 75;
  const int N = int(RoundRatio(int64_t(P3) * 255, 100));
  auto cx = [&](int x) { return std::clamp(x, 0, W - 1); };
  auto cy = [&](int y) { return std::clamp(y, 0, H - 1); };
  auto lum = [&](int x, int y) {
    const uint32_t p = gfx::Unpremultiply(source.row(cy(y))[cx(x)]);
    if (gfx::AlphaOf(p) < 10) return 255;
    return int((299 * gfx::RedOf(p) + 587 * gfx::GreenOf(p) + 114 * gfx::BlueOf(p)) / 1000);
  };
  std::vector<int> S(size_t(W) * H);
  auto s = [&](int x, int y) { return S[size_t(cy(y)) * W + cx(x)]; };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) sum += lum(x + dx, y + dy);
      S[size_t(y) * W + x] = sum / 9;
    }
  const int step50 = std::max(H / 50, 1);
  int64_t total = 0, count = 0;
  for (int i = 0; i <= std::min(49, H - 1); ++i)
    for (int x = 0; x < W; ++x, ++count) total += s(x, std::min(H - 1, i * step50));
  const int G = int(total / count) + 2 * (P4 - 50);

  std::vector<int> work(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum9 = 0, sum5 = 0;
      for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) {
          sum9 += s(x + dx, y + dy);
          if (std::abs(dx) <= 2 && std::abs(dy) <= 2) sum5 += s(x + dx, y + dy);
        }
      const int t = ((sum9 - s(x, y)) / 20 + G + O) / 6;
      int v = s(x, y) > t ? 255 : 0;
      if (3 * (31 * s(x, y) - 4 * s(x, y + 2) - sum5) < edgeLimit) v = 0;
      work[size_t(y) * W + x] = v;
    }
  if (P3 > 0) {
    std::vector<int> prev = work;
    for (int k = 1; k <= (preview ? 3 : 15); ++k) {
      int changed = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          int ws = 0;
          for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
              ws += (7 - std::abs(dx) - std::abs(dy)) * prev[size_t(cy(y + dy)) * W + cx(x + dx)];
          int& out = work[size_t(y) * W + x];
          const bool white = prev[size_t(y) * W + x] > 128;
          if (white && ws <= 160 * N) {
            out = 0;
            ++changed;
          } else if (!white && ws >= 160 * (255 - N)) {
            out = 255;
            ++changed;
          }
        }
      if (changed < 11) break;
      prev = work;
    }
    if (!preview)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          int dark = 0;
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
              dark += work[size_t(cy(y + dy)) * W + cx(x + dx)] < 128;
          work[size_t(y) * W + x] = dark >= 5 ? 0 : 255;
        }
  }
  std::vector<uint32_t> out(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      out[size_t(y) * W + x] = gfx::AlphaOf(source.row(y)[x]) > 9
                                   ? (work[size_t(y) * W + x] ? 0xFFFFFFFFu : 0xFF000000u)
                                   : 0u;
  return Image::FromPixels(out.data(), W, H, qsizetype(W) * 4, gfx::AlphaType::Premultiplied);
}

// A patch of the sample photo with a transparent corner, a nearly transparent strip
// and a half-transparent band, so that every alpha rule is exercised.
Image Fixture(int w = 64, int h = 48) {
  const Image photo = TForm3::Instance().DefaultImage();
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = gfx::Unpremultiply(photo.row(330 + y)[300 + x]);
      if (x < 6 && y < 6)
        p &= 0x00FFFFFFu;
      else if (y == h - 3)
        p = (p & 0x00FFFFFFu) | 0x09000000u;
      else if (x >= w - 8)
        p = (p & 0x00FFFFFFu) | 0x80000000u;
      px[size_t(y) * w + x] = p;
    }
  return testutil::MakeImage(w, h, px);
}

}  // namespace

TEST(BlackAndWhiteInk, MatchesTheDirectComputation) {
  struct Case {
    int P1, P2, P3, P4;
  };
  // The defaults, the clean-up at full strength (N = 255: in the first round every black
  // pixel turns white), and settings that push the thresholds and the bias both ways.
  const Case cases[] = {{50, 50, 0, 0},    {50, 50, 100, 0}, {20, 80, 40, 50},
                        {90, 10, 70, 100}, {0, 0, 10, 0},    {100, 100, 55, 100}};
  const Image sources[] = {Fixture(), Fixture(7, 61), Fixture(9, 9),
                           testutil::MakeImage(3, 1, {0xFF102030, 0xFFF0E0D0, 0xFF808080})};
  for (const Image& source : sources)
    for (const Case& c : cases)
      for (bool preview : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << source.width() << "x" << source.height() << " P=" << c.P1 << "," << c.P2
                     << "," << c.P3 << "," << c.P4 << (preview ? " preview" : ""));
        const Image got = Ink(source, c.P1, c.P2, c.P3, c.P4, preview);
        const Image want = ReferenceInk(source, c.P1, c.P2, c.P3, c.P4, preview);
        ASSERT_EQ(testutil::MaxChannelDifference(got, want), 0);
      }
}

TEST(BlackAndWhiteInk, OnlyBlackAndWhiteInkAndTransparencyKept) {
  const Image source = Fixture();
  for (int P3 : {0, 25}) {
    const Image out = Ink(source, 50, 50, P3, 0, false);
    int black = 0, white = 0;
    for (int y = 0; y < out.height(); ++y)
      for (int x = 0; x < out.width(); ++x) {
        const uint32_t p = out.row(y)[x];
        if (gfx::AlphaOf(source.row(y)[x]) <= 9) {
          ASSERT_EQ(p, 0u) << x << "," << y;  // all four bytes, as premultiplied requires
          continue;
        }
        ASSERT_TRUE(p == 0xFF000000u || p == 0xFFFFFFFFu) << std::hex << p;
        (p == 0xFF000000u ? black : white)++;
      }
    EXPECT_GT(black, 50);
    EXPECT_GT(white, 50);
  }
}

TEST(BlackAndWhiteInk, CleanUpOnlyWhenAskedAndShorterInPreview) {
  const Image source = Fixture();
  // Without simplification preview and full render run the same passes.
  EXPECT_EQ(testutil::MaxChannelDifference(Ink(source, 50, 50, 0, 0, false),
                                           Ink(source, 50, 50, 0, 0, true)),
            0);
  // With it the preview stops after three rounds and skips the majority pass.
  EXPECT_GT(testutil::MaxChannelDifference(Ink(source, 50, 50, 30, 0, false),
                                           Ink(source, 50, 50, 30, 0, true)),
            0);
}

TEST(BlackAndWhiteInk, FadingIntoTransparencyIsPaperNotInk) {
  // A light colour at every opacity above the cut-off is drawn as white paper.
  std::vector<uint32_t> px;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 24; ++x) px.push_back(uint32_t(10 + x * 10) << 24 | 0xF4ECE4u);
  const Image out = Ink(testutil::MakeImage(24, 12, px), 50, 50, 0, 50, false);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 24; ++x) ASSERT_EQ(out.row(y)[x], 0xFFFFFFFFu) << x << "," << y;
}

TEST(BlackAndWhiteInk, EmptySourceDrawsNothing) {
  Surface dest(1, 1);
  blackandwhiteInk(Image(), dest, 50, 50, 0, 0, 0, false);
  EXPECT_EQ(dest.snapshot().row(0)[0], 0u);
}

TEST(BlackAndWhiteInk, Golden) {
  testutil::ExpectMatchesGolden(Ink(Fixture(), 50, 50, 20, 0, false),
                                QStringLiteral("black_and_white_ink"));
}
