// A grid of floats the pictures are painted into before they become pixels.
#pragma once

#include <QImage>
#include <vector>

namespace assetgen {

struct Field {
  Field(int w, int h, float fill = 0.0f)
      : width(w), height(h), values(size_t(w) * size_t(h), fill) {}

  float& at(int x, int y) { return values[size_t(y) * size_t(width) + size_t(x)]; }
  float at(int x, int y) const { return values[size_t(y) * size_t(width) + size_t(x)]; }
  // Coordinates taken modulo the size, for pictures that must tile.
  float wrapped(int x, int y) const { return at(Wrap(x, width), Wrap(y, height)); }

  static int Wrap(int i, int n) {
    const int m = i % n;
    return m < 0 ? m + n : m;
  }

  int width;
  int height;
  std::vector<float> values;
};

// Replaces every value by its rank, scaled to [0, 1]. Afterwards a threshold t passes
// exactly the fraction 1 - t of the cells, which lets callers speak in fractions
// (for instance "light pressure reaches the top fifth of the paper tooth"). Ties are
// broken by position, so the result is deterministic.
void Equalize(Field& field);

// The mean over the (2 rx + 1) x (2 ry + 1) window around each cell. Along an axis
// that wraps, the window wraps too; otherwise the edge cells are repeated outwards.
Field BoxBlur(const Field& field, int rx, int ry, bool wrapX, bool wrapY);

// An opaque greyscale picture; values are 0..255 and are rounded and clamped.
QImage ToGreyImage(const Field& field);

}  // namespace assetgen
