#include "effects/painting/watercolor.h"
#include "../engine/fake_host.h"
#include "brushes/image_repository.h"
#include "effects/painting/post_processing.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/runner.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>
#include <cstdlib>
#include <vector>

using namespace quillora;
using gfx::AlphaOf;
using gfx::BlueOf;
using gfx::GreenOf;
using gfx::RedOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr int kDefaults[5] = {30, 40, 40, 100, 20};
// The defaults with the shortest shape loop, where the count of shapes does not matter.
constexpr int kQuick[5] = {0, 40, 40, 100, 20};

Image Paint(const Image& source, const int (&P)[5], bool preview, uint32_t seed = 7) {
  Surface dest(source.width(), source.height());
  watercolor::CentralSpokeEffectSeeded(source, dest, P[0], P[1], P[2], P[3], P[4], preview, seed);
  return dest.snapshot();
}

Image Patch(int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(400, 520, w, h));
}

std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

// A host whose manual brush has set the picture to paint over.
class ManualBrushHost : public FakeHost {
 public:
  gfx::Image manualBase;
  gfx::Image ManualBrushBaseImage() override { return manualBase; }
};

Image RenderThroughRunner(FakeHost& host, const int (&P)[5]) {
  EffectRunner runner(host);
  RegisterEffect(300, &CentralSpokeEffect);
  runner.ProcessEffect(300, P[0], P[1], P[2], P[3], P[4], false);
  EXPECT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
  QCoreApplication::processEvents();
  return host.result;
}

// The finishing passes alone, as the effect runs them over a painted-over picture.
Image FinishingOnly(const Image& canvas, const Image& source, int edgeIntensity) {
  Surface s(canvas.width(), canvas.height());
  s.drawImage(canvas, 0, 0, gfx::Sampling::Nearest);
  SimilaritySmoothSurface_MT(s, nullptr, 5, 30, 3, false, 1.2f, 5.0f, 0, nullptr);
  VibrancePop(s.snapshot(), s, 8, 5, 2, 40, 70, false);
  BlendSobelEdges(source, s, 5, 230, 10, 0, edgeIntensity);
  SharpenSurface(nullptr, s, 10);
  return s.snapshot();
}

int64_t DistanceSum(const Image& a, const Image& b) {
  int64_t sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      for (int shift = 0; shift <= 24; shift += 8)
        sum += std::abs(int((a.row(y)[x] >> shift) & 0xFF) - int((b.row(y)[x] >> shift) & 0xFF));
  return sum;
}

// Coverage by 64 x 64 point samples per pixel (even-odd rule; the polygons here are
// simple).
std::vector<int> SampledCoverage(const std::vector<double>& xs, const std::vector<double>& ys,
                                 int x0, int y0, int bw, int bh) {
  const int n = int(xs.size());
  std::vector<int> out(size_t(bw) * size_t(bh));
  for (int py = 0; py < bh; ++py)
    for (int px = 0; px < bw; ++px) {
      int inside = 0;
      for (int sy = 0; sy < 64; ++sy) {
        const double y = y0 + py + (sy + 0.5) / 64.0;
        for (int sx = 0; sx < 64; ++sx) {
          const double x = x0 + px + (sx + 0.5) / 64.0;
          bool in = false;
          for (int i = 0, j = n - 1; i < n; j = i++)
            if ((ys[i] > y) != (ys[j] > y) &&
                x < (xs[j] - xs[i]) * (y - ys[i]) / (ys[j] - ys[i]) + xs[i])
              in = !in;
          inside += in;
        }
      }
      out[size_t(py) * size_t(bw) + size_t(px)] = (inside * 255 + 2048) / 4096;
    }
  return out;
}

