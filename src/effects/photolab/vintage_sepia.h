#pragma once

#include "engine/effect_services.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quillora {

// Effect 402, "Vintage / Sepia".
void VintageSepia(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                  bool Preview);

// The grain and the vignette that the old-print looks share (Vintage / Sepia and
// Retro film).

// Film grain from the pixel's coordinates alone, -256..255: the same pixel gets the
// same grain in a preview and in the full render, with no random stream to keep in
// step. Unsigned 32-bit arithmetic throughout.
inline int FilmGrainNoise(uint32_t x, uint32_t y) {
  uint32_t h = (x * 2654435761u) ^ (y * 2246822519u);
  h ^= h >> 13;
  h *= 3266489917u;
  h ^= h >> 16;
  return int(h & 511u) - 256;
}

// Round to nearest, ties to even, of 0 <= v < 2^51: adding 1.5 * 2^52 leaves no
// fraction bits, so the addition itself rounds in the default mode (and, unlike
// nearbyint, needs no library call in the pixel loop).
inline int RoundSmallDouble(double v) {
  const double magic = 6755399441055744.0;
  return int((v + magic) - magic);
}

// A soft dark vignette: nothing inside a circle of radius `inner` about the picture's
// centre, then a darkening that grows with the square of the distance into the ring
// up to `strength` at the corners' distance R.
struct FilmVignette {
  bool on = false;
  double cx = 0, cy = 0, inner = 0, inner2 = 0, ring = 1, strength = 0;

  // innerFactor and strength as the slider gives them; amount 0 switches it off.
  FilmVignette(int W, int H, int amount, double innerFactor, double strengthOfAmount)
      : on(amount > 0), cx(W * 0.5), cy(H * 0.5) {
    const double R = std::sqrt(cx * cx + cy * cy);
    if (!on) return;
    inner = R * innerFactor;
    inner2 = inner * inner;
    ring = std::max(R - inner, 0.001);
    strength = strengthOfAmount;
  }

  // The factor for the pixel (x, y), given dy2 = (y - cy)^2; 1 inside the inner circle.
  double Factor(int x, double dy2) const {
    const double dx = double(x) - cx;
    const double d2 = dx * dx + dy2;
    if (!(d2 > inner2)) return 1.0;
    const double t = std::min((std::sqrt(d2) - inner) / ring, 1.0);
    return 1.0 - t * t * strength;
  }
};

}  // namespace quillora
