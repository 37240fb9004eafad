// Black & White: a pen-and-ink drawing with nothing but black ink on white paper. Each
// spot is inked when it is darker than its surroundings, so shading turns into flat
// black shapes that follow the light; dark contours are drawn over it, and an optional
// clean-up wipes off stray specks and closes pin-holes as a careful inker would.
// Deterministic: no random numbers.
#include "effects/sketch/black_and_white_ink.h"

#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillora {

namespace {

constexpr uint8_t kBlack = 0;
constexpr uint8_t kWhite = 255;

// Every window below clamps at the borders; padding a row with copies of its end pixels
// lets the horizontal sums run without bounds tests.
void PadRow(const uint8_t* row, int width, int radius, uint8_t* padded) {
  std::memset(padded, row[0], size_t(radius));
  std::memcpy(padded + radius, row, size_t(width));
  std::memset(padded + radius + width, row[width - 1], size_t(radius));
}

// Horizontal clamped box sums of width 2 radius + 1 for every row of `plane`.
std::vector<uint16_t> RowBoxSums(const std::vector<uint8_t>& plane, int W, int H, int radius) {
  std::vector<uint16_t> sums(size_t(W) * size_t(H));
  std::vector<uint8_t> padded(size_t(W) + 2 * size_t(radius));
  for (int y = 0; y < H; ++y) {
    PadRow(&plane[size_t(y) * size_t(W)], W, radius, padded.data());
    uint16_t* out = &sums[size_t(y) * size_t(W)];
    for (int x = 0; x < W; ++x) {
      uint16_t s = 0;
      for (int k = 0; k <= 2 * radius; ++k) s = uint16_t(s + padded[size_t(x + k)]);
      out[x] = s;
    }
  }
  return sums;
}

// Vertical running sum of `rowSums` over the clamped rows y - radius .. y + radius: the
// exact clamped window sum, at one add and one subtract per pixel and row.
class ColumnWindow {
 public:
  ColumnWindow(const std::vector<uint16_t>& rowSums, int W, int H, int radius)
      : rows_(rowSums), W_(W), H_(H), r_(radius), sums_(size_t(W), 0) {
    for (int dy = -radius; dy <= radius; ++dy) add(ClampRow(dy), 1);
  }
  // Moves the window from row y to row y + 1.
  void Advance(int y) {
    add(ClampRow(y + 1 + r_), 1);
    add(ClampRow(y - r_), -1);
  }
  const int32_t* sums() const { return sums_.data(); }