// The spoke walk as written: one spoke after the other, step by step.
void ReferenceSpokes(const Image& picture, const watercolor::SpokeProbe& p, int n,
                     const double* cosv, const double* sinv, double cx, double cy, uint32_t C,
                     const int* budgets, int* lengths) {
  for (int s = 0; s < n; ++s) {
    int b = budgets[s], last = 1;
    for (int r = 1; r <= budgets[s]; ++r) {
      const double fx = cx + r * cosv[s], fy = cy + r * sinv[s];
      if (fx < 0 || fy < 0 || fx >= p.w || fy >= p.h) {
        last = r;  // off the paper: the tip lies beyond the edge
        break;
      }
      const int px = std::min(int(std::nearbyint(fx)), p.w - 1);
      const int py = std::min(int(std::nearbyint(fy)), p.h - 1);
      const uint32_t P = picture.row(py)[px];
      if (p.transparent && AlphaOf(P) < 10) {
        b = b / 2;
        if (p.c > 0.6f) break;
      } else {
        const int d = watercolor::ColorDistance(P, C);
        if (d > p.threshold) {
          b = p.c > 0.8f ? b / 2 : (3 * b) / 4;
          b -= int(RoundRatio(d, 8));
        } else {
          b -= std::max(1, int(RoundRatio(d, 16)));
        }
      }
      b -= 1;
      if (b <= 0) break;
      last = r;
    }
    lengths[s] = last;
  }
}

// The colour distance as written, with the square root in double precision.
int ReferenceDistance(uint32_t p, uint32_t q) {
  const int ap = int(AlphaOf(p)), aq = int(AlphaOf(q));
  if (ap < 10 || aq < 10) return (ap < 10 && aq < 10) ? 0 : 255;
  const int rp = int(RedOf(p)), rq = int(RedOf(q));
  const int rmean = (rp + rq) / 2;
  const int dR = rp - rq, dG = int(GreenOf(p)) - int(GreenOf(q)),
            dB = int(BlueOf(p)) - int(BlueOf(q));
  const int v = ((dR * dR * (rmean + 512)) >> 8) + 4 * dG * dG + (((767 - rmean) * dB * dB) >> 8);
  const int d = int(std::nearbyint(std::sqrt(double(v))));
  const float factor = float(std::abs(ap - aq)) / 255.0f * 0.5f + 1.0f;
  return int(std::nearbyint(double(d) * double(factor)));
}

}  // namespace

TEST(Watercolor, SpokesWalkedTogetherMatchOneAfterTheOther) {
  // Blotches of a few colours, some of them transparent, so spokes end in every way:
  // at the edge, on a colour change, on transparency, and by running out of budget.
  const int w = 61, h = 47;
  std::vector<uint32_t> argb(size_t(w) * h);
  const uint32_t palette[] = {0xFF3060C0, 0xFF3466C4, 0xFFE0A040,
                              0xFF202020, 0x00000000, 0x80FF8000};
  // Each blotch varies a little from pixel to pixel, so probes meet near colours as
  // well as equal and far ones.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t base = palette[((x / 7) * 3 + (y / 5) * 5) % 6];
      const uint32_t jitter = uint32_t((x * 7 + y * 13) % 11);
      argb[size_t(y) * w + x] = base ? base ^ (jitter << 8 | jitter) : 0u;
    }
  const Image picture = MakeImage(w, h, argb);
  // An odd size, so the last tiles are partly outside the picture.
  const watercolor::TiledSource tiled(picture);
  uint32_t state = 12345;
  auto next = [&](int n) {
    state = state * 1103515245u + 12345u;
    return int((state >> 8) % uint32_t(n));
  };
  for (const float c : {0.0f, 0.4f, 0.61f, 0.81f, 1.0f})
    for (const bool transparent : {false, true})
      for (const bool paintOver : {false, true})
        for (int trial = 0; trial < 40; ++trial) {
          const int n = std::max(3, int(c * 50));
          std::vector<double> cosv(n), sinv(n);
          for (int s = 0; s < n; ++s) {
            cosv[size_t(s)] = std::cos(s * 2.0 * M_PI / n);
            sinv[size_t(s)] = std::sin(s * 2.0 * M_PI / n);
          }
          const int x = next(w), y = next(h), L = 1 + next(80);
          std::vector<int> budgets(n), fast(n), slow(n);
          for (int& b : budgets) b = next(L) / 4 + L;
          const int T = RoundEven(140.0 - 80.0 * c);
          const watercolor::SpokeProbe probe{&tiled,      w, h,
                                             transparent, c, paintOver ? std::max(15, T / 2) : T};
          const uint32_t C = picture.row(y)[x];
          watercolor::CastSpokes(probe, n, cosv.data(), sinv.data(), x + 0.5, y + 0.5, C,
                                 budgets.data(), fast.data());
          ReferenceSpokes(picture, probe, n, cosv.data(), sinv.data(), x + 0.5, y + 0.5, C,
                          budgets.data(), slow.data());
          ASSERT_EQ(fast, slow) << "c " << c << " seed " << x << "," << y;
        }
}

