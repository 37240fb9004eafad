#include "effects/sketch/comic_print.h"

#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

using namespace quillora;
using testutil::MakeImage;
using testutil::PixelAt;
using testutil::SolidImage;

namespace {

Image Print(const Image& source, int P1, int P2, int P3, int P4, int P5, bool preview = false) {
  Surface dest(source.width(), source.height());
  ComicPrintHalftone(source, dest, P1, P2, P3, P4, P5, preview);
  return dest.snapshot();
}

Image SamplePatch() { return TForm3::Instance().DefaultImage().subset(QRect(400, 520, 72, 60)); }

bool IsGrey(uint32_t p) {
  return gfx::RedOf(p) == gfx::GreenOf(p) && gfx::GreenOf(p) == gfx::BlueOf(p);
}

// Left half dark red, right half light blue: one long, strong vertical edge at x = W / 2.
Image StepEdge(int W, int H) {
  std::vector<uint32_t> px(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) px[size_t(y) * W + x] = x < W / 2 ? 0xFF601010u : 0xFFB0D0F0u;
  return MakeImage(W, H, px);
}

// The contour ink computed the slow, obvious way, straight from the recipe: every box
// mean summed pixel by pixel, the hysteresis as a breadth-first search.
std::vector<uint8_t> ReferenceContourInk(const Image& blurred, int P5, int C) {
  const int W = blurred.width(), H = blurred.height();
  auto idx = [W](int x, int y) { return size_t(y) * W + x; };
  std::vector<int> L(size_t(W) * H), gx(L.size(), 0), gy(L.size(), 0), G(L.size(), 0),
      S(L.size(), 0), label(L.size(), 0);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = blurred.row(y)[x], a = gfx::AlphaOf(p);
      if (a == 0) {
        L[idx(x, y)] = 0;
      } else if (a == 255) {
        L[idx(x, y)] =
            int(299 * gfx::RedOf(p) + 587 * gfx::GreenOf(p) + 114 * gfx::BlueOf(p)) / 1000;
      } else {
        auto un = [a](uint32_t c) {
          return std::min(std::max(float(c) * 255.0f / float(a), 0.0f), 255.0f);
        };
        L[idx(x, y)] = RoundEven(0.299f * un(gfx::RedOf(p)) + 0.587f * un(gfx::GreenOf(p)) +
                                 0.114f * un(gfx::BlueOf(p)));
      }
    }
  auto l = [&](int x, int y) { return L[idx(x, y)]; };
  for (int y = 1; y <= H - 2; ++y)
    for (int x = 1; x <= W - 2; ++x) {
      const int a = (l(x + 1, y - 1) + 2 * l(x + 1, y) + l(x + 1, y + 1)) -
                    (l(x - 1, y - 1) + 2 * l(x - 1, y) + l(x - 1, y + 1));
      const int b = (l(x - 1, y + 1) + 2 * l(x, y + 1) + l(x + 1, y + 1)) -
                    (l(x - 1, y - 1) + 2 * l(x, y - 1) + l(x + 1, y - 1));
      gx[idx(x, y)] = a;
      gy[idx(x, y)] = b;
      G[idx(x, y)] = std::abs(a) + std::abs(b);
    }
  const int hi = P5 > 50 ? std::max(RoundEven(200 - (P5 - 50) * 3.6), 20) : 800 - P5 * 12;
  const int lo = hi * 3 / 10;
  for (int y = 1; y <= H - 2; ++y)
    for (int x = 1; x <= W - 2; ++x) {
      const int g = G[idx(x, y)], a = gx[idx(x, y)], b = gy[idx(x, y)];
      if (g < lo) continue;
      int n1, n2;
      if (a == 0 || (b != 0 && std::abs(b) * 1000 / std::abs(a) >= 2415)) {
        n1 = G[idx(x, y - 1)], n2 = G[idx(x, y + 1)];
      } else if (b == 0 || std::abs(b) * 1000 / std::abs(a) <= 413) {
        n1 = G[idx(x - 1, y)], n2 = G[idx(x + 1, y)];
      } else if (a * b > 0) {
        n1 = G[idx(x - 1, y - 1)], n2 = G[idx(x + 1, y + 1)];
      } else {
        n1 = G[idx(x + 1, y - 1)], n2 = G[idx(x - 1, y + 1)];
      }
      if (g >= n1 && g >= n2) S[idx(x, y)] = g;
    }
  const int R = std::max(C, 6);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int s = S[idx(x, y)];
      if (s == 0) continue;
      int64_t sum = 0, area = 0;
      for (int yy = std::max(y - R, 0); yy <= std::min(y + R, H - 1); ++yy)
        for (int xx = std::max(x - R, 0); xx <= std::min(x + R, W - 1); ++xx, ++area)
          sum += G[idx(xx, yy)];
      const int64_t mean = sum / area;
      // kHi = 3.5 - P5 * 0.02 and kLo = kHi / 2, as exact fractions.
      if (s >= hi && s >= RoundRatio(mean * (175 - P5), 50))
        label[idx(x, y)] = 2;
      else if (s >= lo && s >= RoundRatio(mean * (175 - P5), 100))
        label[idx(x, y)] = 1;
    }
  const size_t minLen = size_t(std::max(RoundEven(C * 0.6), 5));
  std::vector<bool> seen(L.size(), false);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (label[idx(x, y)] != 2 || seen[idx(x, y)]) continue;
      std::vector<size_t> comp;
      std::deque<std::pair<int, int>> queue{{x, y}};
      seen[idx(x, y)] = true;
      while (!queue.empty()) {
        const auto [cx, cy] = queue.front();
        queue.pop_front();
        comp.push_back(idx(cx, cy));
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = cx + dx, ny = cy + dy;
            if (nx < 0 || ny < 0 || nx >= W || ny >= H || seen[idx(nx, ny)]) continue;
            if (label[idx(nx, ny)] == 1 || label[idx(nx, ny)] == 2) {
              seen[idx(nx, ny)] = true;
              queue.push_back({nx, ny});
            }
          }
      }
      for (size_t j : comp) label[j] = comp.size() < minLen ? 0 : 3;
    }
  const int t = P5 > 25 ? std::min(int(RoundRatio(int64_t(P5 - 20) * C, 180)), 12) : 0;
  const int tMax = t + std::max(t / 2, 1);
  std::vector<uint8_t> ink(L.size(), 0);
  auto put = [&](int x, int y, int v) {
    if (x >= 0 && y >= 0 && x < W && y < H)
      ink[idx(x, y)] = uint8_t(std::max<int>(ink[idx(x, y)], v));
  };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (label[idx(x, y)] != 3) continue;
      const int Sv = S[idx(x, y)];
      const int s = std::min(P5 / 5 + Sv * 150 / std::max(hi, 1) + 30, 255);
      int rho = t;
      if (t > 0 && Sv > 0) {
        int64_t dev = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
            dev += std::abs(gx[idx(nx, ny)] - gx[idx(x, y)]) +
                   std::abs(gy[idx(nx, ny)] - gy[idx(x, y)]);
          }
        const int64_t D = std::max<int64_t>(int64_t(Sv) * 9, 1);
        // 0.35 < dev / D < 1.5, and Round((dev / D - 0.35) * t * 1.5) exactly.
        if (dev * 100 > D * 35 && dev * 10 < D * 15)
          rho = std::min(t + int(RoundRatio((dev * 100 - D * 35) * t * 15, D * 1000)), tMax);
      }
      if (rho > 0) {
        for (int dy = -(rho + 1); dy <= rho + 1; ++dy)
          for (int dx = -(rho + 1); dx <= rho + 1; ++dx) {
            const double d = std::sqrt(double(dx * dx + dy * dy));
            if (d <= rho + 1) put(x + dx, y + dy, RoundEven(s * std::clamp(rho + 1 - d, 0.0, 1.0)));
          }
      } else {
        put(x, y, s);
        for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
          put(x + dx, y + dy, int(RoundRatio(s * 65, 100)));
        for (auto [dx, dy] : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {1, 1}})
          put(x + dx, y + dy, int(RoundRatio(s * 3, 10)));
      }
    }
  return ink;
}

}  // namespace

