#include "effects/painting/smooth_painting.h"
#include "../engine/fake_host.h"
#include "brushes/brush_library.h"
#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "engine/runner.h"
#include "gfx/filters.h"
#include "gfx/pixel.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace quillora;
using namespace quillora::smooth_painting;
using gfx::AlphaOf;
using testutil::MakeImage;
using testutil::SolidImage;

namespace {

constexpr double kPi = 3.14159265358979323846;

Image Patch(int x, int y, int w, int h) {
  return TForm3::Instance().DefaultImage().subset(QRect(x, y, w, h));
}

Image Atlas() { return TForm3::Instance().Picture(QStringLiteral("TemplateMatchingBrushes")); }

// A photo patch with a transparent hole and a half-transparent band, so that the
// matching meets nearly transparent pixels, soft alpha and the picture's border.
Image AwkwardPatch(int w, int h) {
  const Image photo = Patch(300, 500, w, h);
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = gfx::Unpremultiply(photo.row(y)[x]);
      if (x > w / 2 && x < w / 2 + 4 && y > 3 && y < 9) p &= 0x00FFFFFFu;  // a hole
      if (y >= h - 3) p = (p & 0x00FFFFFFu) | 0x80000000u;                 // soft edge
      px[size_t(y) * w + x] = p;
    }
  return MakeImage(w, h, px);
}

Image Paint(const Image& source, int P1, int P2, bool preview, uint32_t seed = 7) {
  SetRandomSeed(seed);
  Surface dest(source.width(), source.height());
  TemplateMatching(source, dest, P1, P2, 0, 0, 0, preview);
  return dest.snapshot();
}

// The matching of one pixel exactly as written: footprint pixels through their byte
// offsets, the running sum compared after every pixel.
struct OracleEntry {
  int32_t score;
  uint32_t colour;
  uint8_t angle, A;
};

OracleEntry MatchPixelOracle(const TReference& ref, const std::vector<uint8_t>& contrast,
                             const TSmoothBrushes& brushes, RowJitter& rng, int x, int y,
                             OracleEntry previous) {
  const int w = ref.w, h = ref.h, H = brushes.HalfSize;
  const uint32_t p = ref.at(x, y);
  if (AlphaOf(p) <= 9) return {kNoMatch, previous.colour, previous.angle, 0};
  const int c = contrast[size_t(y) * w + x];
  int o = -1;
  if (0 < x && x < w - 1 && 0 < y && y < h - 1) {
    auto sum = [&](int xx, int yy) {
      const uint32_t q = ref.at(xx, yy);
      return int(gfx::RedOf(q) + gfx::GreenOf(q) + gfx::BlueOf(q));
    };
    const int gx = sum(x + 1, y) - sum(x - 1, y), gy = sum(x, y + 1) - sum(x, y - 1);
    if (std::abs(gx) > 5 || std::abs(gy) > 5) {
      const float pi = float(kPi);
      float theta = std::atan2(float(gy), float(gx)) + pi / 2.0f;
      if (theta < 0) theta += 2 * pi;
      if (theta >= 2 * pi) theta -= 2 * pi;
      o = int(std::nearbyint(theta * 7.0f / pi)) % 7;
    }
  }
  std::vector<int> candidates;
  if (c > 30 && o >= 0)
    for (int k = -2; k <= 2; ++k) candidates.push_back(((o + k) % 7 + 7) % 7);
  else if (c > 15)
    candidates = {0, 2, 4, 6};
  else
    candidates = {0, 1, 2, 3, 4, 5, 6};
  const bool inside = H <= x && x < w - H && H <= y && y < h - H;
  const auto* base = reinterpret_cast<const uint8_t*>(&ref.at(x, y));
  int32_t best = kNoMatch;
  int bestO = 0;
  uint32_t bestColour = 0;
  for (int cand : candidates) {
    const TOrientedBrush& b = brushes.brush[cand];
    if (b.BrushPixelCount <= 0) continue;
    int64_t sr = 0, sg = 0, sb = 0, sa = 0, k = 0;
    auto pixel = [&](const TBrushPixelOffset& f, uint32_t& q) {
      if (inside) {
        q = *reinterpret_cast<const uint32_t*>(base + f.Offset);
        return true;
      }
      const int px = x + f.dX, py = y + f.dY;
      if (px < 0 || py < 0 || px >= w || py >= h) return false;
      q = ref.at(px, py);
      return true;
    };
    for (const TBrushPixelOffset& f : b.Offsets) {
      uint32_t q;
      if (!pixel(f, q)) continue;
      sr += gfx::RedOf(q);
      sg += gfx::GreenOf(q);
      sb += gfx::BlueOf(q);
      sa += AlphaOf(q);
      ++k;
    }
    if (k == 0) continue;
    const int mR = int(sr / k), mG = int(sg / k), mB = int(sb / k);
    int32_t sum = 0;
    for (const TBrushPixelOffset& f : b.Offsets) {
      uint32_t q;
      if (pixel(f, q))
        sum += ((std::abs(int(gfx::RedOf(q)) - mR) + std::abs(int(gfx::GreenOf(q)) - mG) +
                 std::abs(int(gfx::BlueOf(q)) - mB)) *
                f.Alpha) >>
               5;
      else
        sum += (f.Alpha * 255) >> 5;
      if (sum > best) break;
    }
    sum += rng.Random(std::max(1, sum >> 4));
    if (sum >= best) continue;
    best = sum;
    bestO = cand;
    bestColour = gfx::PackArgb(uint32_t(sa / k), uint32_t(mR), uint32_t(mG), uint32_t(mB));
    if (sum < 12 * k) break;
  }
  return {best, bestColour, uint8_t(bestO), 255};
}