TEST(Watercolor, ColorDistanceWeighsRedGreenBlueAndAlpha) {
  struct Case {
    uint32_t p, q;
    int expected;
  };
  const Case cases[] = {
      {0xFF000000, 0xFFFFFFFF, 765},  // the widest distance of opaque colours
      {0xFF102030, 0xFF102030, 0},
      {0xFFFF0000, 0xFF00FF00, 650},
      {0xFF0000FF, 0xFF000000, 441},
      {0xFF808080, 0x80404040, 240},  // 192, raised by half the alpha difference
      {0xFF646464, 0x7F323232, 188},
      {0x09FFFFFF, 0x00000000, 0},    // both below the alpha floor:
                                      // alike
      {0x09FFFFFF, 0x0A000000, 255},  // one below it: as far as can be
      {0xFF010000, 0x00000000, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(watercolor::ColorDistance(c.p, c.q), c.expected) << std::hex << c.p << " " << c.q;
    EXPECT_EQ(watercolor::ColorDistance(c.q, c.p), c.expected) << std::hex << c.q << " " << c.p;
  }
}

TEST(Watercolor, ColorDistanceMatchesTheFormulaInDoublePrecision) {
  // Premultiplied words of every kind: equal alphas (the common case), differing
  // alphas, colours near each other and far apart, pixels at the alpha floor.
  uint32_t state = 99;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state;
  };
  for (int i = 0; i < 200000; ++i) {
    const uint32_t p = gfx::Premultiply(next());
    uint32_t q = next();
    if (i % 3 == 0) q = (p & 0xFF000000u) | (q & 0x00FFFFFFu);  // same alpha
    if (i % 5 == 0) q = p ^ (q & 0x000F0F0Fu);                  // a near colour
    q = gfx::Premultiply(gfx::Unpremultiply(q));
    ASSERT_EQ(watercolor::ColorDistance(p, q), ReferenceDistance(p, q))
        << std::hex << p << " " << q;
  }
}

TEST(Watercolor, SpokesReachEveryEdgeOfAFlatPicture) {
  // On one colour nothing stops a spoke but the picture's edge, and the wash must
  // cover the border pixels on all four sides: the tips of the spokes along the axes
  // lie beyond each edge, whatever the seed, also from the last row and column.
  const int w = 12, h = 9, n = 4;
  const Image flat = SolidImage(w, h, 0xFF336699);
  const watercolor::TiledSource tiled(flat);
  const watercolor::SpokeProbe probe{&tiled, w, h, false, 0.4f, 108};
  const double cosv[n] = {1, 0, -1, 0}, sinv[n] = {0, 1, 0, -1};
  const int budgets[n] = {100, 100, 100, 100};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int len[n];
      watercolor::CastSpokes(probe, n, cosv, sinv, x + 0.5, y + 0.5, 0xFF336699, budgets, len);
      EXPECT_GE(x + 0.5 + len[0], w) << x << "," << y << " right";
      EXPECT_GE(y + 0.5 + len[1], h) << x << "," << y << " bottom";
      EXPECT_LT(x + 0.5 - len[2], 0) << x << "," << y << " left";
      EXPECT_LT(y + 0.5 - len[3], 0) << x << "," << y << " top";
    }
}