TEST(ComicPrint, ContourInkMatchesTheDirectComputation) {
  // Hard black shapes on white at the left, which even the highest thresholds see, and
  // a piece of the photo at the right; then a partly transparent copy of all of it, so
  // the unpremultiplied luminance is exercised too.
  const Image photo = TForm3::Instance().DefaultImage().subset(QRect(380, 480, 50, 70));
  const int W = 100, H = 70;
  std::vector<uint32_t> px(size_t(W) * H), faded(px.size());
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool disc = (x - 22) * (x - 22) + (y - 24) * (y - 24) < 15 * 15;
      const bool bar = std::abs((x - 10) - (y - 45)) < 4 && y > 40;
      uint32_t& p = px[size_t(y) * W + x];
      p = x >= 50 ? PixelAt(photo, x - 50, y) : (disc || bar ? 0xFF000000u : 0xFFFFFFFFu);
      faded[size_t(y) * W + x] = (p & 0x00FFFFFFu) | (uint32_t(40 + (x * 5) % 216) << 24);
    }
  const Image sources[2] = {MakeImage(W, H, px), MakeImage(W, H, faded)};
  struct Case {
    int P5, C;
  };
  for (int n = 0; n < 2; ++n)
    for (const Case c : {Case{1, 4}, Case{25, 8}, Case{26, 40}, Case{50, 8}, Case{60, 8},
                         Case{51, 13}, Case{100, 4}, Case{100, 40}}) {
      SCOPED_TRACE(testing::Message() << "P5=" << c.P5 << " C=" << c.C);
      const float sigma = c.P5 / 100.0f + 1.0f;
      const Image blurred = gfx::GaussianBlur(sources[n], sigma, sigma);
      const std::vector<uint8_t> want = ReferenceContourInk(blurred, c.P5, c.C);
      EXPECT_EQ(ComicContourInk(blurred, c.P5, c.C), want);
      if (n == 0) {
        EXPECT_GT(*std::max_element(want.begin(), want.end()), 0);
      }
    }
}