void ExpectTablesEqual(const TMatchTable& a, const TMatchTable& b) {
  ASSERT_EQ(a.Score.size(), b.Score.size());
  for (size_t i = 0; i < a.Score.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "entry " << i % a.w << "," << i / a.w);
    ASSERT_EQ(a.Score[i], b.Score[i]);
    ASSERT_EQ(a.A[i], b.A[i]);
    if (a.A[i] == 0) continue;  // the other fields are left as they were
    ASSERT_EQ(a.Colour[i], b.Colour[i]);
    ASSERT_EQ(a.BrushAngle[i], b.BrushAngle[i]);
  }
}

}  // namespace

TEST(SmoothPainting, SlidersMapToTheirQuantities) {
  struct Case {
    int P1, P2, S, half, rounds, step;
  };
  const Case cases[] = {
      {35, 0, 17, 8, 1, 1},   {17, 0, 8, 4, 1, 1},     {0, 19, 8, 4, 1, 1},
      {-40, -5, 8, 4, 1, 1},  {100, 40, 50, 25, 2, 5}, {40, 80, 20, 10, 4, 2},
      {60, 99, 30, 15, 4, 3}, {99, 100, 49, 24, 5, 4}, {250, 500, 50, 25, 5, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "P1=" << c.P1 << " P2=" << c.P2);
    const TSmoothPaintingSettings s = SmoothPaintingSettings(c.P1, c.P2);
    EXPECT_EQ(s.BrushSize, c.S);
    EXPECT_EQ(s.HalfSize, c.half);
    EXPECT_EQ(s.RoundCount, c.rounds);
    EXPECT_EQ(s.GridStep, c.step);
  }
  // 0.95 is the single-precision 0.949999988..., so n x 0.95 never lands on .5 above.
  const int kept[][2] = {{10, 9}, {30, 28}, {50, 47}, {1, 1}, {0, 0}, {20, 19}, {1000, 950}};
  for (const auto& k : kept) EXPECT_EQ(SmoothPaintingKeepCount(k[0]), k[1]) << k[0];
}

