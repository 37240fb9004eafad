#include "effects/painting/stroke_stamping.h"

#include "gfx/surface.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>

namespace quillora {

namespace {

// The mipmap level medium sampling reads for a reduction to `scale`: the level of
// reduction log2(1 / scale) less half a level (which keeps the picture crisp), rounded
// to the nearest level, 0 when enlarging.
int MipLevelFor(double scale) {
  if (!(scale > 0.0) || scale >= 1.0) return 0;
  const double level = std::max(-std::log2(scale) - 0.5, 0.0);
  return int(std::floor(level + 0.5));
}

// One 2 x 2 box reduction of premultiplied pixels (the last odd row or column is
// averaged with itself).
gfx::Image HalveImage(const gfx::Image& image) {
  const int w = image.width(), h = image.height();
  const int hw = std::max(1, w / 2), hh = std::max(1, h / 2);
  QImage out = gfx::AllocateImage(hw, hh);
  for (int y = 0; y < hh; ++y) {
    const uint32_t* r0 = image.row(std::min(2 * y, h - 1));
    const uint32_t* r1 = image.row(std::min(2 * y + 1, h - 1));
    auto* d = reinterpret_cast<uint32_t*>(out.scanLine(y));
    for (int x = 0; x < hw; ++x) {
      const int x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
      uint32_t v = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t sum = ((r0[x0] >> shift) & 0xFF) + ((r0[x1] >> shift) & 0xFF) +
                             ((r1[x0] >> shift) & 0xFF) + ((r1[x1] >> shift) & 0xFF);
        v |= ((sum + 2) >> 2) << shift;
      }
      d[x] = v;
    }
  }
  return gfx::Image::FromQImage(out);
}

inline int Luma(uint32_t p) {
  return (30 * int((p >> 16) & 0xFF) + 59 * int((p >> 8) & 0xFF) + 11 * int(p & 0xFF)) / 100;
}

}  // namespace

gfx::Image ScaleImageMedium(const gfx::Image& image, int width, int height) {
  if (image.isEmpty() || width <= 0 || height <= 0) return {};
  if (width == image.width() && height == image.height()) return image;
  const double scale = std::min(double(width) / image.width(), double(height) / image.height());
  gfx::Image level = image;
  for (int n = MipLevelFor(scale); n > 0 && (level.width() > 1 || level.height() > 1); --n)
    level = HalveImage(level);
  gfx::Surface out(width, height);
  out.drawImageRect(level, QRectF(0, 0, level.width(), level.height()), QRectF(0, 0, width, height),
                    gfx::Sampling::Linear);
  return out.snapshot();
}

TGradientMap BuildGradientMap(const gfx::Image& image, int width, int height) {
  TGradientMap map;
  if (image.isEmpty() || width <= 0 || height <= 0) return map;
  map.width = width;
  map.height = height;
  map.cells.assign(size_t(width) * size_t(height), TGradientInfo{});
  const gfx::Image small = ScaleImageMedium(image, width, height);
  for (int y = 1; y <= height - 2; ++y) {
    const uint32_t* t = small.row(y - 1);
    const uint32_t* m = small.row(y);
    const uint32_t* b = small.row(y + 1);
    for (int x = 1; x <= width - 2; ++x) {
      const int TL = Luma(t[x - 1]), TC = Luma(t[x]), TR = Luma(t[x + 1]);
      const int ML = Luma(m[x - 1]), MR = Luma(m[x + 1]);
      const int BL = Luma(b[x - 1]), BC = Luma(b[x]), BR = Luma(b[x + 1]);
      const int gx = TR + 2 * MR + BR - TL - 2 * ML - BL;
      const int gy = BL + 2 * BC + BR - TL - 2 * TC - TR;
      TGradientInfo& cell = map.cells[size_t(y) * size_t(width) + size_t(x)];
      cell.Magnitude = uint8_t(std::min(255, std::abs(gx) + std::abs(gy)));
      cell.Angle = std::atan2(float(gy), float(gx));
    }
  }
  return map;
}

// ---- brushes ---------------------------------------------------------------------

