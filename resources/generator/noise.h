// Deterministic noise and paper grain for the generated pictures.
//
// All noise is value noise on an integer lattice whose values come from a hash of the
// lattice point and a seed, so a picture depends only on its seeds (no hidden state,
// no order of evaluation). Interpolation is quintic, which keeps the slope continuous
// and avoids the lattice-aligned creases of linear blending.
#pragma once

#include "field.h"

#include <cstdint>

namespace assetgen {

// A well-mixed 32-bit hash of a lattice point.
uint32_t HashPoint(int x, int y, uint32_t seed);
// The lattice value at (x, y), in [0, 1).
float LatticeValue(int x, int y, uint32_t seed);

// Smooth noise in [0, 1) along a line; one lattice step per unit of x.
float ValueNoise1(float x, uint32_t seed);
// Smooth noise in [0, 1) over the plane; one lattice step per unit.
float ValueNoise2(float x, float y, uint32_t seed);
// As ValueNoise2, but repeating every periodX lattice steps in x and periodY in y, so a
// field built from it tiles seamlessly.
float PeriodicValueNoise2(float x, float y, int periodX, int periodY, uint32_t seed);

// Paper tooth: the height of the paper surface, equalised to [0, 1] (see Equalize),
// tiling in both directions. Drawing media catch on the high points, so the tooth
// decides where light strokes break up.
struct ToothOptions {
  // The size of the finest bumps in pixels; each coarser octave doubles it.
  float grainSize = 2.0f;
  int octaves = 3;
  // The weight of each octave relative to the finer one before it.
  float persistence = 0.6f;
  // Fibres: bumps this many times longer along x than along y.
  float stretchX = 1.0f;
};
Field PaperTooth(int width, int height, const ToothOptions& options, uint32_t seed);

}  // namespace assetgen
