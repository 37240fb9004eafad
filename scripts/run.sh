#!/usr/bin/env bash
# Installs what the build needs, builds, and runs the program. With a display (DISPLAY
# or WAYLAND_DISPLAY set) it starts the desktop program, passing on any arguments (an
# image file to open); without one it renders the built-in sample picture headless.
set -euo pipefail
caller="$PWD"
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  # A file named relative to where the script was called from is found from there.
  args=()
  for a in "$@"; do
    if [ "${a#/}" = "$a" ] && [ -e "$caller/$a" ]; then args+=("$caller/$a"); else args+=("$a"); fi
  done
  exec build/bin/quillora "${args[@]}"
fi
mkdir -p out
out="$PWD/out/sample-pencil-sketch.png"
build/bin/quillora-cli render PencilSketch1 --sample -o "$out"
echo "Rendered the sample picture with Pencil Sketch 1: $out"
