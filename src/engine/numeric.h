// Exact rounding rules shared by the effects.
//
// Round is round-to-nearest with ties to even on the exact value. A slider value times
// a decimal constant is the exact decimal product (50 * 2.55 is 127.5, which rounds to
// 128), so such products are computed in integers: RoundRatio(50 * 255, 100).
#pragma once

#include <cmath>
#include <cstdint>

namespace quillora {

// Round(num / den), ties to even; den != 0.
constexpr int64_t RoundRatio(int64_t num, int64_t den) {
  if (den < 0) {
    num = -num;
    den = -den;
  }
  int64_t q = num / den;
  int64_t r = num % den;
  if (r < 0) {  // make the remainder non-negative: num = q * den + r, 0 <= r < den
    r += den;
    q -= 1;
  }
  const int64_t twice = 2 * r;
  if (twice > den || (twice == den && (q & 1) != 0)) ++q;
  return q;
}

// Round(v) with ties to even, as the default floating-point rounding mode does.
inline int RoundEven(double v) { return int(std::nearbyint(v)); }

constexpr int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace quillora
