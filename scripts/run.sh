#!/usr/bin/env bash
# Installs what the build needs, builds, and runs the program. Without a display (or
# until the desktop program exists) it renders the built-in sample picture headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
mkdir -p out
out="$PWD/out/sample-pencil-sketch.png"
build/bin/quillora-cli render PencilSketch1 --sample -o "$out"
echo "Rendered the sample picture with Pencil Sketch 1: $out"
