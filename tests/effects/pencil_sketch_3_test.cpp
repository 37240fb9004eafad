#include "effects/sketch/pencil_sketch_3.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::RedOf;

namespace {

constexpr int kDefaults[5] = {20, 80, 30, 25, 0};

Image Draw(const Image& source, const int (&P)[5], bool preview, uint32_t seed) {
  Surface dest(source.width(), source.height());
  SetRandomSeed(seed);
  DynamicPencil(source, dest, P[0], P[1], P[2], P[3], P[4], preview);
  return dest.snapshot();
}

Image Patch(int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(430, 560, w, h));
}

std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

// ---- the drawing as written out step by step -----------------------------------------

// An exact fraction, for the colour tint's real-number arithmetic.
struct Q {
  int64_t n, d;
  Q(int64_t num, int64_t den = 1) : n(num), d(den) {}
  Q operator+(Q o) const { return {n * o.d + o.n * d, d * o.d}; }
  Q operator-(Q o) const { return {n * o.d - o.n * d, d * o.d}; }
  Q operator*(Q o) const { return {n * o.n, d * o.d}; }
  bool operator<(Q o) const { return n * o.d < o.n * d; }
};
int Round(Q q) { return int(RoundRatio(q.n, q.d)); }

std::vector<uint32_t> ReferenceDrawing(const Image& source, const int (&P)[5]) {
  const int W = source.width(), H = source.height();
  const int I = Round(Q(P[0] * 255, 100)), SL = Round(Q(P[1] * 255, 100));
  const int BL = Round(Q(P[2] * 255, 100)), CT = Round(Q(P[3] * 255, 100));
  const int CI = Round(Q(P[4] * 255, 100));
  auto at = [W](int x, int y) { return size_t(y) * W + x; };

  // Photo channels [pixel][channel] as composited over white.
  std::vector<std::array<int, 3>> photo(size_t(W) * H);
  std::vector<int> alpha(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint32_t p = testutil::PixelAt(source, x, y);
      const int a = int(AlphaOf(p));
      alpha[at(x, y)] = a;
      const int c[3] = {int(RedOf(p)), int(GreenOf(p)), int(BlueOf(p))};
      for (int k = 0; k < 3; ++k)
        photo[at(x, y)][k] = a > 9 ? Round(Q(c[k]) * Q(a, 255) + (Q(1) - Q(a, 255)) * Q(255)) : 255;
    }
  std::vector<std::array<int, 3>> drawing(size_t(W) * H, {255, 255, 255});

  if (CT > 0) {
    int64_t total[3] = {0, 0, 0};
    for (const auto& p : photo)
      for (int k = 0; k < 3; ++k) total[k] += p[k];
    const int PW = W + 18;
    std::vector<std::array<int, 3>> padded(size_t(PW) * (H + 18));
    for (int y = 0; y < H + 18; ++y)
      for (int x = 0; x < PW; ++x)
        padded[size_t(y) * PW + x] =
            photo[at(std::clamp(x - 9, 0, W - 1), std::clamp(y - 9, 0, H - 1))];
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        for (int k = 0; k < 3; ++k) {
          int S = 0;
          for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx) S += padded[size_t(y + 9 + dy) * PW + x + 9 + dx][k];
          const int c = padded[size_t(y + 9) * PW + x + 9][k];
          const int local = (S - c) / 80;
          const int target = (2 * local + int(total[k] / (int64_t(W) * H))) / 3;
          photo[at(x, y)][k] = std::clamp(c + Round(Q(c - target) * Q(CT, 100)), 0, 255);
        }
  }
  auto sum = [&](int x, int y) {
    return photo[at(x, y)][0] + photo[at(x, y)][1] + photo[at(x, y)][2];
  };

  const int Sn = Round(Q(100 * I + 1000) * Q(std::min(7000, W), 200) * Q(std::min(7000, H), 200));
  for (int k = 0; k <= Sn; ++k) {
    int x0 = 0, y0 = 0, x = 0, y = 0;
    bool found = false;
    for (int tries = 0; tries < dynamic_pencil::kStartTries && !found; ++tries) {
      x0 = Random(W);
      y0 = Random(H);
      x = std::clamp(x0, 1, W - 2);
      y = std::clamp(y0, 1, H - 2);
      const int e = Random(255);
      found = e > sum(x, y) / 3;
    }
    if (!found) break;
    int gx = -1 << 30, gy = -1 << 30;
    for (int c = 0; c < 3; ++c) {
      auto v = [&](int dx, int dy) { return photo[at(x + dx, y + dy)][c]; };
      gy = std::max(gy, (3 * v(-1, -1) + 10 * v(0, -1) + 3 * v(1, -1)) -
                            (3 * v(-1, 1) + 10 * v(0, 1) + 3 * v(1, 1)));
      gx = std::max(gx, (3 * v(-1, -1) + 10 * v(-1, 0) + 3 * v(-1, 1)) -
                            (3 * v(1, -1) + 10 * v(1, 0) + 3 * v(1, 1)));
    }
    const int n = std::abs(gx) + std::abs(gy);
    double m;
    if (n > BL + 1) {
      m = std::atan2(double(gy), double(gx)) + 1.5707;
    } else {
      const int r = Random(100);
      if (r >= 27)
        m = Random(100) > 50 ? -0.4 : 2.74159;
      else
        m = Random(100) > 50 ? 0.6707 : 3.81229;
    }
    double R = double((768 - sum(x, y)) >> 6);
    double px = x0, py = y0;
    for (int s = 0; s < 5000; ++s) {
      auto& d = drawing[at(x, y)];
      int z = (d[0] + d[1] + d[2] - sum(x, y)) / ((255 - SL) / 8 + 8);
      if (z < -4) {
        const int g = std::min(Round(Q(11, 10) * Q(photo[at(x, y)][0])), 255);
        d = {g, g, g};
      } else {
        z = std::max(z, 0);
        const int g = (d[0] * (255 - z)) >> 8;
        d = {g, g, g};
      }
      double delta = 0;
      if (Random(100) >= 25) {
        int best = 768;
        for (int j = 0; j < 16; ++j) {
          const double dj = -1.2 + j * 0.17142857142857143;
          const int ix = int(std::nearbyint(px + std::cos(m + dj)));
          const int iy = int(std::nearbyint(py + std::sin(m + dj)));
          if (ix < 1 || iy < 1 || ix > W - 2 || iy > H - 2) continue;
          if (sum(ix, iy) - best < BL / 3) {
            best = sum(ix, iy);
            delta = dj;
          }
        }
        if (n < BL + 1) delta = RandomFloat() * 0.3 - 0.15;
      }
      px += std::cos(m + delta);
      py += std::sin(m + delta);
      x = int(std::nearbyint(px));
      y = int(std::nearbyint(py));
      R = R * (SL / 1500.0 + 0.7);
      if (R < 0.01) break;
      if (x < 1) x = 1, px = 1;
      if (y < 1) y = 1, py = 1;
      if (x >= W - 1) x = W - 2, px = W - 2;
      if (y >= H - 1) y = H - 2, py = H - 2;
    }
  }

  std::vector<uint32_t> out(size_t(W) * H);
  for (size_t i = 0; i < out.size(); ++i) {
    const int d = drawing[i][0];
    int c[3] = {d, d, d};
    if (CI > 0 && d < 201) {
      const auto& p = photo[i];
      const int chroma = std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
      const int lum = (59 * p[1] + 30 * p[0] + 11 * p[2]) / 100;
      int tinted[3] = {d, d, d};
      if (chroma >= 10 && lum >= 5) {
        Q ratio(d, lum);
        if (ratio < Q(7, 10)) ratio = ratio * Q(7, 10) + Q(21, 100);
        const Q k = Q(chroma, 50) < Q(1) ? Q(chroma, 50) : Q(1);
        for (int j = 0; j < 3; ++j) {
          const int tint = std::clamp(Round(Q(p[j]) * ratio), 0, 255);
          tinted[j] = Round(Q(d) * (Q(1) - k) + Q(tint) * k);
        }
      }
      const Q u(CI, 255);
      for (int j = 0; j < 3; ++j) c[j] = Round(Q(d) * (Q(1) - u) + Q(tinted[j]) * u);
    }
    out[i] = gfx::Premultiply(gfx::PackArgb(uint32_t(alpha[i]), c[0], c[1], c[2]));
  }
  return out;
}

