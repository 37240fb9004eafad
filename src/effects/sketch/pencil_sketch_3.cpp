// Pencil Sketch 3: a drawing of walking pencil strokes on white paper. Each stroke sets
// down where the photo is dark, runs along the forms (or in one of two slants where
// the photo is flat), leans at every step toward the darkest place ahead, and greys the
// paper only as far as the photo is darker than the drawing so far, its pressure
// fading as it goes. The photo's local contrast can be raised first, and its colours
// can tint the finished greys.
#include "effects/sketch/pencil_sketch_3.h"

#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quillora {

namespace dynamic_pencil {

int StrokeCount(int width, int height, int P1) {
  const int64_t I = RoundRatio(int64_t(P1) * 255, 100);
  // min(35, side / 200) is min(side, 7000) / 200, kept exact.
  const int64_t w = std::min<int64_t>(width, 7000), h = std::min<int64_t>(height, 7000);
  return int(std::min<int64_t>(RoundRatio((100 * I + 1000) * w * h, 40000), INT32_MAX - 1));
}

}  // namespace dynamic_pencil

namespace {

inline int R8(uint32_t p) { return int((p >> 16) & 0xFF); }
inline int G8(uint32_t p) { return int((p >> 8) & 0xFF); }
inline int B8(uint32_t p) { return int(p & 0xFF); }

// Round to nearest, ties to even, in the processor's default rounding mode: the walk
// rounds its position twice per probe, and this is one instruction.
inline int RoundToInt(double v) { return _mm_cvtsd_si32(_mm_set_sd(v)); }

// What the walk reads and writes at a pixel, in one word: the photo's R + G + B (every
// step and every probe), the drawing's grey, and the photo's red (for lightening).
struct Cell {
  uint16_t sum;
  uint8_t grey;
  uint8_t red;
};
static_assert(sizeof(Cell) == 4);

// Cells stored in tiles of 4 x 4, one cache line each: the walker's probes and its next
// steps then mostly stay on lines already fetched, whichever way it heads, where rows
// would cost a new line at every step up or down.
struct Tiles {
  int tilesPerRow = 0;
  size_t size = 0;
  Tiles(int W, int H)
      : tilesPerRow((W + 3) / 4), size(size_t(tilesPerRow) * size_t((H + 3) / 4) * 16) {}
  size_t at(int x, int y) const {
    return (size_t(y >> 2) * size_t(tilesPerRow) + size_t(x >> 2)) * 16 +
           size_t((y & 3) << 2 | (x & 3));
  }
};

// The sixteen steering deviations, from -1.2 to about +1.37 radians.
struct Deviations {
  double d[16];
  Deviations() {
    for (int j = 0; j < 16; ++j) d[j] = -1.2 + j * 0.17142857142857143;
  }
};
const Deviations kDeviations;

// The unit steps of one stroke direction m: index 16 is m itself (no deviation), 0..15
// are m plus the steering deviations. Computed once per stroke direction instead of at
// every step, and the deviations only when the stroke steers by probing; the values
// are those of cos and sin of the same sums.
struct StepTable {
  double cs[17], sn[17];
  double angle = 0;
  bool base = false, deviations = false;
  void Use(double m) {
    if (base && m == angle) return;
    angle = m;
    cs[16] = std::cos(m);
    sn[16] = std::sin(m);
    base = true;
    deviations = false;
  }
  void Deviations() {
    if (deviations) return;
    for (int j = 0; j < 16; ++j) {
      const double a = angle + kDeviations.d[j];
      cs[j] = std::cos(a);
      sn[j] = std::sin(a);
    }
    deviations = true;
  }
};

// The photo's local contrast raised: every channel pushed away from a mix of its 9 x 9
// neighbourhood (two parts) and the picture's mean (one part). The window sums are
// kept as running sums down the columns and along the row; edges repeat the nearest
// pixel. Rows are independent, so bands run on all threads with the same result.
void RaiseLocalContrast(std::vector<uint32_t>& photo, int W, int H, int CT) {
  int64_t sums[3] = {0, 0, 0};
  for (const uint32_t p : photo) {
    sums[0] += R8(p);
    sums[1] += G8(p);
    sums[2] += B8(p);
  }
  const int64_t area = int64_t(W) * int64_t(H);
  const int mean[3] = {int(sums[0] / area), int(sums[1] / area), int(sums[2] / area)};

  std::vector<uint32_t> out(photo.size());
  auto at = [&](int x, int y) {
    return photo[size_t(std::clamp(y, 0, H - 1)) * size_t(W) + size_t(std::clamp(x, 0, W - 1))];
  };
  constexpr int kBlock = 64;
  for (int b0 = 0; b0 < H; b0 += kBlock) {
    CheckCancellation();
    const int b1 = std::min(H, b0 + kBlock);
    gfx::ParallelFor(
        b1 - b0,
        [&](int begin, int end) {
          // Column sums of the nine rows around the current row, per channel.
          std::vector<int> col(size_t(W) * 3, 0);
          const int first = b0 + begin;
          for (int x = 0; x < W; ++x)
            for (int dy = -4; dy <= 4; ++dy) {
              const uint32_t p = at(x, first + dy);
              col[size_t(x) * 3 + 0] += R8(p);
              col[size_t(x) * 3 + 1] += G8(p);
              col[size_t(x) * 3 + 2] += B8(p);
            }
          for (int y = first; y < b0 + end; ++y) {
            if (y > first)
              for (int x = 0; x < W; ++x) {
                const uint32_t in = at(x, y + 4), gone = at(x, y - 5);
                col[size_t(x) * 3 + 0] += R8(in) - R8(gone);
                col[size_t(x) * 3 + 1] += G8(in) - G8(gone);
                col[size_t(x) * 3 + 2] += B8(in) - B8(gone);
              }
            auto colAt = [&](int x, int c) {
              return col[size_t(std::clamp(x, 0, W - 1)) * 3 + size_t(c)];
            };
            int S[3] = {0, 0, 0};
            for (int dx = -4; dx <= 4; ++dx)
              for (int c = 0; c < 3; ++c) S[c] += colAt(dx, c);
            const uint32_t* src = &photo[size_t(y) * size_t(W)];
            uint32_t* dst = &out[size_t(y) * size_t(W)];
            for (int x = 0; x < W; ++x) {
              if (x > 0)
                for (int c = 0; c < 3; ++c) S[c] += colAt(x + 4, c) - colAt(x - 5, c);
              const uint32_t p = src[x];
              const int v[3] = {R8(p), G8(p), B8(p)};
              int o[3];
              for (int c = 0; c < 3; ++c) {
                const int local = (S[c] - v[c]) / 80;
                const int target = (2 * local + mean[c]) / 3;
                o[c] = Clamp255(v[c] + int(RoundRatio(int64_t(v[c] - target) * CT, 100)));
              }
              dst[x] = uint32_t(o[0]) << 16 | uint32_t(o[1]) << 8 | uint32_t(o[2]);
            }
          }
        },
        8);
  }
  photo.swap(out);
}

// The grey d tinted toward the photo colour p, at strength CI of 255. Exact in
// integers: ratio = d / lum, lifted toward 1 for pale drawings on dark photos, and the
// tint faded in with the photo's chroma up to 50.
uint32_t TintedGrey(int d, uint32_t p, int CI) {
  if (d >= 201) return uint32_t(d) * 0x010101u;
  const int R = R8(p), G = G8(p), B = B8(p);
  const int chroma = std::max({R, G, B}) - std::min({R, G, B});
  const int lum = (59 * G + 30 * R + 11 * B) / 100;
  int tinted[3] = {d, d, d};
  if (chroma >= 10 && lum >= 5) {
    // ratio = num / (100 lum); below 0.7 it becomes ratio * 0.7 + 0.21.
    const int64_t den = 100 * int64_t(lum);
    const int64_t num = 10 * d < 7 * lum ? 70 * int64_t(d) + 21 * int64_t(lum) : 100 * int64_t(d);
    const int c[3] = {R, G, B};
    for (int i = 0; i < 3; ++i) {
      const int tint = Clamp255(int(RoundRatio(c[i] * num, den)));
      tinted[i] = chroma >= 50
                      ? tint
                      : int(RoundRatio(int64_t(d) * (50 - chroma) + int64_t(tint) * chroma, 50));
    }
  }
  uint32_t out = 0;
  for (int i = 0; i < 3; ++i)
    out = out << 8 | uint32_t(RoundRatio(int64_t(d) * (255 - CI) + int64_t(tinted[i]) * CI, 255));
  return out;
}

// The drawing into Dest, opaque; its own alpha comes at the end.
void CopyInto(Surface& Dest, const std::vector<Cell>& cells, const Tiles& tiles, int W, int H) {
  for (int y = 0; y < H; ++y) {
    uint32_t* out = Dest.row(y);
    for (int x = 0; x < W; ++x)
      out[x] = 0xFF000000u | uint32_t(cells[tiles.at(x, y)].grey) * 0x010101u;
  }
}

}  // namespace