TEST(SmoothPainting, BrushesAreTheCellTurnedSevenWaysWithConsistentFootprints) {
  const Image atlas = Atlas();
  ASSERT_FALSE(atlas.isEmpty());
  for (const int cellRow : {5, 7}) {
    // The stroke's own axis in the cell.
    const gfx::ColorMatrixValues coverage = {0, 0, 0, 0, 1, 0,       0,       0,       0, 1,
                                             0, 0, 0, 0, 1, -0.299f, -0.587f, -0.114f, 0, 1};
    const Image cell =
        gfx::ColorMatrix(atlas.subset(QRect(250, 250 * cellRow, 250, 250)), coverage);
    const double axis = ComputeBrushAngle(cell);
    for (const int S : {8, 17, 50}) {
      const TSmoothBrushes set = PrepareBrushes(atlas, cellRow, S, 4 * 64);
      ASSERT_EQ(set.S, S);
      for (int i = 0; i < kNumOrientations; ++i) {
        SCOPED_TRACE(testing::Message() << "row " << cellRow << " S " << S << " brush " << i);
        const TOrientedBrush& b = set.brush[i];
        ASSERT_EQ(b.BrushImage.width(), S);
        ASSERT_GT(b.BrushPixelCount, S / 2);
        // Turned clockwise on screen by the orientation's angle: its axis follows
        // (compared modulo a half turn; the broad dab is too round for a clear axis
        // below full size).
        if (S >= (cellRow == 7 ? 17 : 50)) {
          const double turned = axis + double(BrushRotationDegrees(i)) * kPi / 180.0;
          double diff = std::fmod(double(ComputeBrushAngle(b.BrushImage)) - turned, kPi);
          if (diff > kPi / 2) diff -= kPi;
          if (diff < -kPi / 2) diff += kPi;
          EXPECT_LT(std::abs(diff), 0.2);
        }
        // Every form of the footprint names the same pixels.
        int inRows = 0, inRuns = 0;
        for (const TBrushPixelOffset& f : b.Offsets) {
          EXPECT_EQ(f.Offset, int64_t(f.dY) * 256 + int64_t(f.dX) * 4);
          EXPECT_EQ(f.Alpha, AlphaOf(b.BrushImage.row(f.dY + S / 2)[f.dX + S / 2]));
          EXPECT_GT(f.Alpha, 9);
        }
        for (const auto& row : b.rows) {
          EXPECT_EQ(row.length % 8, 0);
          for (int j = 0; j < row.length; ++j)
            inRows += (b.weights[size_t(row.weightStart + j)] & 0xFFFF) > 0;
        }
        for (const auto& run : b.runs) inRuns += run.dX1 - run.dX0 + 1;
        EXPECT_EQ(inRows, b.BrushPixelCount);
        EXPECT_EQ(inRuns, b.BrushPixelCount);
      }
    }
  }
  // An atlas without the cell gives brushes that match nothing.
  const TSmoothBrushes none = PrepareBrushes(SolidImage(300, 300, 0xFFFFFFFF), 5, 17, 256);
  for (const TOrientedBrush& b : none.brush) EXPECT_EQ(b.BrushPixelCount, 0);
}

TEST(SmoothPainting, ContrastMapAndDominantOrientation) {
  // 5 x 4: a flat grey field with one brighter pixel and a nearly transparent one.
  std::vector<uint32_t> px(20, 0xFF646464u);
  px[1 * 5 + 2] = 0xFF6E8264u;  // (2, 1): R +10, G +30
  px[2 * 5 + 3] = 0x05646464u;  // (3, 2): alpha 5
  const TReference ref = MakeReference(MakeImage(5, 4, px));
  std::vector<uint8_t> map;
  BuildContrastMap(ref, map);
  ASSERT_EQ(map.size(), 20u);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(map[x], 0) << "top border";
  for (int y = 0; y < 4; ++y) EXPECT_EQ(map[size_t(y) * 5 + 4], 0) << "right border";
  EXPECT_EQ(map[2 * 5 + 3], 0);  // nearly transparent
  // (2, 1): seven grey neighbours and the nearly transparent one, which reads almost
  // black premultiplied: every mean is (7 x 100 + 2) >> 3 = 87, and the contrast
  // (23 + 43 + 13) div 3.
  EXPECT_EQ(gfx::RedOf(gfx::Premultiply(0x05646464u)), 2u);
  EXPECT_EQ(map[1 * 5 + 2], 26);

  struct Case {
    int left, right, up, down;  // grey levels of the four neighbours
    int expected;
  };
  const Case cases[] = {
      {0, 100, 50, 50, 4},   // brighter to the right: along the edge is vertical, 3.5 -> 4
      {100, 0, 50, 50, 3},   // brighter to the left: 10.5 rounds to even 10, mod 7 = 3
      {50, 50, 0, 100, 0},   // brighter below: pi x 7 / pi = 7 -> 0
      {50, 50, 100, 0, 0},   // brighter above: 0 -> 0
      {50, 51, 49, 50, -1},  // sums differ by 3: no dominant orientation
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> g(9, 0xFF323232u);
    auto grey = [](int v) {
      return 0xFF000000u | uint32_t(v) << 16 | uint32_t(v) << 8 | uint32_t(v);
    };
    g[3] = grey(c.left);
    g[5] = grey(c.right);
    g[1] = grey(c.up);
    g[7] = grey(c.down);
    const TReference r = MakeReference(MakeImage(3, 3, g));
    EXPECT_EQ(DominantOrientation(r, 1, 1), c.expected) << c.left << " " << c.right;
    EXPECT_EQ(DominantOrientation(r, 0, 1), -1);  // the border has none
  }
}