TEST(ComicPrint, ShortContoursAreDroppedWithBigCells) {
  // A small dark square: its outline is a short closed line. With small cells (C = 4,
  // at least 5 pixels) it is drawn; with big cells (C = 40, at least 24) it is a speck.
  std::vector<uint32_t> px(30 * 30, 0xFFFFFFFFu);
  for (int y = 13; y < 16; ++y)
    for (int x = 13; x < 16; ++x) px[size_t(y) * 30 + x] = 0xFF000000u;
  const Image blurred = gfx::GaussianBlur(MakeImage(30, 30, px), 1.6f, 1.6f);
  auto inked = [](const std::vector<uint8_t>& ink) {
    return std::count_if(ink.begin(), ink.end(), [](uint8_t m) { return m > 0; });
  };
  EXPECT_GT(inked(ComicContourInk(blurred, 60, 4)), 0);
  EXPECT_EQ(inked(ComicContourInk(blurred, 60, 40)), 0);
}

TEST(ComicPrint, LowColourIntensityPrintsOnlyTheBlackScreen) {
  const Image patch = SamplePatch();
  for (int P5 : {0, 60}) {
    const Image black = Print(patch, 10, 0, 100, 4, P5);
    bool inked = false;
    for (int y = 0; y < black.height(); ++y)
      for (int x = 0; x < black.width(); ++x) {
        ASSERT_TRUE(IsGrey(black.row(y)[x])) << x << "," << y;
        inked |= gfx::RedOf(black.row(y)[x]) < 128;
      }
    EXPECT_TRUE(inked);
  }
  // From 5 on the colour screens print as well.
  const Image colour = Print(patch, 10, 0, 100, 5, 0);
  int coloured = 0;
  for (int y = 0; y < colour.height(); ++y)
    for (int x = 0; x < colour.width(); ++x) coloured += IsGrey(colour.row(y)[x]) ? 0 : 1;
  EXPECT_GT(coloured, colour.width() * colour.height() / 4);
}

TEST(ComicPrint, DotSizesAtTheLimits) {
  const Image patch = SamplePatch();
  const Image white = SolidImage(40, 30, 0xFFFFFFFF);
  auto allWhite = [](const Image& img) {
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.row(y)[x] != 0xFFFFFFFFu) return false;
    return true;
  };
  // Zero dot sizes print nothing: blank paper, and with contours only grey pen lines.
  EXPECT_TRUE(allWhite(Print(patch, 10, 0, 0, 50, 0)));
  const Image contours = Print(StepEdge(40, 30), 10, 0, 0, 50, 60);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t p = contours.row(y)[x];
      ASSERT_TRUE(IsGrey(p)) << x << "," << y;
      if (std::abs(x - 20) > 6) {
        ASSERT_EQ(p, 0xFFFFFFFFu) << x << "," << y;
      }
    }
  for (int y = 5; y < 25; ++y) EXPECT_LT(gfx::RedOf(contours.row(y)[20]), 100u) << y;
  // Paper stays white where the photo is white, unless a minimum dot size is set: then
  // every cell prints.
  EXPECT_TRUE(allWhite(Print(white, 10, 0, 100, 50, 0)));
  EXPECT_FALSE(allWhite(Print(white, 10, 30, 100, 50, 0)));
  // A minimum above the maximum is held at it, and then every dot has the full size
  // whatever the tone: the black screen of the photo is the black screen of white paper.
  EXPECT_EQ(testutil::MaxChannelDifference(Print(white, 10, 80, 50, 50, 0),
                                           Print(white, 10, 50, 50, 50, 0)),
            0);
  const Image blank = SolidImage(patch.width(), patch.height(), 0xFFFFFFFF);
  EXPECT_EQ(testutil::MaxChannelDifference(Print(patch, 10, 70, 70, 0, 0),
                                           Print(blank, 10, 70, 70, 0, 0)),
            0);
}

