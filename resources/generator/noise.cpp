#include "noise.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

float Quintic(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

int FloorToInt(float v) { return int(std::floor(v)); }

}  // namespace

uint32_t HashPoint(int x, int y, uint32_t seed) {
  // Two rounds of a multiply-xorshift mix; the large odd constants decorrelate x and y.
  uint32_t h = seed ^ (uint32_t(x) * 0x8DA6B343u) ^ (uint32_t(y) * 0xD8163841u);
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

float LatticeValue(int x, int y, uint32_t seed) {
  return float(HashPoint(x, y, seed) >> 8) * (1.0f / 16777216.0f);
}

float ValueNoise1(float x, uint32_t seed) {
  const int ix = FloorToInt(x);
  const float t = Quintic(x - float(ix));
  return Lerp(LatticeValue(ix, 0, seed), LatticeValue(ix + 1, 0, seed), t);
}

float ValueNoise2(float x, float y, uint32_t seed) {
  const int ix = FloorToInt(x), iy = FloorToInt(y);
  const float tx = Quintic(x - float(ix)), ty = Quintic(y - float(iy));
  const float top = Lerp(LatticeValue(ix, iy, seed), LatticeValue(ix + 1, iy, seed), tx);
  const float bottom = Lerp(LatticeValue(ix, iy + 1, seed), LatticeValue(ix + 1, iy + 1, seed), tx);
  return Lerp(top, bottom, ty);
}

float PeriodicValueNoise2(float x, float y, int periodX, int periodY, uint32_t seed) {
  const int ix = FloorToInt(x), iy = FloorToInt(y);
  const float tx = Quintic(x - float(ix)), ty = Quintic(y - float(iy));
  const int x0 = Field::Wrap(ix, periodX), x1 = Field::Wrap(ix + 1, periodX);
  const int y0 = Field::Wrap(iy, periodY), y1 = Field::Wrap(iy + 1, periodY);
  const float top = Lerp(LatticeValue(x0, y0, seed), LatticeValue(x1, y0, seed), tx);
  const float bottom = Lerp(LatticeValue(x0, y1, seed), LatticeValue(x1, y1, seed), tx);
  return Lerp(top, bottom, ty);
}

Field PaperTooth(int width, int height, const ToothOptions& options, uint32_t seed) {
  Field tooth(width, height);
  float size = options.grainSize;
  float weight = 1.0f;
  for (int octave = 0; octave < options.octaves; ++octave) {
    // Whole lattice periods across the picture keep it tileable; the bump size is
    // adjusted slightly to fit.
    const int cellsX = std::max(1, int(std::lround(width / (size * options.stretchX))));
    const int cellsY = std::max(1, int(std::lround(height / size)));
    const float sx = float(cellsX) / float(width), sy = float(cellsY) / float(height);
    const uint32_t octaveSeed = HashPoint(octave, 0x7007, seed);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        tooth.at(x, y) +=
            weight * PeriodicValueNoise2((float(x) + 0.5f) * sx, (float(y) + 0.5f) * sy, cellsX,
                                         cellsY, octaveSeed);
    size *= 2.0f;
    weight *= options.persistence;
  }
  Equalize(tooth);
  return tooth;
}

}  // namespace assetgen
