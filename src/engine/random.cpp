#include "engine/random.h"

#include <atomic>
#include <chrono>

namespace quillora {

namespace {
std::atomic<uint32_t> g_state{0};

uint32_t Next() {
  const uint32_t s = g_state.load(std::memory_order_relaxed) * 134775813u + 1u;
  g_state.store(s, std::memory_order_relaxed);
  return s;
}
}  // namespace

void SetRandomSeed(uint32_t seed) { g_state.store(seed, std::memory_order_relaxed); }
uint32_t RandomSeed() { return g_state.load(std::memory_order_relaxed); }

void Randomize() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  SetRandomSeed(uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

int32_t Random(int32_t n) {
  const uint32_t s = Next();
  if (n <= 0) return 0;
  return int32_t((uint64_t(s) * uint32_t(n)) >> 32);
}

double RandomFloat() { return double(Next()) / 4294967296.0; }

}  // namespace quillora