TEST(SmoothPainting, MatchingFollowsItsDefinitionAndIgnoresHowRowsAreSplit) {
  const Image atlas = Atlas();
  struct Case {
    int w, h, S, cellRow;
  };
  const Case cases[] = {
      {40, 30, 8, 5}, {41, 33, 17, 5}, {37, 35, 17, 7}, {64, 60, 50, 5}, {12, 9, 17, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " S " << c.S);
    const TReference ref = MakeReference(AwkwardPatch(c.w, c.h));
    const TSmoothBrushes brushes = PrepareBrushes(atlas, c.cellRow, c.S, int64_t(ref.stride) * 4);
    std::vector<uint8_t> contrast;
    BuildContrastMap(ref, contrast);
    const uint32_t seed = 12345u + uint32_t(c.S);

    TMatchTable oracle;
    oracle.Resize(c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      RowJitter rng(seed, y);
      for (int x = 0; x < c.w; ++x) {
        const size_t i = size_t(y) * c.w + x;
        const OracleEntry e = MatchPixelOracle(ref, contrast, brushes, rng, x, y,
                                               {0, oracle.Colour[i], oracle.BrushAngle[i], 0});
        oracle.Score[i] = e.score;
        oracle.Colour[i] = e.colour;
        oracle.BrushAngle[i] = e.angle;
        oracle.A[i] = e.A;
      }
    }
    TMatchTable fast, scalar, rowByRow;
    fast.Resize(c.w, c.h);
    scalar.Resize(c.w, c.h);
    rowByRow.Resize(c.w, c.h);
    MatchRows(ref, contrast, brushes, seed, 0, c.h, fast);
    MatchRowsScalar(ref, contrast, brushes, seed, 0, c.h, scalar);
    for (int y = c.h - 1; y >= 0; --y) MatchRows(ref, contrast, brushes, seed, y, y + 1, rowByRow);
    ExpectTablesEqual(fast, oracle);
    ExpectTablesEqual(scalar, oracle);
    ExpectTablesEqual(rowByRow, oracle);
    // Something was matched, and the hole was not.
    EXPECT_LT(*std::min_element(fast.Score.begin(), fast.Score.end()), kNoMatch);
    EXPECT_EQ(fast.A[size_t(5) * c.w + c.w / 2 + 2], 0);
  }
}

