// The generator's own random numbers.
//
// Every picture must come out bit for bit the same on every build, so the generator
// never touches the program's process-wide generator and never uses the standard
// distributions (their algorithms differ between library implementations). SplitMix64
// is small, fast and statistically good enough for artwork.
#pragma once

#include <cstdint>

namespace assetgen {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // [0, 1) with 24 bits, exact in single precision.
  float uniform() { return float(next() >> 40) * (1.0f / 16777216.0f); }
  float uniform(float lo, float hi) { return lo + (hi - lo) * uniform(); }
  // An integer in [0, n) for n > 0.
  int below(int n) { return int((next() >> 33) % uint64_t(n)); }
  // Roughly normal (Irwin-Hall of four uniforms): no transcendental functions, so no
  // dependence on the maths library, and no far outliers to spoil a stroke.
  float gaussian() { return (uniform() + uniform() + uniform() + uniform() - 2.0f) * 1.7320508f; }
  // A generator for a named sub-task, so that changing how many numbers one layer
  // draws does not reshuffle every layer after it.
  Rng fork(uint64_t stream) const {
    Rng mixer(state_ ^ (stream * 0xD1B54A32D192ED03ull));
    return Rng(mixer.next());
  }

 private:
  uint64_t state_;
};

}  // namespace assetgen
