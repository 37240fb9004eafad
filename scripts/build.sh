#!/usr/bin/env bash
# Configures and builds everything (Release) into build/. Usage: scripts/build.sh [extra cmake args]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j "$(nproc)"