StrokeBrush::StrokeBrush(const gfx::Image& image) {
  if (image.isEmpty()) return;
  int w = image.width(), h = image.height();
  // Level 0 is the picture's alpha; every further level halves it with a 2 x 2 box.
  std::vector<uint8_t> current(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const uint32_t* r = image.row(y);
    for (int x = 0; x < w; ++x) current[size_t(y) * size_t(w) + size_t(x)] = uint8_t(r[x] >> 24);
  }
  for (;;) {
    Level level;
    level.width = w;
    level.height = h;
    level.stride = w + 2;
    level.offset = data_.size();
    data_.resize(data_.size() + size_t(w + 2) * size_t(h + 2), 0);
    int minX = w, minY = h, maxX = -1, maxY = -1;
    for (int y = 0; y < h; ++y) {
      uint8_t* d = &data_[level.offset + size_t(y + 1) * size_t(level.stride) + 1];
      const uint8_t* s = &current[size_t(y) * size_t(w)];
      std::memcpy(d, s, size_t(w));
      for (int x = 0; x < w; ++x)
        if (s[x]) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
          minY = std::min(minY, y);
          maxY = std::max(maxY, y);
        }
    }
    if (maxX >= 0) {
      blank_ = false;
      // A bilinear sample whose top-left framed texel is (tx, ty) reads up to
      // (tx + 1, ty + 1): it can see a covered texel (framed minX + 1 .. maxX + 1)
      // from tx = minX .. maxX + 1.
      level.covered = QRect(QPoint(minX, minY), QPoint(maxX + 1, maxY + 1));
    }
    levels_.push_back(level);
    if (w == 1 && h == 1) break;
    const int hw = std::max(1, w / 2), hh = std::max(1, h / 2);
    std::vector<uint8_t> next(size_t(hw) * size_t(hh));
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < hw; ++x) {
        const int x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
        const int y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
        const int sum = current[size_t(y0) * w + x0] + current[size_t(y0) * w + x1] +
                        current[size_t(y1) * w + x0] + current[size_t(y1) * w + x1];
        next[size_t(y) * hw + x] = uint8_t((sum + 2) >> 2);
      }
    current.swap(next);
    w = hw;
    h = hh;
  }
}

BrushStamp::BrushStamp(const StrokeBrush& brush, double size, double angle, double cx, double cy,
                       float opacity) {
  opacity_ = uint32_t(std::lround(std::clamp(opacity, 0.0f, 1.0f) * 256.0f));
  if (brush.levels_.empty() || brush.blank_ || !(size > 0.0)) return;
  const int baseW = brush.levels_[0].width, baseH = brush.levels_[0].height;
  const int n =
      std::min(MipLevelFor(std::min(size / baseW, size / baseH)), int(brush.levels_.size()) - 1);
  const StrokeBrush::Level& level = brush.levels_[size_t(n)];
  if (level.covered.isEmpty()) return;
  texels_ = brush.data_.data() + level.offset;
  stride_ = level.stride;

  // Pixel centre (col + 1/2, row + 1/2) -> the brush square turned back by `angle`
  // (x' = cos x + sin y, y' = -sin x + cos y, about the centre) -> level coordinates
  // (0 .. width) -> framed texel index + 1/2, times 256 for 8-bit bilinear weights.
  const double c = std::cos(angle), s = std::sin(angle);
  const double ku = 256.0 * level.width / size, kv = 256.0 * level.height / size;
  const double px = 0.5 - cx, py = 0.5 - cy;
  ux_ = float(ku * c);
  uy_ = float(ku * s);
  u0_ = float(ku * (c * px + s * py) + 256.0 * (level.width * 0.5 + 0.5));
  vx_ = float(-kv * s);
  vy_ = float(kv * c);
  v0_ = float(kv * (-s * px + c * py) + 256.0 * (level.height * 0.5 + 0.5));
  uMin_ = float(level.covered.left() * 256);
  uMax_ = float((level.covered.right() + 1) * 256);
  vMin_ = float(level.covered.top() * 256);
  vMax_ = float((level.covered.bottom() + 1) * 256);

  // u0 + uy row + ux col in [uMin, uMax) solved for col, likewise for v.
  auto lines = [](double a0, double ar, double ac, double min, double max, double& k, double& lo,
                  double& hi, bool& flat) {
    flat = std::abs(ac) < 1e-9;
    if (flat) return;
    k = -ar / ac;
    lo = (min - a0) / ac;
    hi = (max - a0) / ac;
    if (lo > hi) std::swap(lo, hi);
  };
  lines(u0_, uy_, ux_, uMin_, uMax_, uK_, uLo0_, uHi0_, uFlat_);
  lines(v0_, vy_, vx_, vMin_, vMax_, vK_, vLo0_, vHi0_, vFlat_);

  // The target pixels whose sample can see a covered texel: the parallelogram of the
  // covered texels mapped back, with a pixel of slack for rounding.
  const double det = double(ux_) * vy_ - double(uy_) * vx_;
  if (!(std::abs(det) > 0.0)) {
    texels_ = nullptr;
    return;
  }
  double minC = 1e300, maxC = -1e300, minR = 1e300, maxR = -1e300;
  for (const double fu : {double(uMin_), double(uMax_)})
    for (const double fv : {double(vMin_), double(vMax_)}) {
      const double du = fu - u0_, dv = fv - v0_;
      const double col = (vy_ * du - uy_ * dv) / det;
      const double row = (-vx_ * du + ux_ * dv) / det;
      minC = std::min(minC, col);
      maxC = std::max(maxC, col);
      minR = std::min(minR, row);
      maxR = std::max(maxR, row);
    }
  bounds_ = QRect(QPoint(int(std::floor(minC)) - 1, int(std::floor(minR)) - 1),
                  QPoint(int(std::ceil(maxC)) + 1, int(std::ceil(maxR)) + 1));
}