 private:
  int ClampRow(int y) const { return std::clamp(y, 0, H_ - 1); }
  void add(int y, int32_t sign) {
    const uint16_t* row = &rows_[size_t(y) * size_t(W_)];
    for (int x = 0; x < W_; ++x) sums_[size_t(x)] += sign * int32_t(row[x]);
  }
  const std::vector<uint16_t>& rows_;
  int W_, H_, r_;
  std::vector<int32_t> sums_;
};

void ReportProgress(Surface& Dest, bool Preview, int p) {
  if (Preview)
    SafeUpdatePreview(Dest, p);
  else
    SafeUpdateProgress(p);
}

// One clean-up iteration: `work` gets prev with every lone white speck inked over and
// every small black hole opened up. The 7 x 7 weight 7 - |dx| - |dy| is the sum of a
// horizontal and a vertical tent, (7 - 2|dx|) + (7 - 2|dy|) halved, so the weighted sum
// is two separable passes; the weights are positive and the image holds only 0 and 255,
// so the sum is exact. Returns the number of pixels changed.
int64_t CleanUpIteration(const std::vector<uint8_t>& prev, std::vector<uint8_t>& work, int W, int H,
                         int lBlack, int lWhite, std::vector<uint8_t>& box,
                         std::vector<uint8_t>& tent) {
  static constexpr uint8_t kTent[7] = {1, 3, 5, 7, 5, 3, 1};
  std::vector<uint8_t> padded(size_t(W) + 6);
  std::vector<uint8_t> white(static_cast<size_t>(W));
  for (int y = 0; y < H; ++y) {
    const uint8_t* p = &prev[size_t(y) * size_t(W)];
    for (int x = 0; x < W; ++x) white[size_t(x)] = p[x] > 128 ? 1 : 0;
    PadRow(white.data(), W, 3, padded.data());
    uint8_t* b = &box[size_t(y) * size_t(W)];
    uint8_t* t = &tent[size_t(y) * size_t(W)];
    for (int x = 0; x < W; ++x) {
      uint8_t sb = 0, st = 0;
      for (int k = 0; k < 7; ++k) {
        sb = uint8_t(sb + padded[size_t(x + k)]);
        st = uint8_t(st + kTent[k] * padded[size_t(x + k)]);
      }
      b[x] = sb;
      t[x] = st;
    }
  }
  // Two plain loops per row rather than one with branches, so that both vectorise.
  std::vector<int32_t> weighted(static_cast<size_t>(W));
  int64_t changed = 0;
  for (int y = 0; y < H; ++y) {
    const uint8_t* tRows[7];
    const uint8_t* bRows[7];
    for (int k = 0; k < 7; ++k) {
      const size_t r = size_t(std::clamp(y + k - 3, 0, H - 1)) * size_t(W);
      tRows[k] = &tent[r];
      bRows[k] = &box[r];
    }
    for (int x = 0; x < W; ++x) {
      uint16_t twice = 0;  // at most 2 x 175
      for (int k = 0; k < 7; ++k) twice = uint16_t(twice + tRows[k][x] + kTent[k] * bRows[k][x]);
      weighted[size_t(x)] = 255 * int32_t(twice / 2);
    }
    // Every pixel is written, changed or not, which keeps this loop free of branches.
    const uint8_t* p = &prev[size_t(y) * size_t(W)];
    uint8_t* out = &work[size_t(y) * size_t(W)];
    int32_t rowChanged = 0;
    for (int x = 0; x < W; ++x) {
      const int32_t ws = weighted[size_t(x)];
      const uint8_t before = p[x];
      const uint8_t after =
          before > 128 ? (ws <= lBlack ? kBlack : kWhite) : (ws >= lWhite ? kWhite : kBlack);
      out[x] = after;
      rowChanged += after != before;
    }
    changed += rowChanged;
  }
  return changed;
}

// In place, row by row and left to right, so pixels already visited vote with their
// new value; the clamped neighbourhood may count an edge pixel twice.
void MajorityPass(std::vector<uint8_t>& work, int W, int H) {
  for (int y = 0; y < H; ++y) {
    const uint8_t* r0 = &work[size_t(std::max(y - 1, 0)) * size_t(W)];
    uint8_t* r1 = &work[size_t(y) * size_t(W)];
    const uint8_t* r2 = &work[size_t(std::min(y + 1, H - 1)) * size_t(W)];
    for (int x = 0; x < W; ++x) {
      const int xm = std::max(x - 1, 0), xp = std::min(x + 1, W - 1);
      const int dark = (r0[xm] < 128) + (r0[x] < 128) + (r0[xp] < 128) + (r1[xm] < 128) +
                       (r1[x] < 128) + (r1[xp] < 128) + (r2[xm] < 128) + (r2[x] < 128) +
                       (r2[xp] < 128);
      r1[x] = dark >= 5 ? kBlack : kWhite;
    }
  }
}

}  // namespace