void DynamicPencil(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                   bool Preview) {
  CheckCancellation();
  // Scripts pass their numbers unchecked. The stroke length stays in the slider's
  // range (beyond it the darkening divisor reaches zero and the pressure stops
  // fading), and so does the tint, which is a share of the colour.
  const int SL = Clamp255(int(RoundRatio(int64_t(P2) * 255, 100)));
  const int BL = int(RoundRatio(int64_t(P3) * 255, 100));
  const int CT = int(RoundRatio(int64_t(P4) * 255, 100));
  const int CI = Clamp255(int(RoundRatio(int64_t(P5) * 255, 100)));
  if (Source.isEmpty()) return;
  const int W = Source.width(), H = Source.height();
  const size_t count = size_t(W) * size_t(H);

  // The photo as it shows on white paper; nearly transparent pixels are paper.
  std::vector<uint32_t> photo(count);
  if (!Source.readPixels(photo.data(), qsizetype(W) * 4, gfx::AlphaType::Unpremultiplied)) return;
  gfx::ParallelFor(H, [&](int begin, int end) {
    for (size_t i = size_t(begin) * size_t(W); i < size_t(end) * size_t(W); ++i) {
      const uint32_t p = photo[i];
      const int a = int(gfx::AlphaOf(p));
      if (a <= 9) {
        photo[i] = 0x00FFFFFFu;
        continue;
      }
      auto over = [a](int c) { return uint32_t(RoundRatio(c * a + (255 - a) * 255, 255)); };
      photo[i] = over(R8(p)) << 16 | over(G8(p)) << 8 | over(B8(p));
    }
  });
  if (CT > 0) RaiseLocalContrast(photo, W, H, CT);
  const Tiles tiles(W, H);
  std::vector<Cell> cells(tiles.size);
  gfx::ParallelFor(H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y)
      for (int x = 0; x < W; ++x) {
        const uint32_t p = photo[size_t(y) * size_t(W) + size_t(x)];
        cells[tiles.at(x, y)] = Cell{uint16_t(R8(p) + G8(p) + B8(p)), 255, uint8_t(R8(p))};
      }
  });

  const int Sn = dynamic_pencil::StrokeCount(W, H, P1);
  const int step = std::max(Sn / 20, 1);
  if (!Preview)
    SynchronizeUi([] {
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(0);
    });

  const int darkenDivisor = (255 - SL) / 8 + 8;
  const double decay = SL / 1500.0 + 0.7;
  const int steerTolerance = BL / 3;
  // The walker stays on the inner pixels; a picture without any draws no strokes.
  const bool hasInterior = W >= 3 && H >= 3;
  StepTable table;
  int ticks = 0;
  for (int k = 0; k <= Sn; ++k) {
    CheckCancellation();
    if (k % step == 0 || k == Sn) {
      const int percent = Sn > 0 ? int(RoundRatio(100 * int64_t(k), Sn)) : 100;
      if (!Preview) {
        const bool show = ++ticks % 4 == 0;
        Image snapshot;
        if (show) {
          CopyInto(Dest, cells, tiles, W, H);
          snapshot = Dest.snapshot();
        }
        SynchronizeUi([&] {
          if (EffectHost* host = CurrentHost()) host->UpdateProgress(percent);
          if (show && !CancelRequested()) ShowIntermediateImage(snapshot, -1);
        });
      } else if (k % (5 * step) == 0) {
        CopyInto(Dest, cells, tiles, W, H);
        SafeUpdatePreview(Dest, percent);
      }
    }
    if (!hasInterior) break;

    // A start point, dark places the likelier. A photo that is (nearly) white
    // everywhere would never give one: after kStartTries misses the paper is left as
    // it is for the remaining strokes.
    int x0 = 0, y0 = 0, x = 0, y = 0;
    bool found = false;
    for (int tries = 0; tries < dynamic_pencil::kStartTries; ++tries) {
      x0 = Random(W);
      y0 = Random(H);
      x = std::clamp(x0, 1, W - 2);
      y = std::clamp(y0, 1, H - 2);
      // Most tries are taken, and then the gradient needs these rows at once.
      for (int dy = -1; dy <= 1; ++dy)
        __builtin_prefetch(&photo[size_t(y + dy) * size_t(W) + size_t(x)]);
      const int e = Random(255);
      if (e > cells[tiles.at(x, y)].sum / 3) {
        found = true;
        break;
      }
    }
    if (!found) break;

    // The strongest gradient of the three channels, across which the stroke runs.
    int gx = 0, gy = 0;
    {
      const uint32_t* up = &photo[size_t(y - 1) * size_t(W)];
      const uint32_t* mid = up + W;
      const uint32_t* down = mid + W;
      int gxc[3], gyc[3];
      for (int c = 0, shift = 16; c < 3; ++c, shift -= 8) {
        auto v = [shift](uint32_t p) { return int((p >> shift) & 0xFF); };
        const int ul = v(up[x - 1]), u = v(up[x]), ur = v(up[x + 1]);
        const int l = v(mid[x - 1]), r = v(mid[x + 1]);
        const int ll = v(down[x - 1]), lo = v(down[x]), lr = v(down[x + 1]);
        gyc[c] = (3 * ul + 10 * u + 3 * ur) - (3 * ll + 10 * lo + 3 * lr);
        gxc[c] = (3 * ul + 10 * l + 3 * ll) - (3 * ur + 10 * r + 3 * lr);
      }
      gy = std::max({gyc[0], gyc[1], gyc[2]});
      gx = std::max({gxc[0], gxc[1], gxc[2]});
    }
    const int n = std::abs(gx) + std::abs(gy);
    double m;
    if (n > BL + 1) {
      m = std::atan2(double(gy), double(gx)) + 1.5707;
    } else {
      // Flat: about -23 degrees three times in four, about +38 otherwise, either way
      // round.
      const int r = Random(100);
      if (r >= 27)
        m = Random(100) > 50 ? -0.4 : 2.74159;
      else
        m = Random(100) > 50 ? 0.6707 : 3.81229;
    }
    const bool flat = n < BL + 1;
    table.Use(m);

    double pressure = double((768 - int(cells[tiles.at(x, y)].sum)) >> 6);
    {
      // The stroke's length is known from its pressure, and it heads roughly along m:
      // fetching the tiles of that corridor now lets the walk find them in the cache
      // instead of waiting for memory at nearly every step.
      int length = 1;
      for (double R = pressure * decay; R >= 0.01 && length < 5000; R *= decay) ++length;
      const double dx = table.cs[16], dy = table.sn[16];
      for (int k = 2; k < length + 2; k += 3) {
        const int ix = std::clamp(int(x0 + k * dx), 0, W - 1);
        const int iy = std::clamp(int(y0 + k * dy), 0, H - 1);
        __builtin_prefetch(&cells[tiles.at(ix, iy)]);
      }
    }
    double px = x0, py = y0;
    for (int s = 0; s < 5000; ++s) {
      if (s > 0 && s % 100 == 0) CheckCancellation();
      {
        Cell& c = cells[tiles.at(x, y)];
        const int d = c.grey;
        const int z = (3 * d - int(c.sum)) / darkenDivisor;
        if (z < -4)
          c.grey = uint8_t(std::min<int64_t>(RoundRatio(11 * int64_t(c.red), 10), 255));
        else
          c.grey = uint8_t((d * (255 - std::max(z, 0))) >> 8);
      }
      // Whether this is the last step is known before steering: the pressure does not
      // depend on the path. The last step still draws its random numbers, but where it
      // would go is never used.
      const double nextPressure = pressure * decay;
      const bool last = nextPressure < 0.01;

      const int r = Random(100);
      int choice = 16;  // no deviation
      double flatDeviation = 0;
      bool useFlat = false;
      if (r >= 25) {
        if (flat) {
          // The probes would be overruled by a small random wobble.
          flatDeviation = RandomFloat() * 0.3 - 0.15;
          useFlat = true;
        } else if (!last) {
          table.Deviations();
          int best = 768;
          for (int j = 0; j < 16; ++j) {
            const int ix = RoundToInt(px + table.cs[j]);
            const int iy = RoundToInt(py + table.sn[j]);
            if (ix < 1 || iy < 1 || ix > W - 2 || iy > H - 2) continue;
            const int sj = cells[tiles.at(ix, iy)].sum;
            // Later probes win ties, and may even be a little lighter.
            if (sj - best < steerTolerance) {
              best = sj;
              choice = j;
            }
          }
        }
      }
      pressure = nextPressure;
      if (last) break;

      if (useFlat) {
        px += std::cos(m + flatDeviation);
        py += std::sin(m + flatDeviation);
      } else {
        px += table.cs[choice];
        py += table.sn[choice];
      }
      x = RoundToInt(px);
      y = RoundToInt(py);
      if (x < 1) x = 1, px = 1;
      if (y < 1) y = 1, py = 1;
      if (x >= W - 1) x = W - 2, px = W - 2;
      if (y >= H - 1) y = H - 2, py = H - 2;
    }
  }

  // The finished greys, tinted with the photo's colours when asked, into Dest; then
  // the source's own transparency, through the graphics layer so that Dest holds valid
  // premultiplied pixels. Dest's pixels are fetched once, here: taking them may copy a
  // shared snapshot's pixels, which must not happen on several threads at once.
  uint8_t* const bits = Dest.bits();
  const qsizetype stride = Dest.bytesPerLine();
  gfx::ParallelFor(H, [&](int begin, int end) {
    for (int yy = begin; yy < end; ++yy) {
      auto* out = reinterpret_cast<uint32_t*>(bits + yy * stride);
      const size_t row = size_t(yy) * size_t(W);
      for (int xx = 0; xx < W; ++xx) {
        const int d = cells[tiles.at(xx, yy)].grey;
        const uint32_t rgb =
            CI > 0 ? TintedGrey(d, photo[row + size_t(xx)], CI) : uint32_t(d) * 0x010101u;
        out[xx] = 0xFF000000u | rgb;
      }
    }
  });
  const gfx::Paint keepOpacity{1.0f, gfx::BlendMode::DestIn};
  Dest.drawImage(Source, 0, 0, gfx::Sampling::Nearest, &keepOpacity);

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SynchronizeUi([] {
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
    });
  }
}

}  // namespace quillora