TEST(SmoothPainting, SelectionTakesEachWindowsFirstBestEntryOnce) {
  struct Case {
    int w, h, H, d;
  };
  for (const Case c :
       {Case{23, 17, 4, 1}, Case{31, 26, 8, 1}, Case{40, 35, 25, 5}, Case{9, 6, 10, 2}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " H " << c.H << " d " << c.d);
    TMatchTable table;
    table.Resize(c.w, c.h);
    SetRandomSeed(99);
    for (size_t i = 0; i < table.Score.size(); ++i) {
      // Few distinct scores, so that ties are everywhere; some entries unmatched.
      table.Score[i] = Random(10) == 0 ? kNoMatch : Random(6);
      table.A[i] = table.Score[i] == kNoMatch && Random(2) ? 0 : 255;
      table.Colour[i] = 0xFF000000u | uint32_t(i);
      table.BrushAngle[i] = uint8_t(Random(7));
    }
    TMatchTable copy = table;
    const std::vector<TScoredStroke> fast = SelectStrokes(table, c.H, c.d);

    // As written: scan every window, first of equal minima, mark it taken.
    std::vector<TScoredStroke> plain;
    for (int gy = -(c.H / c.d); gy <= (c.h + c.H) / c.d; ++gy)
      for (int gx = -(c.H / c.d); gx <= (c.w + c.H) / c.d; ++gx) {
        const int cx = gx * c.d, cy = gy * c.d;
        int bx = -1, by = -1;
        int32_t best = kNoMatch;
        for (int y = std::max(0, cy - c.H); y <= std::min(c.h - 1, cy + c.H); ++y)
          for (int x = std::max(0, cx - c.H); x <= std::min(c.w - 1, cx + c.H); ++x) {
            const int32_t s = copy.Score[size_t(y) * c.w + x];
            if (s < best) {
              best = s;
              bx = x;
              by = y;
            }
          }
        if (bx < 0) continue;
        const size_t i = size_t(by) * c.w + bx;
        if (copy.A[i] < 5) continue;
        plain.push_back({bx - c.H, by - c.H, copy.Score[i], copy.Colour[i], copy.BrushAngle[i]});
        copy.Score[i] = kNoMatch;
      }
    ASSERT_EQ(fast.size(), plain.size());
    for (size_t i = 0; i < fast.size(); ++i) {
      ASSERT_EQ(fast[i].X, plain[i].X) << i;
      ASSERT_EQ(fast[i].Y, plain[i].Y) << i;
      ASSERT_EQ(fast[i].Score, plain[i].Score) << i;
      ASSERT_EQ(fast[i].Color, plain[i].Color) << i;
      ASSERT_EQ(fast[i].brushIdx, plain[i].brushIdx) << i;
    }
    EXPECT_EQ(table.Score, copy.Score);
  }

  // Sorting: the worst match first, equal scores in their order.
  std::vector<TScoredStroke> strokes;
  SetRandomSeed(5);
  for (int i = 0; i < 5000; ++i)
    strokes.push_back({i, 0, Random(3) ? Random(40) : Random(kNoMatch), 0u, 0});
  std::vector<TScoredStroke> expected = strokes;
  std::stable_sort(
      expected.begin(), expected.end(),
      [](const TScoredStroke& a, const TScoredStroke& b) { return a.Score > b.Score; });
  SortStrokes(strokes);
  for (size_t i = 0; i < strokes.size(); ++i) {
    ASSERT_EQ(strokes[i].X, expected[i].X) << i;
  }
}

TEST(SmoothPainting, StampsAreTheBrushInTheStrokeColourOverThePainting) {
  const TSmoothBrushes brushes = PrepareBrushes(Atlas(), 5, 17, 256);
  const int w = 45, h = 38;
  std::vector<TScoredStroke> strokes;
  SetRandomSeed(3);
  for (int i = 0; i < 300; ++i) {
    // Opaque and half-transparent colours (premultiplied), reaching over every edge.
    const uint32_t a = i % 3 == 0 ? 128u : 255u;
    const uint32_t colour = gfx::Premultiply(a << 24 | uint32_t(Random(1 << 24)));
    strokes.push_back({Random(w + 24) - 16, Random(h + 24) - 16, 0, colour, uint8_t(Random(7))});
  }
  std::vector<uint32_t> base(size_t(w) * h);
  for (auto& p : base)
    p = gfx::Premultiply(uint32_t(Random(256)) << 24 | uint32_t(Random(1 << 24)));
  std::vector<uint32_t> fast = base, scalar = base, plain = base;
  DrawStrokes(strokes, 0, strokes.size(), brushes, fast.data(), w, w, h);
  DrawStrokesScalar(strokes, 0, strokes.size(), brushes, scalar.data(), w, w, h);
  // As written: every brush pixel in the stroke colour, laid over the painting.
  for (const TScoredStroke& s : strokes) {
    const Image& img = brushes.brush[s.brushIdx].BrushImage;
    for (int r = 0; r < img.height(); ++r)
      for (int c = 0; c < img.width(); ++c) {
        const int x = s.X + c, y = s.Y + r;
        const uint32_t a = AlphaOf(img.row(r)[c]);
        if (x < 0 || y < 0 || x >= w || y >= h || a == 0) continue;
        uint32_t& d = plain[size_t(y) * w + x];
        d = BlendStroke(TintPixel(s.Color, a), d);
      }
  }
  EXPECT_EQ(fast, plain);
  EXPECT_EQ(scalar, plain);
}

