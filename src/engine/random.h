// The process-wide pseudo-random generator every effect and tool draws from.
//
// One 32-bit state: state := state * 134775813 + 1 (mod 2^32). Random(n) returns the
// high 32 bits of state * n; RandomFloat() returns state / 2^32. Effects that want a
// reproducible picture seed it at their start. The state is an atomic with relaxed
// loads and stores: a single thread sees exactly the sequence above, and concurrent
// callers are race-free (they may see repeated values, which no caller relies on).
#pragma once

#include <cstdint>

namespace quillora {

void SetRandomSeed(uint32_t seed);
uint32_t RandomSeed();
// Seeds from the clock, for effects that differ from run to run.
void Randomize();

// An integer in [0, n) for n > 0; 0 for n <= 0.
int32_t Random(int32_t n);
// A real number in [0, 1).
double RandomFloat();

}  // namespace quillora
