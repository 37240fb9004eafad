// Building blocks for the surface pictures: paper, canvas, board, film and frames.
//
// They live in a namespace of their own so that their short names never meet the
// helpers of the brush pictures. Everything here is deterministic (hashed lattices and the
// generator's own Rng), and every operation that can wrap does, so a texture built only from
// wrapping pieces tiles without a seam.
#pragma once

#include "field.h"
#include "rng.h"

#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>

namespace assetgen::surface {

// Fractal value noise that repeats over width x height: `octaves` layers, the first
// with cells of about `cell` pixels, each next one with cells half as big and a
// weight `persistence` times the one before. Values are in [0, 1), mean about 0.5.
struct FbmOptions {
  float cell = 64.0f;
  int octaves = 4;
  float persistence = 0.5f;
  // Cells this many times longer along x (fibres, flutes, streaks).
  float stretchX = 1.0f;
};
Field TileableFbm(int width, int height, const FbmOptions& options, uint32_t seed);

// Rounded bumps around jittered points, one point per cell of about `cell` pixels,
// repeating over width x height: 1 on a point, falling to 0 about one cell away.
// Pebbles of a cold-press paper, bubbles of pulp.
Field TileableBumps(int width, int height, float cell, uint32_t seed);

// Periodic smooth noise along a closed line of `length` units with about `cells`
// lattice steps: every index gets its own independent curve (a thread, a scratch).
float LoopNoise(float t, float length, int cells, int index, uint32_t seed);

// White noise blurred `passes` times by a box of radius `radius` (wrapping), scaled to
// mean 0 and standard deviation 1: an even, direction-free grain about 2 radius + 1
// pixels across, free of the square lattice that fine value noise shows.
Field TileableGrain(int width, int height, int radius, int passes, uint32_t seed);

// The field moved cyclically by (dx, dy). Lattice noise has its cell corners on the
// picture's edge; moving the finished texture keeps them off the wrap edge.
Field Roll(const Field& field, int dx, int dy);

float Mean(const Field& field);
float Deviation(const Field& field);
// Shifts and scales the values so that they have this mean and standard deviation.
void SetMeanAndDeviation(Field& field, float mean, float deviation);

// Lambert light on a height field (heights in pixels): the cosine between the surface
// normal and a light from `azimuth` radians (0 from +x, pi/2 from +y, image axes) at
// `elevation` radians above the surface, minus the value for flat ground, so flat is
// 0, faces turned to the light are positive. Differences wrap when `wrap` is set.
Field Relief(const Field& height, float azimuth, float elevation, bool wrap);

// A polyline in pixel coordinates.
struct Path {
  std::vector<float> x, y;
};

// A wandering path of `length` pixels from (x, y) heading `angle` radians, turning by
// `bend` radians per 100 pixels on average plus a random wander of `wander`.
Path WanderingPath(Rng& rng, float x, float y, float angle, float length, float bend, float wander,
                   float step = 4.0f);

// Where a cell lies relative to a path: `along` from the start (pixels), `across` the
// signed distance to the side (positive to the left of the direction of travel) and
// the path's `length`.
struct PathPoint {
  float along;
  float across;
  float length;
};

// Calls `visit(x, y, point)` for every cell whose centre lies within `reach` of the
// path (not beyond its ends; callers add caps themselves through `along`). With
// `wrap` the cells are taken modulo the field's size and the path may cross an edge;
// otherwise cells outside are skipped.
void VisitPath(int width, int height, const Path& path, float reach, bool wrap,
               const std::function<void(int x, int y, const PathPoint& point)>& visit);

// Smooth 0 to 1 between edge0 and edge1.
float SmoothStep(float edge0, float edge1, float v);

// An opaque colour picture from a luminance field and a tint: each channel is the
// value times the tint's channel / 255 (rounded, clamped).
QImage ToTintedImage(const Field& value, float red, float green, float blue);

}  // namespace assetgen::surface