bool BrushStamp::RowSpan(int row, int colFirst, int colLast, int& first, int& last) const {
  if (!texels_ || row < bounds_.top() || row > bounds_.bottom()) return false;
  colFirst = std::max(colFirst, bounds_.left());
  colLast = std::min(colLast, bounds_.right());
  if (colFirst > colLast) return false;
  double lo = colFirst, hi = colLast;
  if (uFlat_) {
    const double u = double(u0_) + double(uy_) * row;
    if (u < uMin_ - 1.0 || u >= uMax_ + 1.0) return false;
  } else {
    lo = std::max(lo, uLo0_ + uK_ * row);
    hi = std::min(hi, uHi0_ + uK_ * row);
  }
  if (vFlat_) {
    const double v = double(v0_) + double(vy_) * row;
    if (v < vMin_ - 1.0 || v >= vMax_ + 1.0) return false;
  } else {
    lo = std::max(lo, vLo0_ + vK_ * row);
    hi = std::min(hi, vHi0_ + vK_ * row);
  }
  if (lo > hi + 2.0) return false;
  // One column of slack either way for the float rounding of CoverageAt.
  first = std::max(colFirst, int(std::floor(lo)) - 1);
  last = std::min(colLast, int(std::ceil(hi)) + 1);
  return first <= last;
}

// ---- scratch -----------------------------------------------------------------------

StrokeScratch::StrokeScratch(int side)
    : side_(std::max(1, side)), pixels_(size_t(side_) * size_t(side_), 0u) {}

void StrokeScratch::Clear() {
  for (int y = dirty_.top(); y <= dirty_.bottom(); ++y)
    std::memset(row(y) + dirty_.left(), 0, size_t(dirty_.width()) * 4);
  dirty_ = QRect();
}

void StrokeScratch::Render(const BrushStamp& stamp, uint32_t colour) {
  Clear();
  const QRect area = stamp.Bounds().intersected(QRect(0, 0, side_, side_));
  if (area.isEmpty()) return;
  dirty_ = area;
  const TintTable tint(colour);
  for (int y = area.top(); y <= area.bottom(); ++y) {
    int first, last;
    if (!stamp.RowSpan(y, area.left(), area.right(), first, last)) continue;
    uint32_t* r = row(y);
    for (int x = first; x <= last; ++x) {
      r[x] = tint.pixel[stamp.CoverageAt(x, y)];
    }
  }
}

