#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_SANITIZE=ON \
  -DQUILLORA_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# Huge-allocation tests expect a failed allocation, not a sanitizer abort.
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp"
ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
