#include "surface_tools.h"

#include "noise.h"

#include <algorithm>
#include <cmath>

namespace assetgen::surface {

Field TileableFbm(int width, int height, const FbmOptions& options, uint32_t seed) {
  Field out(width, height);
  float cell = options.cell;
  float weight = 1.0f, total = 0.0f;
  for (int octave = 0; octave < options.octaves; ++octave) {
    // A whole number of lattice cells across the picture keeps each octave periodic.
    const int cellsX = std::max(1, int(std::lround(float(width) / (cell * options.stretchX))));
    const int cellsY = std::max(1, int(std::lround(float(height) / cell)));
    const float sx = float(cellsX) / float(width), sy = float(cellsY) / float(height);
    const uint32_t octaveSeed = HashPoint(octave, 0xFB3, seed);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        out.at(x, y) += weight * PeriodicValueNoise2((float(x) + 0.5f) * sx, (float(y) + 0.5f) * sy,
                                                     cellsX, cellsY, octaveSeed);
    total += weight;
    cell *= 0.5f;
    weight *= options.persistence;
  }
  for (float& v : out.values) v /= total;
  return out;
}

Field TileableBumps(int width, int height, float cell, uint32_t seed) {
  const int cellsX = std::max(1, int(std::lround(float(width) / cell)));
  const int cellsY = std::max(1, int(std::lround(float(height) / cell)));
  const float cw = float(width) / float(cellsX), ch = float(height) / float(cellsY);
  // One jittered point per cell, kept away from the cell's rim so that the 3 x 3
  // neighbourhood always holds the nearest point.
  std::vector<float> px(size_t(cellsX) * cellsY), py(px.size());
  for (int j = 0; j < cellsY; ++j)
    for (int i = 0; i < cellsX; ++i) {
      const size_t k = size_t(j) * cellsX + i;
      px[k] = (float(i) + 0.1f + 0.8f * LatticeValue(i, j, seed)) * cw;
      py[k] = (float(j) + 0.1f + 0.8f * LatticeValue(i, j, seed ^ 0x5bd1e995u)) * ch;
    }
  const float invReach = 1.0f / (0.85f * std::min(cw, ch));
  Field out(width, height);
  for (int y = 0; y < height; ++y) {
    const int cj = std::min(int((float(y) + 0.5f) / ch), cellsY - 1);
    for (int x = 0; x < width; ++x) {
      const int ci = std::min(int((float(x) + 0.5f) / cw), cellsX - 1);
      float nearest = 1e9f;
      for (int dj = -1; dj <= 1; ++dj)
        for (int di = -1; di <= 1; ++di) {
          const int i = ci + di, j = cj + dj;
          const size_t k = size_t(Field::Wrap(j, cellsY)) * cellsX + Field::Wrap(i, cellsX);
          // The neighbour's point, moved by whole periods to the side it wraps from.
          const float qx = px[k] + float(i - Field::Wrap(i, cellsX)) * cw;
          const float qy = py[k] + float(j - Field::Wrap(j, cellsY)) * ch;
          const float dx = float(x) + 0.5f - qx, dy = float(y) + 0.5f - qy;
          nearest = std::min(nearest, dx * dx + dy * dy);
        }
      const float r = std::sqrt(nearest) * invReach;
      out.at(x, y) = std::max(0.0f, 1.0f - r * r);
    }
  }
  return out;
}

float LoopNoise(float t, float length, int cells, int index, uint32_t seed) {
  // An integer y keeps the two-dimensional lattice on one row: a periodic curve per
  // index.
  return PeriodicValueNoise2(t * float(cells) / length, float(index), cells, 1 << 20, seed);
}

Field TileableGrain(int width, int height, int radius, int passes, uint32_t seed) {
  Field out(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.at(x, y) = LatticeValue(x, y, seed);
  for (int pass = 0; pass < passes; ++pass) out = BoxBlur(out, radius, radius, true, true);
  SetMeanAndDeviation(out, 0.0f, 1.0f);
  return out;
}

Field Roll(const Field& field, int dx, int dy) {
  Field out(field.width, field.height);
  for (int y = 0; y < field.height; ++y)
    for (int x = 0; x < field.width; ++x) out.at(x, y) = field.wrapped(x - dx, y - dy);
  return out;
}

float Mean(const Field& field) {
  double sum = 0.0;
  for (float v : field.values) sum += v;
  return float(sum / double(field.values.size()));
}

float Deviation(const Field& field) {
  const double mean = Mean(field);
  double sum = 0.0;
  for (float v : field.values) sum += (v - mean) * (v - mean);
  return float(std::sqrt(sum / double(field.values.size())));
}

void SetMeanAndDeviation(Field& field, float mean, float deviation) {
  const float m = Mean(field), d = Deviation(field);
  const float scale = d > 0.0f ? deviation / d : 0.0f;
  for (float& v : field.values) v = mean + (v - m) * scale;
}

Field Relief(const Field& height, float azimuth, float elevation, bool wrap) {
  const int w = height.width, h = height.height;
  const float lx = std::cos(azimuth) * std::cos(elevation);
  const float ly = std::sin(azimuth) * std::cos(elevation);
  const float lz = std::sin(elevation);
  auto sample = [&](int x, int y) {
    if (wrap) return height.wrapped(x, y);
    return height.at(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
  };
  Field out(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float gx = 0.5f * (sample(x + 1, y) - sample(x - 1, y));
      const float gy = 0.5f * (sample(x, y + 1) - sample(x, y - 1));
      // The normal of z = height(x, y) is (-gx, -gy, 1), normalised.
      const float n = 1.0f / std::sqrt(gx * gx + gy * gy + 1.0f);
      out.at(x, y) = (-gx * lx - gy * ly + lz) * n - lz;
    }
  return out;
}

Path WanderingPath(Rng& rng, float x, float y, float angle, float length, float bend, float wander,
                   float step) {
  Path path;
  const int steps = std::max(1, int(std::ceil(length / step)));
  const float stepLength = length / float(steps);
  const float turn = bend * stepLength / 100.0f;
  path.x.push_back(x);
  path.y.push_back(y);
  for (int i = 0; i < steps; ++i) {
    angle += turn + wander * rng.gaussian() * std::sqrt(stepLength / 100.0f);
    x += std::cos(angle) * stepLength;
    y += std::sin(angle) * stepLength;
    path.x.push_back(x);
    path.y.push_back(y);
  }
  return path;
}

void VisitPath(int width, int height, const Path& path, float reach, bool wrap,
               const std::function<void(int x, int y, const PathPoint& point)>& visit) {
  const size_t n = path.x.size();
  if (n < 2) return;
  std::vector<float> start(n, 0.0f);
  for (size_t i = 1; i < n; ++i)
    start[i] = start[i - 1] + std::hypot(path.x[i] - path.x[i - 1], path.y[i] - path.y[i - 1]);
  const float length = start[n - 1];
  const auto [xMin, xMax] = std::minmax_element(path.x.begin(), path.x.end());
  const auto [yMin, yMax] = std::minmax_element(path.y.begin(), path.y.end());
  const int x0 = int(std::floor(*xMin - reach)), x1 = int(std::ceil(*xMax + reach));
  const int y0 = int(std::floor(*yMin - reach)), y1 = int(std::ceil(*yMax + reach));
  const float reach2 = reach * reach;
  for (int y = y0; y <= y1; ++y) {
    if (!wrap && (y < 0 || y >= height)) continue;
    for (int x = x0; x <= x1; ++x) {
      if (!wrap && (x < 0 || x >= width)) continue;
      const float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
      // The path ends square: nothing before the start line or beyond the end line,
      // or the joints next to the ends would round them off.
      if ((cx - path.x[0]) * (path.x[1] - path.x[0]) + (cy - path.y[0]) * (path.y[1] - path.y[0]) <
              0.0f ||
          (cx - path.x[n - 1]) * (path.x[n - 1] - path.x[n - 2]) +
                  (cy - path.y[n - 1]) * (path.y[n - 1] - path.y[n - 2]) >
              0.0f)
        continue;
      float best = reach2;
      PathPoint point{0.0f, 0.0f, length};
      bool found = false;
      for (size_t i = 0; i + 1 < n; ++i) {
        const float ax = path.x[i], ay = path.y[i];
        const float dx = path.x[i + 1] - ax, dy = path.y[i + 1] - ay;
        const float seg2 = dx * dx + dy * dy;
        if (seg2 <= 0.0f) continue;
        const float t = ((cx - ax) * dx + (cy - ay) * dy) / seg2;
        const float tc = std::clamp(t, 0.0f, 1.0f);
        const float ex = cx - (ax + tc * dx), ey = cy - (ay + tc * dy);
        const float d2 = ex * ex + ey * ey;
        if (d2 < best) {
          best = d2;
          const float segLength = std::sqrt(seg2);
          const float side = (dx * (cy - ay) - dy * (cx - ax)) >= 0.0f ? 1.0f : -1.0f;
          // Image y points down, so a positive cross product is to the right when
          // looking along the path; the sign is flipped to make left positive.
          point = {start[i] + tc * segLength, -side * std::sqrt(d2), length};
          found = true;
        }
      }
      if (!found) continue;
      visit(wrap ? Field::Wrap(x, width) : x, wrap ? Field::Wrap(y, height) : y, point);
    }
  }
}

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

QImage ToTintedImage(const Field& value, float red, float green, float blue) {
  QImage image(value.width, value.height, QImage::Format_RGB32);
  for (int y = 0; y < value.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < value.width; ++x) {
      const float v = value.at(x, y) / 255.0f;
      auto channel = [v](float c) { return int(std::clamp(std::lround(v * c), 0l, 255l)); };
      line[x] = qRgb(channel(red), channel(green), channel(blue));
    }
  }
  return image;
}

}  // namespace assetgen::surface