TEST(Watercolor, SpokeSmoothingIsCircularAndRoundsAfterAllMeans) {
  struct Case {
    std::vector<int> in;
    float sigma;
    std::vector<int> expected;
  };
  const Case cases[] = {
      // Five spokes: the offsets -3..3 wrap onto each other.
      {{10, 1, 1, 1, 1}, 0.8f, {5, 3, 1, 1, 3}},
      // The first and last spokes are neighbours.
      {{1, 2, 3, 4, 5, 6, 7, 8}, 0.55f, {2, 2, 3, 4, 5, 6, 7, 7}},
      {{40, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 30},
       0.8f,
       {27, 11, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 8, 24}},
      // The most complex brush hardly smooths at all.
      {{10, 1, 1, 1, 1}, 0.3f, {10, 1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    std::vector<int> lengths = c.in;
    watercolor::SmoothSpokeLengths(lengths.data(), int(lengths.size()), c.sigma);
    EXPECT_EQ(lengths, c.expected) << "sigma " << c.sigma;
  }
}

TEST(Watercolor, ShapeBudgetFollowsSizeAndIterations) {
  struct Case {
    int w, h, P1;
    bool preview;
    int expected;
  };
  const Case cases[] = {
      {225, 225, 30, true, 1395},  // sqrt(225 * 225) * 0.2 * 31
      {7, 5, 0, true, 50},         // never fewer than 50 in a preview
      {33, 20, 30, false, 15500},
      {4096, 4096, 30, false, 62000},  // size factor 4
      {2048, 8000, 30, false, 15500},  // one side not above 2048: factor 1
      {4000, 3000, 30, false, 44346},  // 15500 * 12e6 / 2^22 = 44345.9
      {9000, 9000, 0, false, 2500},    // the factor stops at 5
  };
  for (const Case& c : cases)
    EXPECT_EQ(watercolor::ShapeBudget(c.w, c.h, c.P1, c.preview), c.expected)
        << c.w << "x" << c.h << " P1=" << c.P1;
  EXPECT_EQ(watercolor::SizeFactor(4096, 4096), 4.0);
  EXPECT_EQ(watercolor::SizeFactor(2048, 8000), 1.0);
}

TEST(Watercolor, PolygonCoverageMatchesPointSampling) {
  struct Case {
    std::vector<double> xs, ys;
    int x0, y0, bw, bh;
  };
  const Case cases[] = {
      // A five-pointed star-shaped polygon inside the box.
      {{14.5, 8.2, 3.1, 2.9, 9.7}, {7.5, 13.9, 11.0, 3.3, 1.2}, 0, 0, 17, 16},
      // A triangle reaching out of the box on three sides.
      {{-6.3, 21.4, 5.5}, {4.25, -3.0, 19.75}, 0, 0, 12, 11},
      // A thin sliver and a box away from the origin.
      {{103.2, 131.9, 104.1}, {50.5, 52.0, 51.1}, 100, 48, 34, 7},
      // Many spokes with whole-pixel and half-pixel vertices.
      {{30, 26.5, 20, 13.5, 10, 13.5, 20, 26.5},
       {20, 26.5, 30, 26.5, 20, 13.5, 10, 13.5},
       8,
       8,
       24,
       24},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> cov = watercolor::PolygonCoverage(
        c.xs.data(), c.ys.data(), int(c.xs.size()), c.x0, c.y0, c.bw, c.bh);
    const std::vector<int> expected = SampledCoverage(c.xs, c.ys, c.x0, c.y0, c.bw, c.bh);
    ASSERT_EQ(cov.size(), expected.size());
    for (size_t i = 0; i < cov.size(); ++i)
      ASSERT_NEAR(int(cov[i]), expected[i], 5)
          << "pixel " << i % size_t(c.bw) << "," << i / size_t(c.bw);
  }
}

TEST(Watercolor, FlatPicturesStayFlat) {
  // A white source: no seed is taken early and every shape is white. Opacity 0 with
  // no edge overlay: the shapes are invisible and the painting stays the white ground.
  struct Case {
    Image source;
    int P[5];
    bool preview;
  };
  const Case cases[] = {
      {SolidImage(31, 23, 0xFFFFFFFF), {0, 40, 40, 100, 20}, true},
      {SolidImage(31, 23, 0xFFFFFFFF), {0, 40, 40, 100, 20}, false},
      {Patch(40, 30), {0, 40, 40, 0, 0}, false},
      {Patch(40, 30), {0, 40, 40, 0, 0}, true},
  };
  for (const Case& c : cases) {
    const Image out = Paint(c.source, c.P, c.preview);
    for (uint32_t p : Words(out))
      ASSERT_EQ(p, 0xFFFFFFFFu) << "P4=" << c.P[3] << (c.preview ? " preview" : "");
  }
}

TEST(Watercolor, TransparentSeedsPaintNothing) {
  // A fully transparent picture stays transparent in a full render; a preview shows
  // it on white.
  const Image empty = SolidImage(20, 14, 0x00000000);
  for (uint32_t p : Words(Paint(empty, kQuick, false))) ASSERT_EQ(p, 0u);
  for (uint32_t p : Words(Paint(empty, kQuick, true))) ASSERT_EQ(p, 0xFFFFFFFFu);

  // Left half opaque, right half transparent: with a complex brush the spokes stop at
  // the first transparent pixel, so no wash reaches far into the empty half (the
  // smoothing of the spoke lengths may stretch one by a pixel).
  const int w = 40, h = 24, half = 22;
  std::vector<uint32_t> argb(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      argb[size_t(y) * w + x] = x < half ? (x < 11 ? 0xFF3060C0u : 0xFFE0A040u) : 0u;
  const int complex[5] = {0, 100, 40, 100, 0};
  const Image out = Paint(MakeImage(w, h, argb), complex, false);
  int painted = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = out.row(y)[x];
      if (x >= half + 2)
        ASSERT_EQ(p, 0u) << x << "," << y;
      else if (AlphaOf(p) > 200)
        ++painted;
    }
  EXPECT_GT(painted, half * h / 2);
}

TEST(Watercolor, TranslucentSeedsKeepTheirColour) {
  // Red at half alpha everywhere: the washes carry red at the seed's alpha times the
  // opacity and build up over each other; the colour must stay red, not turn dark
  // (which painting with the premultiplied bytes would do).
  const Image source = SolidImage(30, 20, 0x80FF0000);
  const Image out = Paint(source, {0, 40, 40, 100, 0}, false);
  int checked = 0;
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) {
      const uint32_t p = testutil::PixelAt(out, x, y);
      ASSERT_GT(AlphaOf(p), 0u) << x << "," << y;
      if (AlphaOf(p) < 40) continue;  // too faint for the colour to be exact
      ASSERT_GE(RedOf(p), 245u) << x << "," << y;
      ASSERT_LE(GreenOf(p), 8u);
      ASSERT_LE(BlueOf(p), 8u);
      ++checked;
    }
  EXPECT_GT(checked, 30 * 20 * 3 / 4);
}

TEST(Watercolor, SameSeedSamePictureForAnyThreadCount) {
  // A picture large enough that the broad first washes are filled in row bands.
  const Image patch = Patch(300, 260);
  const int P[5] = {0, 40, 40, 100, 20};
  const Image a = Paint(patch, P, false);
  QThreadPool* pool = QThreadPool::globalInstance();
  const int threads = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  const Image b = Paint(patch, P, false);
  pool->setMaxThreadCount(threads);
  EXPECT_EQ(Words(a), Words(b));
  // A painting, not the photo and not the white ground.
  EXPECT_GT(testutil::MaxChannelDifference(a, patch), 20);
  EXPECT_GT(testutil::MaxChannelDifference(a, SolidImage(300, 260, 0xFFFFFFFF)), 100);
}

TEST(Watercolor, MatchesTheReferencePicture) {
  const Image patch = Patch(48, 40);
  testutil::ExpectMatchesGolden(Paint(patch, kDefaults, false), QStringLiteral("watercolor"));
  testutil::ExpectMatchesGolden(Paint(patch, kDefaults, true),
                                QStringLiteral("watercolor_preview"));
}

TEST(Watercolor, PaintOverDropsShapesWhereTheCanvasAlreadyMatches) {
  // Painting over a canvas equal to the source: no shape improves on it, so only the
  // finishing passes change the picture. The manual brush's base comes before the
  // current result.
  const Image source = Patch(36, 28);
  const Image black = SolidImage(36, 28, 0xFF000000);
  const Image expected = FinishingOnly(source, source, 20);
  {
    FakeHost host;
    host.load(source);
    host.eraseBackground = false;
    EXPECT_EQ(Words(RenderThroughRunner(host, kQuick)), Words(expected));
  }
  {
    ManualBrushHost host;
    host.source = source;
    host.result = black;
    host.manualBase = source;
    host.eraseBackground = false;
    EXPECT_EQ(Words(RenderThroughRunner(host, kQuick)), Words(expected));
  }
  // Over a white canvas the shapes are taken and bring the picture towards the photo.
  {
    ManualBrushHost host;
    host.source = source;
    host.result = black;
    host.manualBase = SolidImage(36, 28, 0xFFFFFFFF);
    host.eraseBackground = false;
    const Image out = RenderThroughRunner(host, kQuick);
    const Image untouched = FinishingOnly(host.manualBase, source, 20);
    EXPECT_LT(DistanceSum(out, source), DistanceSum(untouched, source) * 3 / 4);
  }
}

TEST(Watercolor, ReportsProgressThroughEveryStage) {
  // A full render: the shape loop up to 75, the three smoothing passes at 80, 85 and
  // 90, then finished. A preview ends with its picture at 101.
  FakeHost host;
  host.load(Patch(40, 30));
  const Image full = RenderThroughRunner(host, kQuick);
  ASSERT_FALSE(full.isEmpty());
  std::vector<int> stages;
  for (const int p : host.progress) {
    if (p <= 75) {
      EXPECT_TRUE(stages.empty()) << "shape progress " << p << " after the smoothing";
    } else {
      stages.push_back(p);
    }
  }
  EXPECT_EQ(stages, (std::vector<int>{80, 85, 90, 101}));

  EffectRunner runner(host);
  RegisterEffect(300, &CentralSpokeEffect);
  runner.ProcessEffect(300, kQuick[0], kQuick[1], kQuick[2], kQuick[3], kQuick[4], true);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }, 60000));
  QCoreApplication::processEvents();
  ASSERT_GE(host.panePercents.size(), 2u);
  // The effect's own last picture, then the runner's finished pane.
  EXPECT_EQ(host.panePercents[host.panePercents.size() - 2], 101);
  for (size_t i = 0; i + 2 < host.panePercents.size(); ++i) EXPECT_LE(host.panePercents[i], 98);
}

TEST(Watercolor, CancelledBeforeTheStartDrawsNothing) {
  FakeHost host;
  host.load(Patch(20, 16));
  EffectRunner runner(host);
  RegisterEffect(300, &CentralSpokeEffect);
  runner.SetCancel(true);
  Surface dest(20, 16);
  runner.ProcessEffectOnSurface(host.source, dest, 300, 30, 40, 40, 100, 20);
  QCoreApplication::processEvents();
  for (uint32_t p : Words(dest.snapshot())) ASSERT_EQ(p, 0u);
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 101);
}