void blackandwhiteInk(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                      bool Preview) {
  (void)P5;
  CheckCancellation();
  // Detail moves the local threshold; lighten/darken sets how strong a dark edge must be
  // to be inked; simplification sets how lonely a speck must be to be cleaned away.
  const int X = int(RoundRatio(int64_t(P1) * 255, 100));
  const int O = 192 - X;
  const int Y = int(RoundRatio(int64_t(P2) * 255, 100));
  const int edgeLimit = 5 * Y - 75;
  const int N = int(RoundRatio(int64_t(P3) * 255, 100));
  const int lBlack = 160 * N;
  const int lWhite = 160 * (255 - N);
  if (Source.isEmpty()) return;
  const int W = Source.width(), H = Source.height();
  const size_t count = size_t(W) * size_t(H);

  // Luminance of the pixel's own colour; nearly transparent pixels read as paper, so
  // the ink stops at the picture's outline. The colour is unpremultiplied first: read
  // premultiplied, a half-transparent white would look mid-grey and a soft fade-out
  // into transparency would be inked solid black.
  std::vector<uint8_t> S(count);
  {
    std::vector<uint8_t> lum(count);
    for (int y = 0; y < H; ++y) {
      const uint32_t* row = Source.row(y);
      uint8_t* out = &lum[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) {
        const uint32_t p = gfx::Unpremultiply(row[x]);
        out[x] =
            gfx::AlphaOf(p) < 10
                ? 255
                : uint8_t((299 * gfx::RedOf(p) + 587 * gfx::GreenOf(p) + 114 * gfx::BlueOf(p)) /
                          1000);
      }
    }
    const std::vector<uint16_t> h3 = RowBoxSums(lum, W, H, 1);
    ColumnWindow window(h3, W, H, 1);
    for (int y = 0; y < H; ++y) {
      const int32_t* sums = window.sums();
      uint8_t* out = &S[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) out[x] = uint8_t(sums[x] / 9);
      if (y + 1 < H) window.Advance(y);
    }
  }

  // The picture's overall brightness from up to 50 sampled rows.
  const int step50 = std::max(H / 50, 1);
  const int sampledRows = std::min(49, H - 1) + 1;
  int64_t total = 0;
  for (int i = 0; i < sampledRows; ++i) {
    const uint8_t* row = &S[size_t(std::min(H - 1, i * step50)) * size_t(W)];
    for (int x = 0; x < W; ++x) total += row[x];
  }
  const int mean = int(total / (int64_t(sampledRows) * W));
  const int G = mean + 2 * (P4 - 50);
  const int step20 = std::max(H / 20, 1);

  std::vector<uint8_t> work(count);
  {
    const std::vector<uint16_t> h9 = RowBoxSums(S, W, H, 4);
    ColumnWindow window(h9, W, H, 4);
    for (int y = 0; y < H; ++y) {
      if (y % step20 == 0) {
        CheckCancellation();
        ReportProgress(Dest, Preview, int(RoundRatio(int64_t(y) * 30, H)));
      }
      const int32_t* sums = window.sums();
      const uint8_t* s = &S[size_t(y) * size_t(W)];
      uint8_t* out = &work[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) {
        // Four times the mean of the 80 neighbours, so that t is about the local mean
        // shifted by the overall brightness and the detail offset.
        const int local = (sums[x] - int(s[x])) / 20;
        const int t = (local + G + O) / 6;
        out[x] = int(s[x]) > t ? kWhite : kBlack;
      }
      if (y + 1 < H) window.Advance(y);
    }
  }
  {
    const std::vector<uint16_t> h5 = RowBoxSums(S, W, H, 2);
    ColumnWindow window(h5, W, H, 2);
    for (int y = 0; y < H; ++y) {
      if (y % step20 == 0) {
        CheckCancellation();
        ReportProgress(Dest, Preview, int(RoundRatio(int64_t(y) * 30, H)) + 30);
      }
      const int32_t* sums = window.sums();
      const uint8_t* s = &S[size_t(y) * size_t(W)];
      const uint8_t* below = &S[size_t(std::min(y + 2, H - 1)) * size_t(W)];
      uint8_t* out = &work[size_t(y) * size_t(W)];
      for (int x = 0; x < W; ++x) {
        // A pixel darker than its 5 x 5 surroundings, a little more so than the pixel
        // two rows below it, lies on the dark side of a contour.
        const int e = 31 * int(s[x]) - 4 * int(below[x]) - sums[x];
        if (3 * e < edgeLimit) out[x] = kBlack;
      }
      if (y + 1 < H) window.Advance(y);
    }
  }
  S = {};

  if (P3 > 0 && !EffectCancelled()) {
    std::vector<uint8_t> prev = work;
    std::vector<uint8_t> box(count), tent(count);
    const int iterations = Preview ? 3 : 15;
    for (int k = 1; k <= iterations; ++k) {
      CheckCancellation();
      const int64_t changed = CleanUpIteration(prev, work, W, H, lBlack, lWhite, box, tent);
      if (changed < 11) break;
      prev = work;
      ReportProgress(Dest, Preview, int(RoundRatio(int64_t(k) * 40, iterations)) + 60);
    }
    if (!Preview) MajorityPass(work, W, H);
  }

  // Ink where the photo has paint; where it is transparent the drawing is too.
  Dest.clear(0);
  for (int y = 0; y < H; ++y) {
    const uint32_t* src = Source.row(y);
    const uint8_t* ink = &work[size_t(y) * size_t(W)];
    uint32_t* out = Dest.row(y);
    for (int x = 0; x < W; ++x)
      out[x] = gfx::AlphaOf(src[x]) > 9 ? (ink[x] == kWhite ? 0xFFFFFFFFu : 0xFF000000u) : 0u;
  }
  Dest.flush();

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(100);
    QueueUi([] {
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
    });
  }
}

}  // namespace quillora
