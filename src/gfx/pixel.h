// Pixel words and the premultiplication arithmetic every layer shares.
//
// A pixel is a 32-bit word 0xAARRGGBB, which on little-endian machines is the byte
// order blue, green, red, alpha in memory (BGRA8888). Images and surfaces hold
// premultiplied words; effects that work on unpremultiplied buffers convert with the
// two functions below, which round to nearest.
#pragma once

#include <cstdint>

namespace gfx {

constexpr uint32_t PackArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
constexpr uint32_t AlphaOf(uint32_t p) { return p >> 24; }
constexpr uint32_t RedOf(uint32_t p) { return (p >> 16) & 0xFF; }
constexpr uint32_t GreenOf(uint32_t p) { return (p >> 8) & 0xFF; }
constexpr uint32_t BlueOf(uint32_t p) { return p & 0xFF; }

// Round(x / 255) for 0 <= x <= 255 * 255, exact (no ties can occur for products of
// two bytes).
constexpr uint32_t Div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

constexpr uint32_t Premultiply(uint32_t p) {
  const uint32_t a = AlphaOf(p);
  if (a == 255) return p;
  if (a == 0) return 0;
  return PackArgb(a, Div255(RedOf(p) * a), Div255(GreenOf(p) * a), Div255(BlueOf(p) * a));
}

// Colour bytes above alpha (invalid premultiplied data) saturate at 255.
constexpr uint32_t Unpremultiply(uint32_t p) {
  const uint32_t a = AlphaOf(p);
  if (a == 255) return p;
  if (a == 0) return 0;
  auto un = [a](uint32_t c) {
    const uint32_t v = (c * 255 + a / 2) / a;
    return v > 255 ? 255u : v;
  };
  return PackArgb(a, un(RedOf(p)), un(GreenOf(p)), un(BlueOf(p)));
}

}  // namespace gfx
