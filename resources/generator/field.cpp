#include "field.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace assetgen {

void Equalize(Field& field) {
  const size_t n = field.values.size();
  if (n < 2) return;
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return field.values[a] < field.values[b]; });
  const float scale = 1.0f / float(n - 1);
  for (size_t rank = 0; rank < n; ++rank) field.values[order[rank]] = float(rank) * scale;
}

namespace {

// One axis of BoxBlur over `count` cells `stride` apart. The running sum is kept in
// double so that adding and removing cells does not drift.
void BlurLine(const float* src, float* dst, int count, int stride, int r, bool wrap) {
  auto sample = [&](int i) {
    const int j = wrap ? Field::Wrap(i, count) : std::clamp(i, 0, count - 1);
    return double(src[size_t(j) * size_t(stride)]);
  };
  double sum = 0.0;
  for (int i = -r; i <= r; ++i) sum += sample(i);
  const double scale = 1.0 / double(2 * r + 1);
  for (int i = 0; i < count; ++i) {
    dst[size_t(i) * size_t(stride)] = float(sum * scale);
    sum += sample(i + r + 1) - sample(i - r);
  }
}

}  // namespace

Field BoxBlur(const Field& field, int rx, int ry, bool wrapX, bool wrapY) {
  Field rows(field.width, field.height);
  for (int y = 0; y < field.height; ++y)
    BlurLine(field.values.data() + size_t(y) * size_t(field.width), &rows.at(0, y), field.width, 1,
             rx, wrapX);
  Field out(field.width, field.height);
  for (int x = 0; x < field.width; ++x)
    BlurLine(rows.values.data() + x, &out.at(x, 0), field.height, field.width, ry, wrapY);
  return out;
}

QImage ToGreyImage(const Field& field) {
  QImage image(field.width, field.height, QImage::Format_Grayscale8);
  for (int y = 0; y < field.height; ++y) {
    uchar* line = image.scanLine(y);
    for (int x = 0; x < field.width; ++x)
      line[x] = uchar(std::clamp(std::lround(field.at(x, y)), 0l, 255l));
  }
  return image;
}

}  // namespace assetgen
