// Stippling: the photo drawn with a pen that only knows black dots on white paper.
// Every tone becomes a denser or sparser scatter of dots, the way a stippler builds up
// shade one touch of the pen at a time; the "darkening" slider moves the grey at which
// paper gives way to ink. Error diffusion with the Atkinson pattern: three quarters of
// each pixel's error is passed on to six neighbours, one eighth each, which keeps the
// highlights and deep shadows clean. Deterministic: no random numbers.
#include "effects/sketch/stippling.h"

#include "engine/numeric.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <array>
#include <vector>

namespace quillora {

namespace {

// Luminance in 0..1, single precision, in the written order.
inline float Luminance(uint32_t r, uint32_t g, uint32_t b) {
  return (0.299f * float(r) + 0.587f * float(g) + 0.114f * float(b)) / 255.0f;
}

// A pixel that has received error holds the grey v in all three colour bytes, so its
// luminance is one of 256 values (not exactly v / 255: the three float products do not
// add up to v exactly).
const std::array<float, 256>& GreyLuminance() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (uint32_t v = 0; v < 256; ++v) t[v] = Luminance(v, v, v);
    return t;
  }();
  return table;
}

// A neighbour takes the error by turning into the grey of its luminance plus the error.
inline float Receive(float lum, float e, const std::array<float, 256>& grey) {
  const float v = std::clamp(lum + e, 0.0f, 1.0f) * 255.0f;
  return grey[size_t(RoundEven(v))];
}

}  // namespace

void Stippling(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
               bool Preview) {
  (void)P2;
  (void)P3;
  (void)P4;
  (void)P5;
  if (Source.isEmpty()) return;
  const int W = Source.width(), H = Source.height();
  const double T = double(P1) / 255.0;
  const std::array<float, 256>& grey = GreyLuminance();

  // The working buffer is kept as each pixel's current luminance: that is all the
  // diffusion ever reads of a pixel it has not thresholded yet, and the pixels it has
  // thresholded are never read again. Only three rows are live at a time: the error
  // reaches two rows down at most.
  //
  // Tones are read from the straight colour. The diffusion treats colour bytes as
  // straight values (a grey it passes on, the white it writes), and the ink keeps the
  // pixel's opacity; reading premultiplied bytes would dim a half-transparent area once
  // in its tone and again in its opacity, so a soft fade-out would turn into a dark
  // band of dots instead of fading to paper.
  std::vector<float> lumRows(size_t(W) * 3);
  auto lumRow = [&](int y) { return &lumRows[size_t(y % 3) * size_t(W)]; };
  auto loadRow = [&](int y) {
    const uint32_t* src = Source.row(y);
    float* lum = lumRow(y);
    for (int x = 0; x < W; ++x) {
      const uint32_t p = gfx::Unpremultiply(src[x]);
      lum[x] = Luminance(gfx::RedOf(p), gfx::GreenOf(p), gfx::BlueOf(p));
    }
  };
  loadRow(0);
  if (H > 1) loadRow(1);

  for (int y = 0; y < H; ++y) {
    if (y % 50 == 0) {
      const int p = int(RoundRatio(int64_t(y) * 100, std::max(H - 1, 1)));
      if (Preview)
        SafeUpdatePreview(Dest, p);
      else
        SafeUpdateProgress(p);
    }
    if (y + 2 < H) loadRow(y + 2);
    float* here = lumRow(y);
    float* next = y + 1 < H ? lumRow(y + 1) : nullptr;
    float* after = y + 2 < H ? lumRow(y + 2) : nullptr;
    const uint32_t* src = Source.row(y);
    // Fetched after the progress report: a preview snapshot shares the pixels, and a
    // row pointer taken before it would write into the snapshot.
    uint32_t* out = Dest.row(y);
    for (int x = 0; x < W; ++x) {
      const float l = here[x];
      const bool white = double(l) >= T;
      const float e = (l - (white ? 1.0f : 0.0f)) / 8.0f;
      // White is full colour at the pixel's own opacity: the colour bytes of a
      // premultiplied pixel never exceed its alpha.
      const uint32_t a = gfx::AlphaOf(src[x]);
      out[x] = white ? gfx::PackArgb(a, a, a, a) : gfx::PackArgb(a, 0, 0, 0);
      if (x + 1 < W) here[x + 1] = Receive(here[x + 1], e, grey);
      if (x + 2 < W) here[x + 2] = Receive(here[x + 2], e, grey);
      if (next) {
        if (x > 0) next[x - 1] = Receive(next[x - 1], e, grey);
        next[x] = Receive(next[x], e, grey);
        if (x + 1 < W) next[x + 1] = Receive(next[x + 1], e, grey);
      }
      if (after) after[x] = Receive(after[x], e, grey);
    }
  }
  Dest.flush();

  if (Preview) {
    LastUiUpdateTick.store(0);
    SafeUpdatePreview(Dest, 101);
  } else {
    SafeUpdateProgress(101);
  }
}

}  // namespace quillora
