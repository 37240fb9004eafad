#include "tools/rotate.h"

#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using gfx::Image;
using quillora::RotateImage90;
using testutil::MakeImage;

namespace {

std::vector<uint32_t> Words(const Image& image) {
  std::vector<uint32_t> out;
  for (int y = 0; y < image.height(); ++y)
    out.insert(out.end(), image.row(y), image.row(y) + image.width());
  return out;
}

// Distinct, partly translucent pixels, so a misplaced or altered pixel shows.
Image NoiseImage(int w, int h) {
  std::vector<uint32_t> argb(size_t(w) * size_t(h));
  uint32_t state = 12345;
  for (auto& p : argb) {
    state = state * 134775813u + 1u;
    p = (state >> 8) | ((state & 0x80u) ? 0xFF000000u : 0x9A000000u);
  }
  return MakeImage(w, h, argb);
}

// The turn written the obvious way, pixel by pixel from the source.
std::vector<uint32_t> ReferenceTurn(const Image& src, bool clockwise) {
  const int w = src.width(), h = src.height();
  std::vector<uint32_t> out(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int dx = clockwise ? h - 1 - y : y;
      const int dy = clockwise ? x : w - 1 - x;
      out[size_t(dy) * size_t(h) + size_t(dx)] = src.row(y)[x];
    }
  return out;
}

}  // namespace

TEST(RotateImage90, MovesEachPixelOfATinyImage) {
  // a b c        clockwise: d a     counter-clockwise: c f
  // d e f                   e b                        b e
  //                         f c                        a d
  const uint32_t a = 0xFF000001, b = 0xFF000002, c = 0xFF000003, d = 0xFF000004, e = 0xFF000005,
                 f = 0xFF000006;
  const Image src = MakeImage(3, 2, {a, b, c, d, e, f});

  const Image cw = RotateImage90(src, true);
  ASSERT_EQ(cw.width(), 2);
  ASSERT_EQ(cw.height(), 3);
  EXPECT_EQ(Words(cw), (std::vector<uint32_t>{d, a, e, b, f, c}));

  const Image ccw = RotateImage90(src, false);
  ASSERT_EQ(ccw.width(), 2);
  ASSERT_EQ(ccw.height(), 3);
  EXPECT_EQ(Words(ccw), (std::vector<uint32_t>{c, f, b, e, a, d}));
}

TEST(RotateImage90, MatchesThePixelByPixelTurnAcrossTileEdges) {
  // Sizes on both sides of the tile width, odd and thin ones included.
  for (auto [w, h] : {std::pair{131, 67}, {64, 65}, {1, 200}, {200, 1}, {1, 1}}) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    const Image src = NoiseImage(w, h);
    for (bool clockwise : {true, false}) {
      const Image out = RotateImage90(src, clockwise);
      ASSERT_EQ(out.width(), h);
      ASSERT_EQ(out.height(), w);
      EXPECT_EQ(Words(out), ReferenceTurn(src, clockwise)) << "clockwise " << clockwise;
    }
  }
}

TEST(RotateImage90, TurnsUndoEachOtherExactly) {
  const Image src = NoiseImage(300, 200);
  const auto original = Words(src);

  const Image leftRight = RotateImage90(RotateImage90(src, false), true);
  ASSERT_EQ(leftRight.width(), 300);
  ASSERT_EQ(leftRight.height(), 200);
  EXPECT_EQ(Words(leftRight), original);

  const Image rightLeft = RotateImage90(RotateImage90(src, true), false);
  EXPECT_EQ(Words(rightLeft), original);

  Image fourTurns = src;
  for (int i = 0; i < 4; ++i) fourTurns = RotateImage90(fourTurns, true);
  EXPECT_EQ(Words(fourTurns), original);
}

TEST(RotateImage90, EmptyImageStaysEmpty) {
  EXPECT_TRUE(RotateImage90(Image(), true).isEmpty());
  EXPECT_TRUE(RotateImage90(Image(), false).isEmpty());
}