// The patch with a transparent corner and translucent pixels.
Image PatchWithTransparency() {
  const Image patch = Patch(40, 30);
  std::vector<uint32_t> px;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t p = testutil::PixelAt(patch, x, y);
      const uint32_t a = x + y < 12 ? 0 : x + y < 20 ? 5 : x + y < 30 ? 140 : 255;
      px.push_back(a << 24 | (p & 0xFFFFFF));
    }
  return testutil::MakeImage(40, 30, px);
}

}  // namespace

TEST(PencilSketch3, StrokeCountGrowsWithTheAreaUpTo7000PixelsASide) {
  struct Case {
    int w, h, P1, strokes;
  };
  const Case cases[] = {
      {200, 200, 20, 6100},            // I = 51
      {2000, 1000, 20, 305000},        // 6100 x 10 x 5
      {7000, 7000, 20, 6100 * 1225},   // both factors at 35
      {9000, 100, 20, 6100 * 35 / 2},  // the long side capped
      {33, 20, 20, 101},               // 100.65
      {200, 200, 0, 1000},
      {200, 200, 50, 13800},  // 127.5 rounds to 128
      {1, 1, 100, 1},         // 26500 / 40000 = 0.6625
      {1, 1, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(dynamic_pencil::StrokeCount(c.w, c.h, c.P1), c.strokes) << c.w << "x" << c.h;
}

TEST(PencilSketch3, MatchesTheStepByStepDrawing) {
  struct Case {
    const char* name;
    int P[5];
    bool transparency;
  };
  const Case cases[] = {
      {"defaults", {20, 80, 30, 25, 0}, false},
      {"no contrast pass, full colour", {20, 80, 30, 0, 100}, false},
      {"sliders at zero", {0, 0, 0, 0, 0}, false},
      {"sliders at full", {100, 100, 100, 100, 100}, false},
      {"tinted", {40, 50, 10, 60, 70}, false},
      {"transparency", {20, 80, 30, 25, 50}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Image source = c.transparency ? PatchWithTransparency() : Patch(40, 30);
    SetRandomSeed(77);
    const std::vector<uint32_t> expected = ReferenceDrawing(source, c.P);
    const std::vector<uint32_t> actual = Words(Draw(source, c.P, false, 77));
    ASSERT_EQ(actual.size(), expected.size());
    int differing = 0;
    for (size_t i = 0; i < actual.size(); ++i) differing += actual[i] != expected[i];
    EXPECT_EQ(differing, 0);
    int drawn = 0;
    for (uint32_t p : expected) drawn += AlphaOf(p) > 0 && GreenOf(p) < 200;
    EXPECT_GT(drawn, 5);
  }
}

TEST(PencilSketch3, TransparencyComesBackPremultiplied) {
  const Image source = PatchWithTransparency();
  const int tinted[5] = {20, 80, 30, 25, 100};
  const Image out = Draw(source, tinted, false, 8);
  const std::vector<uint32_t> in = Words(source), px = Words(out);
  for (size_t i = 0; i < px.size(); ++i) {
    ASSERT_EQ(AlphaOf(px[i]), AlphaOf(in[i]));
    ASSERT_LE(std::max({RedOf(px[i]), GreenOf(px[i]), BlueOf(px[i])}), AlphaOf(px[i]));
  }
  // Translucent white is white paper: nothing drawn, the opacity kept.
  const Image veil = Draw(testutil::SolidImage(30, 20, 0x80FFFFFF), kDefaults, false, 8);
  for (uint32_t p : Words(veil)) ASSERT_EQ(p, gfx::Premultiply(0x80FFFFFFu));
}

TEST(PencilSketch3, WhiteOrTransparentPaperEndsTheSearchForStartPoints) {
  // No pixel darker than 254 can take a stroke, so the walk would never start. The
  // drawing stays white, and quickly.
  const auto start = std::chrono::steady_clock::now();
  const Image white = Draw(testutil::SolidImage(300, 200, 0xFFFFFFFF), kDefaults, false, 1);
  for (uint32_t p : Words(white)) ASSERT_EQ(p, 0xFFFFFFFFu);
  const Image clear = Draw(testutil::SolidImage(300, 200, 0), kDefaults, true, 1);
  for (uint32_t p : Words(clear)) ASSERT_EQ(p, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // One dark pixel among white is found and drawn.
  std::vector<uint32_t> px(40 * 30, 0xFFFFFFFFu);
  px[15 * 40 + 20] = 0xFF000000u;
  const Image dot = Draw(testutil::MakeImage(40, 30, px), {20, 80, 30, 0, 0}, false, 1);
  EXPECT_LT(GreenOf(dot.row(15)[20]), 255u);
}

TEST(PencilSketch3, GreyUnlessTinted) {
  const Image source = Patch(40, 30);
  for (uint32_t p : Words(Draw(source, kDefaults, false, 4))) {
    ASSERT_EQ(RedOf(p), GreenOf(p));
    ASSERT_EQ(GreenOf(p), BlueOf(p));
  }
  int coloured = 0;
  for (uint32_t p : Words(Draw(source, {20, 80, 30, 25, 100}, false, 4)))
    coloured += RedOf(p) != BlueOf(p);
  EXPECT_GT(coloured, 40);
}

TEST(PencilSketch3, Golden) {
  testutil::ExpectMatchesGolden(Draw(Patch(48, 40), {20, 80, 30, 25, 40}, false, 2024),
                                QStringLiteral("pencil_sketch_3"));
}

TEST(PencilSketch3, NumbersBeyondTheSlidersActAsTheirEnds) {
  // A script may pass any number. A stroke length of 126 would make the darkening
  // divisor zero; the length and the tint are held at the slider's end instead.
  const Image source = Patch(40, 30);
  const Image beyond = Draw(source, {20, 126, 30, 25, 150}, false, 6);
  const Image atEnd = Draw(source, {20, 100, 30, 25, 100}, false, 6);
  EXPECT_EQ(testutil::MaxChannelDifference(beyond, atEnd), 0);
}

TEST(PencilSketch3, ProgressInTwentiethsAndPicturesEveryFourth) {
  RegisterEffect(102, &DynamicPencil);
  class CountingHost : public FakeHost {
   public:
    int shown = 0;
    void SetResultImage(const gfx::Image& image) override {
      FakeHost::SetResultImage(image);
      ++shown;
    }
  } host;
  host.load(Patch(200, 200));  // 6100 strokes, progress every 305
  {
    EffectRunner runner(host);
    runner.ProcessEffect(102, 20, 80, 30, 25, 0, false);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
    QCoreApplication::processEvents();
  }
  std::vector<int> expected = {0};
  for (int p = 0; p <= 100; p += 5) expected.push_back(p);
  expected.push_back(101);
  EXPECT_EQ(host.progress, expected);
  EXPECT_EQ(host.shown, 21 / 4 + 1);  // every fourth of the 21 reports, then the result
  EXPECT_EQ(host.historySaves, 1);

  // A preview shows the drawing at 0, 25, 50, 75 and 100 % (as the throttle lets
  // through) and the finished picture; it never touches the progress bar.
  FakeHost preview;
  preview.load(Patch(200, 200));
  {
    EffectRunner runner(preview);
    runner.ProcessEffect(102, 20, 80, 30, 25, 0, true);
    ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(preview.progress.empty());
  ASSERT_GE(preview.panePercents.size(), 3u);
  EXPECT_EQ(preview.panePercents.front(), 0);
  for (int p : preview.panePercents) EXPECT_TRUE(p == -1 || p == 101 || p % 25 == 0) << p;
  EXPECT_EQ(preview.panePercents.back(), -1);  // the runner's finished picture
}

TEST(PencilSketch3, CancelStopsBeforeTheFirstStroke) {
  RegisterEffect(102, &DynamicPencil);
  // Cancels when the progress bar is set to 0, before any stroke.
  class CancellingHost : public FakeHost {
   public:
    EffectRunner* runner = nullptr;
    void UpdateProgress(int percent) override {
      FakeHost::UpdateProgress(percent);
      if (runner && percent == 0) runner->SetCancel(true);
    }
  } host;
  host.load(Patch(200, 200));
  EffectRunner runner(host);
  host.runner = &runner;
  runner.ProcessEffect(102, 20, 80, 30, 25, 0, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
  QCoreApplication::processEvents();
  EXPECT_EQ(host.progress, (std::vector<int>{0, 101}));
  EXPECT_EQ(host.historySaves, 1);
  EXPECT_EQ(host.result.uniqueId(), host.source.uniqueId());  // nothing drawn was shown
  EXPECT_FALSE(runner.IsEffectRunning());
}