void ImpastoRelief(StrokeScratch& scratch, int size, int strength) {
  const int z = scratch.centre(), half = size / 2;
  ImpastoRelief(scratch, size, strength, std::max(1, z - half - 2),
                std::min(scratch.side() - 2, z + half + 2));
}

void ImpastoRelief(StrokeScratch& scratch, int size, int strength, int first, int last) {
  const int z = scratch.centre();
  const int half = size / 2;
  const int r = std::max(1, half + size / 4);
  first = std::max(first, 1);
  last = std::min(last, scratch.side() - 2);
  // Only rendered pixels have alpha; the rest are skipped by the alpha test anyway.
  const QRect dirty = scratch.dirty();
  if (dirty.isEmpty()) return;
  const int y0 = std::max(first, dirty.top()), y1 = std::min(last, dirty.bottom());
  const int x0 = std::max(first, dirty.left()), x1 = std::min(last, dirty.right());
  if (y0 > y1 || x0 > x1) return;

  // The falloff f^2 div 255 with f = 255 - v * 255 div r, by city-block distance v.
  std::vector<int>& falloff = scratch.falloff_;
  falloff.resize(size_t(r));
  for (int v = 0; v < r; ++v) {
    const int f = 255 - v * 255 / r;
    falloff[size_t(v)] = f * f / 255;
  }
  static const auto weight = [] {
    std::array<int, 256> w{};
    for (int a = 0; a < 256; ++a) w[size_t(a)] = a * a / 255;
    return w;
  }();

  for (int y = y0; y <= y1; ++y) {
    const int dy = std::abs(y - z);
    // v = |x - z| + dy < r holds for |x - z| < r - dy.
    const int reach = r - dy;
    if (reach <= 0) continue;
    const int xs = std::max(x0, z - reach + 1), xe = std::min(x1, z + reach - 1);
    uint32_t* row = scratch.row(y);
    const uint32_t* above = scratch.row(y - 1);
    const uint32_t* below = scratch.row(y + 1);
    for (int x = xs; x <= xe; ++x) {
      const uint32_t p = row[x];
      const int a = int(p >> 24);
      if (a <= 5) continue;
      const int tx = std::clamp(int(row[x + 1] >> 24) - int(row[x - 1] >> 24), -40, 40);
      const int ty = std::clamp(int(below[x] >> 24) - int(above[x] >> 24), -40, 40);
      if (tx == ty) continue;  // no slope across the light: A = 0
      const int v = std::abs(x - z) + dy;
      int A = (tx - ty) * strength / 10 * weight[size_t(a)] / 255 * falloff[size_t(v)] / 255;
      A = std::clamp(A, -50, 50);
      if (A == 0) continue;
      uint32_t out = p & 0xFF000000u;
      if (A < 0) {
        const int k = 255 - (-A) / 2;
        for (int shift = 0; shift < 24; shift += 8)
          out |= uint32_t((int((p >> shift) & 0xFF) * k) >> 8) << shift;
      } else {
        for (int shift = 0; shift < 24; shift += 8) {
          const int c = int((p >> shift) & 0xFF);
          out |= uint32_t(std::clamp(c + A * (a - c) / 512, 0, 255)) << shift;
        }
      }
      row[x] = out;
    }
  }
}

void CompositeStroke(const StrokeScratch& scratch, const QRect& area, uint32_t* target,
                     qsizetype strideWords, int dx, int dy, const QRect& clip) {
  // Scratch pixels whose target lies inside the clip, and that may hold paint.
  const QRect src = area.intersected(QRect(0, 0, scratch.side(), scratch.side()))
                        .intersected(scratch.dirty())
                        .intersected(clip.translated(-dx, -dy));
  for (int y = src.top(); y <= src.bottom(); ++y) {
    const uint32_t* s = scratch.row(y);
    uint32_t* d = target + qsizetype(y + dy) * strideWords + dx;
    for (int x = src.left(); x <= src.right(); ++x) {
      const uint32_t p = s[x];
      if ((p >> 24) == 0) continue;
      std::atomic_ref<uint32_t> pixel(d[x]);
      pixel.store(BlendStroke(p, pixel.load(std::memory_order_relaxed)), std::memory_order_relaxed);
    }
  }
}

}  // namespace quillora