TEST(SmoothPainting, GapsTakeTheMeanOfTheirRegionWithinReach) {
  // A 60 x 2 strip: the painting is white except one dark pixel, the reference a dark
  // ramp whose last column is nearly transparent. Regions grow at most 25 pixels
  // (distance squared 625) from their seed.
  const int w = 60, h = 2;
  std::vector<uint32_t> refPx(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      refPx[size_t(y) * w + x] = gfx::PackArgb(x == w - 1 ? 9 : 255, x, x, 2 * x);
  const TReference ref = MakeReference(MakeImage(w, h, refPx));
  std::vector<uint32_t> painting(size_t(w) * h, 0xFFFFFFFFu);
  painting[5] = 0xFF000000u;  // already dark: not a gap
  FillWhitePixels(ref, painting.data(), w);

  auto meanOf = [&](auto inRegion) {
    int64_t r = 0, g = 0, b = 0, n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w - 1; ++x)
        if (inRegion(x, y) && !(x == 5 && y == 0)) r += x, g += x, b += 2 * x, ++n;
    return gfx::PackArgb(255, uint32_t(r / n), uint32_t(g / n), uint32_t(b / n));
  };
  // The first seed (0, 0) takes row 0 up to column 25 and row 1 up to 24; the second,
  // (26, 0), row 0 from 26 to 51 and row 1 from 25 to 50.
  const uint32_t first = meanOf([](int x, int y) { return x * x + y * y <= 625; });
  const uint32_t second = meanOf([](int x, int y) {
    return x >= 25 && (x - 26) * (x - 26) + y * y <= 625 && !(y == 0 && x == 25);
  });
  EXPECT_EQ(painting[5], 0xFF000000u);
  EXPECT_EQ(painting[0], first);
  EXPECT_EQ(painting[25], first);
  EXPECT_EQ(painting[w + 24], first);
  EXPECT_EQ(painting[w + 25], second);
  EXPECT_EQ(painting[51], second);
  EXPECT_NE(painting[52], second);
  // A nearly transparent reference pixel is no gap.
  EXPECT_EQ(painting[w - 1], 0xFFFFFFFFu);
}

TEST(SmoothPainting, BrightSpecksGoOnlyWhenSixNeighboursAreMuchDarker) {
  struct Case {
    int darker;  // neighbours of the bright centre that are 40 darker
    bool replaced;
  };
  for (const Case c : {Case{8, true}, Case{6, true}, Case{5, false}, Case{0, false}}) {
    std::vector<uint32_t> px(9, 0xFFDCDCDCu);  // 220: within 30 of the centre
    px[4] = 0xFFF0F0F0u;                       // 240
    const int order[8] = {0, 1, 2, 3, 5, 6, 7, 8};
    for (int i = 0; i < c.darker; ++i) px[size_t(order[i])] = 0xFFA0A0A0u;  // 160
    std::vector<uint32_t> out = px;
    RemoveBrightSpecks(out.data(), 3, 3, 3);
    int sum = 0;
    for (int i : order) sum += int(gfx::RedOf(px[size_t(i)]));
    const uint32_t mean = uint32_t(sum / 8);
    EXPECT_EQ(out[4], c.replaced ? gfx::PackArgb(255, mean, mean, mean) : px[4]) << c.darker;
  }
  // Nearly transparent neighbours do not count: with two of them the other six decide.
  std::vector<uint32_t> px(9, 0xFF202020u);
  px[4] = 0xFFFFFFFFu;
  px[0] = px[8] = 0x05050505u;
  RemoveBrightSpecks(px.data(), 3, 3, 3);
  EXPECT_EQ(px[4], 0xFF202020u);
}

TEST(SmoothPainting, PaintsAPatchAsItAlwaysHas) {
  testutil::ExpectMatchesGolden(Paint(Patch(400, 430, 48, 40), 35, 0, false), "smooth_painting");
  testutil::ExpectMatchesGolden(Paint(Patch(330, 380, 40, 36), 24, 40, true),
                                "smooth_painting_two_rounds");
}

