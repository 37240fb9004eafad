// Pencil Sketch 1: a coloured pencil drawing. Flat areas are shaded with grain from
// the pencil tone strip and tinted with the posterised photo colour; where the
// colour changes sharply a darker stroke is drawn. The work happens on a copy turned
// by 30 degrees, so the strip's horizontal grain and the row-wise scan come out as
// diagonal hatching once the picture is turned back. Deterministic: the generator is
// seeded with 1969 at every run.
#include "effects/sketch/pencil_sketch.h"

#include "brushes/image_repository.h"
#include "engine/numeric.h"
#include "engine/random.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace quillora {

namespace {

struct TextureGrid {
  int rows = 0;
  int cols = 0;
  std::vector<uint8_t> cells;  // rows x cols
  uint8_t at(int r, int c) const { return cells[size_t(r) * size_t(cols) + size_t(c)]; }
};

// The strip's brightness per pixel; a missing strip gives a flat 100 x 100 grid of 128,
// so the effect still runs.
TextureGrid BuildTextureGrid(const Image& texture) {
  TextureGrid grid;
  if (texture.isEmpty()) {
    grid.rows = grid.cols = 100;
    grid.cells.assign(100 * 100, 128);
    return grid;
  }
  grid.rows = texture.height();
  grid.cols = texture.width();
  grid.cells.resize(size_t(grid.rows) * size_t(grid.cols));
  std::vector<uint32_t> px(size_t(grid.rows) * size_t(grid.cols));
  texture.readPixels(px.data(), qsizetype(grid.cols) * 4, gfx::AlphaType::Unpremultiplied);
  for (size_t i = 0; i < px.size(); ++i) {
    const uint32_t p = px[i];
    grid.cells[i] = uint8_t((((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3);
  }
  return grid;
}

inline int R8(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int G8(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int B8(uint32_t p) { return int(p & 0xFF); }

inline int ColourDistance(uint32_t a, uint32_t b) {
  return std::abs(R8(a) - R8(b)) + std::abs(G8(a) - G8(b)) + std::abs(B8(a) - B8(b));
}

}  // namespace

void PencilSketch(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                  bool Preview) {
  const int T = P1;
  const int D = 4 * P2;
  const int B = int(RoundRatio(int64_t(P3) * 255, 100));
  const int C = int(RoundRatio(int64_t(P4) * 128, 100));
  const int K = std::clamp(P5, 0, 100);
  SetRandomSeed(1969);
  const int W = Source.width(), H = Source.height();
  if (W == 0 || H == 0) return;

  Image texture;
  SynchronizeUi([&] { texture = TForm3::Instance().PencilTexture(); });
  const TextureGrid grid = BuildTextureGrid(texture);
  texture = Image();
  const int TH = grid.rows, TW = grid.cols;

  if (!Preview) SafeUpdateProgress(5);

  // The photo turned by 30 degrees on a canvas that holds all of it.
  const float a = float(30.0 * M_PI / 180.0);
  const float c = std::fabs(std::cos(a)), s = std::fabs(std::sin(a));
  const int W2 = int(std::ceil(double(W) * c + double(H) * s));
  const int H2 = int(std::ceil(double(W) * s + double(H) * c));
  std::vector<uint32_t> in(size_t(W2) * size_t(H2));
  {
    Surface rotated(W2, H2);
    rotated.clear(0);
    rotated.save();
    rotated.translate(W2 / 2.0, H2 / 2.0);
    rotated.concat(QTransform(std::cos(a), std::sin(a), -std::sin(a), std::cos(a), 0, 0));
    rotated.drawImage(Source, -W / 2.0, -H / 2.0, gfx::Sampling::Cubic);
    rotated.restore();
    if (!rotated.snapshot().readPixels(in.data(), qsizetype(W2) * 4,
                                       gfx::AlphaType::Unpremultiplied))
      return;
  }

  // Neighbour colours with the nearly transparent ones counted as white, so the
  // picture's outline (the transparent corners of the turned copy) reads as an edge.
  std::vector<uint32_t> colour(in.size());
  for (size_t i = 0; i < in.size(); ++i)
    colour[i] = (in[i] >> 24) < 10 ? 0x00FFFFFFu : (in[i] & 0x00FFFFFFu);

  std::vector<uint32_t> out(in.size(), 0u);
  int Rt = 0;
  bool F = false;
  for (int y = 1; y <= H2 - 2; ++y) {
    // Keeps the worker in step with the interface, once per row.
    SynchronizeUi([] { (void)CancelRequested(); });
    Rt = (y % (TH - 2)) + 1;
    if (y % 200 == 0) {
      const int p = RoundEven(double(y) * 90.0 / double(H2) + 5.0);
      if (Preview)
        SafeUpdatePreview(Dest, p);
      else
        SafeUpdateProgress(p);
    }
    const uint32_t* inRow = &in[size_t(y) * size_t(W2)];
    const uint32_t* above = &colour[size_t(y - 1) * size_t(W2)];
    const uint32_t* here = &colour[size_t(y) * size_t(W2)];
    const uint32_t* below = &colour[size_t(y + 1) * size_t(W2)];
    uint32_t* outRow = &out[size_t(y - 1) * size_t(W2)];
    for (int x = 1; x <= W2 - 2; ++x) {
      const uint32_t A = inRow[x] >> 24;
      if (A < 10) {
        outRow[x - 1] = 0;
        continue;
      }
      const uint32_t centre = here[x];
      const uint32_t left = here[x - 1];
      const uint32_t topLeft = above[x - 1];
      const uint32_t top = above[x];
      const uint32_t bottomLeft = below[x - 1];
      const int Rc = R8(centre), Gc = G8(centre), Bc = B8(centre);
      const int L = (3 * Rc + 6 * Gc + Bc) / 10;

      if (Random(100) > 91) {
        Rt = Random(TH - 3) + 1;
        F = Random(100) > 50;
      }
      const int G1 = (ColourDistance(centre, left) + ColourDistance(centre, topLeft)) / 4;
      const int G2 = (ColourDistance(centre, top) + ColourDistance(centre, bottomLeft)) / 4;

      int r, g, b;
      if (G1 < T && G2 < T) {
        int tx = 2 * L + Random(2);
        if (tx >= TW) tx = TW - 1;
        const int t = grid.at(Rt, tx);
        const int Rq = (R8(left) / 10) * 10, Gq = (G8(left) / 10) * 10, Bq = (B8(left) / 10) * 10;
        int v = L + 2 * B - t - 254;
        if (F) v = v + L / 2;
        v = v + (L * C) / 64 - C;
        const int grey = (Rq + Gq + Bq) / 3;
        const int rr = Clamp255(Rq + v), gg = Clamp255(Gq + v), bb = Clamp255(Bq + v);
        const int k = Clamp255(grey + v);
        r = Clamp255((rr * K + k * (100 - K)) / 100);
        g = Clamp255((gg * K + k * (100 - K)) / 100);
        b = Clamp255((bb * K + k * (100 - K)) / 100);
      } else {
        F = Random(100) > 50;
        Rt = Random(TH - 3) + 1;
        const int re = Clamp255(R8(left) - D - G1 - G2 + 255);
        const int ge = Clamp255(G8(left) - D - G1 - G2 + 255);
        const int be = Clamp255(B8(left) - D - G1 - G2 + 255);
        const int grey = (re + ge + be) / 3;
        r = Clamp255((K * re + (100 - K) * grey) / 100);
        g = Clamp255((K * ge + (100 - K) * grey) / 100);
        b = Clamp255((K * be + (100 - K) * grey) / 100);
      }
      outRow[x - 1] = (A << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
    }
  }
  colour = {};
  in = {};

  const Image drawn =
      Image::FromPixels(out.data(), W2, H2, qsizetype(W2) * 4, gfx::AlphaType::Unpremultiplied);
  out = {};
  Dest.clear(0);
  Dest.save();
  Dest.translate(W / 2.0, H / 2.0);
  Dest.concat(QTransform(std::cos(a), -std::sin(a), std::sin(a), std::cos(a), 0, 0));
  Dest.drawImage(drawn, -W2 / 2.0, -H2 / 2.0, gfx::Sampling::Cubic);
  Dest.restore();
  Dest.flush();

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace quillora