TEST(ComicPrint, ScreensRunOffEveryBorder) {
  // A flat grey printed in black only: cells centred up to one cell outside the picture
  // print too, so a strip along any border is as dark as the picture on the whole,
  // whichever way the black screen is turned.
  const int W = 160, H = 120;
  for (int P1 : {10, 50}) {
    SCOPED_TRACE(P1);
    const int C = int(RoundRatio(P1 * 36, 100)) + 4, d = C / 2;
    const Image out = Print(SolidImage(W, H, 0xFF606060), P1, 0, 100, 0, 0);
    auto darkness = [&](int x0, int y0, int x1, int y1) {
      double sum = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += 255 - int(gfx::RedOf(out.row(y)[x]));
      return sum / ((x1 - x0) * (y1 - y0));
    };
    const double whole = darkness(0, 0, W, H);
    EXPECT_GT(whole, 60);
    for (const QRect strip :
         {QRect(0, 0, W, d), QRect(0, H - d, W, d), QRect(0, 0, d, H), QRect(W - d, 0, d, H)})
      EXPECT_NEAR(darkness(strip.left(), strip.top(), strip.right() + 1, strip.bottom() + 1), whole,
                  whole * 0.15)
          << strip.x() << "," << strip.y();
  }
}

TEST(ComicPrint, KeepsTheSourceOpacity) {
  std::vector<uint32_t> px(size_t(30) * 24);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 30; ++x)
      px[size_t(y) * 30 + x] =
          gfx::PackArgb(x < 10 ? 0u : (x < 20 ? 120u : 255u), 200, uint32_t(y * 10), 40);
  const Image source = MakeImage(30, 24, px);
  const Image out = Print(source, 0, 0, 100, 50, 100);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 30; ++x) {
      const uint32_t p = out.row(y)[x], a = gfx::AlphaOf(source.row(y)[x]);
      if (a == 0) {
        ASSERT_EQ(p, 0u) << x << "," << y;
        continue;
      }
      ASSERT_EQ(gfx::AlphaOf(p), a) << x << "," << y;
      ASSERT_LE(std::max({gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p)}), a) << x << "," << y;
    }
}

TEST(ComicPrint, SamePrintOnAnyNumberOfThreadsAndInPreview) {
  const Image patch = SamplePatch();
  const Image full = Print(patch, 10, 0, 100, 50, 60);
  testutil::ExpectMatchesGolden(full, QStringLiteral("comic_print"));
  EXPECT_EQ(testutil::MaxChannelDifference(Print(patch, 10, 0, 100, 50, 60, true), full), 0);
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  const Image single = Print(patch, 10, 0, 100, 50, 60);
  pool->setMaxThreadCount(std::max(threads, 4));
  const Image many = Print(patch, 10, 0, 100, 50, 60);
  pool->setMaxThreadCount(threads);
  EXPECT_EQ(testutil::MaxChannelDifference(single, full), 0);
  EXPECT_EQ(testutil::MaxChannelDifference(many, full), 0);
}

TEST(ComicPrint, ScriptValuesOutsideTheSlidersAreHeldToThem) {
  // A script passes its numbers unchecked: a cell size of zero or less, or a dot many
  // times the picture, must neither hang nor crash the print.
  const Image patch = SamplePatch();
  EXPECT_EQ(testutil::MaxChannelDifference(Print(patch, -50, -5, 100000, 50, -1),
                                           Print(patch, 0, 0, 100, 50, 0)),
            0);
  EXPECT_EQ(testutil::MaxChannelDifference(Print(patch, 250, 0, 100, 900, 400),
                                           Print(patch, 100, 0, 100, 100, 100)),
            0);
}