TEST(SmoothPainting, TheNumberOfThreadsDoesNotChangeThePicture) {
  const Image source = AwkwardPatch(70, 50);
  QThreadPool* pool = QThreadPool::globalInstance();
  const int saved = pool->maxThreadCount();
  pool->setMaxThreadCount(1);
  const Image one = Paint(source, 35, 0, false);
  pool->setMaxThreadCount(6);
  const Image six = Paint(source, 35, 0, false);
  pool->setMaxThreadCount(saved);
  EXPECT_EQ(testutil::MaxChannelDifference(one, six), 0);
}

TEST(SmoothPainting, TransparencyBoundsThePaint) {
  // Fully transparent: nothing is matched, nothing drawn.
  const Image clear = Paint(SolidImage(30, 20, 0x00000000), 35, 0, false);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(testutil::PremultipliedAt(clear, x, y), 0u);

  // Left half opaque: strokes centred on it reach a little into the transparent half,
  // never further than a brush.
  std::vector<uint32_t> px(60 * 40, 0);
  const Image photo = Patch(500, 300, 60, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 30; ++x) px[size_t(y) * 60 + x] = gfx::Unpremultiply(photo.row(y)[x]);
  const Image painted = Paint(MakeImage(60, 40, px), 35, 0, false);
  int reached = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 30; x < 60; ++x) {
      const uint32_t a = AlphaOf(testutil::PremultipliedAt(painted, x, y));
      if (x >= 30 + 17) {
        ASSERT_EQ(a, 0u) << x << "," << y;
      }
      reached += a > 0;
    }
    for (int x = 0; x < 30; ++x) ASSERT_GT(AlphaOf(testutil::PremultipliedAt(painted, x, y)), 0u);
  }
  EXPECT_GT(reached, 0);
}

TEST(SmoothPainting, WithoutTheAtlasNothingIsPainted) {
  TForm3::Instance().SetPicture(QStringLiteral("TemplateMatchingBrushes"), Image());
  const Image out = Paint(Patch(0, 0, 30, 20), 35, 0, false);
  TForm3::Instance().RestoreBuiltinPicture(QStringLiteral("TemplateMatchingBrushes"));
  EXPECT_EQ(testutil::MaxChannelDifference(out, SolidImage(30, 20, 0)), 0);
}

TEST(SmoothPainting, ReportsProgressByItsBudgetAndShowsEveryPassInPreview) {
  // 12 x 10: fewer than 200 strokes a pass, so only the steps of the budget report.
  FakeHost host;
  host.load(Patch(200, 200, 12, 10));
  EffectRunner runner(host);
  runner.ProcessEffect(306, 35, 0, 0, 0, 0, false);
  ASSERT_TRUE(testutil::WaitFor([&] { return runner.ActiveWorkers() == 0; }));
  QCoreApplication::processEvents();
  std::vector<int> expected = {0};
  int64_t done = 0;
  auto step = [&](int units) {
    done += units;
    expected.push_back(int(RoundRatio(100 * done, 430)));
  };
  for (int pass = 1; pass <= 4; ++pass) {
    if (pass == 2) step(10), step(10);
    for (int units : {8, 40, 20, 8, 24}) step(units);
  }
  step(10);
  expected.push_back(101);
  EXPECT_EQ(host.progress, expected);
  EXPECT_EQ(host.historySaves, 1);

  // Preview: after each pass the pane gets the painting so far at its top left, on a
  // transparent pane; the runner's finished picture comes last.
  FakeHost preview;
  preview.load(Patch(200, 200, 40, 30));
  EffectRunner previewRunner(preview);
  previewRunner.ProcessEffect(306, 35, 40, 0, 0, 0, true);
  ASSERT_TRUE(testutil::WaitFor([&] { return previewRunner.ActiveWorkers() == 0; }));
  QCoreApplication::processEvents();
  int passPictures = 0;
  for (const Image& b : preview.paneBitmaps)
    if (b.width() == 225 && AlphaOf(testutil::PremultipliedAt(b, 100, 100)) == 0 &&
        AlphaOf(testutil::PremultipliedAt(b, 20, 15)) == 255)
      ++passPictures;
  EXPECT_EQ(passPictures, 8);  // two rounds of four passes
  ASSERT_FALSE(preview.paneBitmaps.empty());
  EXPECT_EQ(AlphaOf(testutil::PremultipliedAt(preview.paneBitmaps.back(), 100, 100)), 255u);
}
