#include "gfx/surface.h"

#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <pixman.h>

#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace gfx {

namespace {

pixman_op_t ToPixmanOp(BlendMode mode) {
  switch (mode) {
    case BlendMode::Clear: return PIXMAN_OP_CLEAR;
    case BlendMode::Src: return PIXMAN_OP_SRC;
    case BlendMode::SrcOver: return PIXMAN_OP_OVER;
    case BlendMode::DestIn: return PIXMAN_OP_IN_REVERSE;
    case BlendMode::DestOut: return PIXMAN_OP_OUT_REVERSE;
    case BlendMode::Multiply: return PIXMAN_OP_MULTIPLY;
    case BlendMode::Screen: return PIXMAN_OP_SCREEN;
    case BlendMode::Overlay: return PIXMAN_OP_OVERLAY;
    case BlendMode::Darken: return PIXMAN_OP_DARKEN;
    case BlendMode::Lighten: return PIXMAN_OP_LIGHTEN;
    case BlendMode::ColorDodge: return PIXMAN_OP_COLOR_DODGE;
    case BlendMode::ColorBurn: return PIXMAN_OP_COLOR_BURN;
    case BlendMode::HardLight: return PIXMAN_OP_HARD_LIGHT;
    case BlendMode::SoftLight: return PIXMAN_OP_SOFT_LIGHT;
    case BlendMode::Difference: return PIXMAN_OP_DIFFERENCE;
    case BlendMode::Exclusion: return PIXMAN_OP_EXCLUSION;
    case BlendMode::Plus: return PIXMAN_OP_ADD;
    case BlendMode::Color: return PIXMAN_OP_HSL_COLOR;
  }
  return PIXMAN_OP_OVER;
}

// Modes whose result where the source is transparent is not the destination: with
// these, pixman's mask would not blend coverage with the untouched destination, so
// partial coverage is blended by hand.
bool IsUnbounded(BlendMode mode) {
  return mode == BlendMode::Clear || mode == BlendMode::Src || mode == BlendMode::DestIn;
}

// pixman's non-separable operators get a masked source wrong (a half-opacity Color
// blend lands far from the definition), so such sources are masked beforehand.
bool NeedsPremaskedSource(BlendMode mode) { return mode == BlendMode::Color; }

struct PixmanImage {
  pixman_image_t* p = nullptr;
  PixmanImage() = default;
  explicit PixmanImage(pixman_image_t* img) : p(img) {}
  ~PixmanImage() {
    if (p) pixman_image_unref(p);
  }
  PixmanImage(PixmanImage&& other) noexcept : p(other.p) { other.p = nullptr; }
  PixmanImage(const PixmanImage&) = delete;
  PixmanImage& operator=(const PixmanImage&) = delete;
};

// Mitchell-Netravali (B = C = 1/3) reconstruction without a prefilter, which is what
// a cubic resampler does at every scale. 256 phases per pixel: with fewer, the phase
// rounding shifts high-contrast detail visibly (16 phases are off by up to 10 levels).
const std::vector<pixman_fixed_t>& CubicFilterParams() {
  static const std::vector<pixman_fixed_t> params = [] {
    int n = 0;
    pixman_fixed_t* v = pixman_filter_create_separable_convolution(
        &n, pixman_int_to_fixed(1), pixman_int_to_fixed(1), PIXMAN_KERNEL_CUBIC,
        PIXMAN_KERNEL_CUBIC, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, 8, 8);
    std::vector<pixman_fixed_t> out(v, v + n);
    free(v);
    return out;
  }();
  return params;
}

bool NearInteger(double v) { return std::abs(v - std::round(v)) < 1e-6; }

pixman_color_t SolidAlpha(float alpha) {
  const uint16_t a = uint16_t(std::lround(std::clamp(alpha, 0.0f, 1.0f) * 65535.0f));
  return pixman_color_t{0, 0, 0, a};
}

}  // namespace

Surface::Surface(int width, int height)
    : width_(width), height_(height), image_(AllocateImage(width, height)) {
  image_.fill(0);
}

Surface::~Surface() { endPainter(); }

Surface::Surface(Surface&& other) noexcept {
  other.endPainter();
  width_ = other.width_;
  height_ = other.height_;
  image_ = std::move(other.image_);
  matrix_ = other.matrix_;
  stack_ = std::move(other.stack_);
  other.width_ = other.height_ = 0;
}

Surface& Surface::operator=(Surface&& other) noexcept {
  if (this != &other) {
    endPainter();
    other.endPainter();
    width_ = other.width_;
    height_ = other.height_;
    image_ = std::move(other.image_);
    matrix_ = other.matrix_;
    stack_ = std::move(other.stack_);
    other.width_ = other.height_ = 0;
  }
  return *this;
}

void Surface::endPainter() {
  if (painter_) {
    painter_->end();
    painter_.reset();
  }
}

QPainter& Surface::painter() {
  if (!painter_) {
    painter_ = std::make_unique<QPainter>(&image_);
    painter_->setRenderHint(QPainter::Antialiasing, true);
    painter_->setRenderHint(QPainter::SmoothPixmapTransform, true);
  }
  painter_->setWorldTransform(matrix_);
  return *painter_;
}

void Surface::flush() { endPainter(); }

void Surface::clear(uint32_t argb) {
  endPainter();
  image_.fill(Premultiply(argb));
}

void Surface::save() { stack_.push_back(matrix_); }

void Surface::restore() {
  if (stack_.empty()) return;
  matrix_ = stack_.back();
  stack_.pop_back();
}

void Surface::translate(double dx, double dy) { concat(QTransform::fromTranslate(dx, dy)); }
void Surface::scale(double sx, double sy) { concat(QTransform::fromScale(sx, sy)); }
void Surface::rotate(double degrees) {
  QTransform r;
  r.rotate(degrees);
  concat(r);
}
void Surface::concat(const QTransform& m) { matrix_ = m * matrix_; }
void Surface::resetMatrix() { matrix_.reset(); }

void Surface::drawImage(const Image& image, double x, double y, Sampling sampling,
                        const Paint* paint) {
  if (image.isEmpty()) return;
  drawImageRect(image, QRectF(0, 0, image.width(), image.height()),
                QRectF(x, y, image.width(), image.height()), sampling, paint);
}

void Surface::drawImageRect(const Image& image, const QRectF& srcIn, const QRectF& dstIn,
                            Sampling sampling, const Paint* paint) {
  if (image.isEmpty() || srcIn.isEmpty() || dstIn.isEmpty()) return;
  // A source rectangle reaching outside the image shrinks the destination with it.
  const QRectF bounds(0, 0, image.width(), image.height());
  const QRectF src = srcIn.intersected(bounds);
  if (src.isEmpty()) return;
  const double sx = dstIn.width() / srcIn.width();
  const double sy = dstIn.height() / srcIn.height();
  const QRectF dst(dstIn.x() + (src.x() - srcIn.x()) * sx, dstIn.y() + (src.y() - srcIn.y()) * sy,
                   src.width() * sx, src.height() * sy);
  composite(image, src, dst, sampling, paint);
}

void Surface::fillRect(const QRectF& rect, uint32_t argb, const Paint* paint) {
  if (rect.isEmpty()) return;
  QImage one = AllocateImage(1, 1);
  *reinterpret_cast<uint32_t*>(one.bits()) = Premultiply(argb);
  const Image solid = Image::FromQImage(one);
  // A 1 x 1 image stretched with nearest sampling is a solid fill of the rectangle.
  composite(solid, QRectF(0, 0, 1, 1), rect, Sampling::Nearest, paint);
}

void Surface::composite(const Image& image, const QRectF& src, const QRectF& dst,
                        Sampling sampling, const Paint* paint) {
  endPainter();
  const Paint p = paint ? *paint : Paint{};
  const float alpha = std::clamp(p.alpha, 0.0f, 1.0f);
  if (alpha <= 0.0f && p.mode == BlendMode::SrcOver) return;

  // Image pixels -> destination pixels.
  const QTransform local = QTransform::fromTranslate(-src.x(), -src.y()) *
                           QTransform::fromScale(dst.width() / src.width(),
                                                 dst.height() / src.height()) *
                           QTransform::fromTranslate(dst.x(), dst.y());
  const QTransform toDevice = local * matrix_;
  bool invertible = false;
  const QTransform toImage = toDevice.inverted(&invertible);
  if (!invertible) return;

  const QPolygonF quad = toDevice.map(QPolygonF(QRectF(src)));
  const QRectF devBounds = quad.boundingRect();
  const QRect box = QRect(QPoint(int(std::floor(devBounds.left())), int(std::floor(devBounds.top()))),
                          QPoint(int(std::ceil(devBounds.right())) - 1,
                                 int(std::ceil(devBounds.bottom())) - 1))
                        .intersected(QRect(0, 0, width_, height_));
  if (box.isEmpty()) return;

  const bool axisAligned = toDevice.m12() == 0.0 && toDevice.m21() == 0.0 &&
                           toDevice.type() <= QTransform::TxScale;
  const bool pixelAlignedEdges = axisAligned && NearInteger(devBounds.left()) &&
                                 NearInteger(devBounds.top()) && NearInteger(devBounds.right()) &&
                                 NearInteger(devBounds.bottom());
  // Unscaled at whole-pixel offsets every sampling picks exactly the source pixels.
  const bool exactCopy = pixelAlignedEdges && std::abs(toDevice.m11() - 1.0) < 1e-9 &&
                         std::abs(toDevice.m22() - 1.0) < 1e-9;

  // The source as a pixman image limited to the pixels of the source rectangle, so
  // that sampling clamps at its edges.
  const QRect srcPixels = QRect(QPoint(int(std::floor(src.left())), int(std::floor(src.top()))),
                                QPoint(int(std::ceil(src.right())) - 1,
                                       int(std::ceil(src.bottom())) - 1))
                              .intersected(QRect(0, 0, image.width(), image.height()));
  if (srcPixels.isEmpty()) return;
  auto* srcBits = const_cast<uint32_t*>(image.row(srcPixels.y()) + srcPixels.x());
  const QTransform toSub = toImage * QTransform::fromTranslate(-srcPixels.x(), -srcPixels.y());
  pixman_transform_t t;
  t.matrix[0][0] = pixman_double_to_fixed(toSub.m11());
  t.matrix[0][1] = pixman_double_to_fixed(toSub.m21());
  t.matrix[0][2] = pixman_double_to_fixed(toSub.dx());
  t.matrix[1][0] = pixman_double_to_fixed(toSub.m12());
  t.matrix[1][1] = pixman_double_to_fixed(toSub.m22());
  t.matrix[1][2] = pixman_double_to_fixed(toSub.dy());
  t.matrix[2][0] = 0;
  t.matrix[2][1] = 0;
  t.matrix[2][2] = pixman_fixed_1;

  // pixman images carry state they update while compositing, so every band makes its
  // own wrappers around the shared pixels.
  auto makeSource = [&] {
    PixmanImage img(pixman_image_create_bits_no_clear(PIXMAN_a8r8g8b8, srcPixels.width(),
                                                      srcPixels.height(), srcBits,
                                                      int(image.bytesPerLine())));
    if (!img.p) throw Error("Not enough memory to draw an image");
    pixman_image_set_repeat(img.p, PIXMAN_REPEAT_PAD);
    pixman_image_set_transform(img.p, &t);
    if (exactCopy || sampling == Sampling::Nearest) {
      pixman_image_set_filter(img.p, PIXMAN_FILTER_NEAREST, nullptr, 0);
    } else if (sampling == Sampling::Linear) {
      pixman_image_set_filter(img.p, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    } else {
      const auto& params = CubicFilterParams();
      pixman_image_set_filter(img.p, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params.data(),
                              int(params.size()));
    }
    return img;
  };

  uint32_t* dstBits = reinterpret_cast<uint32_t*>(image_.bits());
  const int dstStride = int(image_.bytesPerLine());
  const pixman_op_t op = ToPixmanOp(p.mode);
  const bool masked = !pixelAlignedEdges;
  auto fx = [](double v) { return pixman_double_to_fixed(v); };
  pixman_triangle_t tris[2];
  auto setTri = [&](pixman_triangle_t& tr, const QPointF& a, const QPointF& b, const QPointF& c) {
    tr.p1 = {fx(a.x()), fx(a.y())};
    tr.p2 = {fx(b.x()), fx(b.y())};
    tr.p3 = {fx(c.x()), fx(c.y())};
  };
  setTri(tris[0], quad[0], quad[1], quad[2]);
  setTri(tris[1], quad[0], quad[2], quad[3]);

  // Draws the rows [y0, y1) of the box. Bands touch disjoint destination rows.
  auto drawBand = [&](int y0, int y1) {
    const QRect band(box.x(), box.y() + y0, box.width(), y1 - y0);
    PixmanImage srcImg = makeSource();
    PixmanImage dstImg(pixman_image_create_bits_no_clear(PIXMAN_a8r8g8b8, width_, height_,
                                                         dstBits, dstStride));
    if (!dstImg.p) throw Error("Not enough memory to draw an image");

    PixmanImage mask;
    if (masked) {
      // Coverage of the (rotated or fractional) destination quad, anti-aliased.
      mask.p = pixman_image_create_bits(PIXMAN_a8, band.width(), band.height(), nullptr, 0);
      if (!mask.p) throw Error("Not enough memory to draw an image");
      pixman_add_triangles(mask.p, -band.x(), -band.y(), 2, tris);
      if (alpha < 1.0f) {
        const pixman_color_t c = SolidAlpha(alpha);
        PixmanImage solid(pixman_image_create_solid_fill(&c));
        pixman_image_composite32(PIXMAN_OP_IN, solid.p, nullptr, mask.p, 0, 0, 0, 0, 0, 0,
                                 band.width(), band.height());
      }
    } else if (alpha < 1.0f) {
      const pixman_color_t c = SolidAlpha(alpha);
      mask.p = pixman_image_create_solid_fill(&c);
    }

    if (masked && IsUnbounded(p.mode)) {
      // Composite into a copy of the band, then blend the copy with the destination by
      // coverage, so that pixels outside the quad stay untouched.
      QImage tmp = AllocateImage(band.width(), band.height());
      for (int y = 0; y < band.height(); ++y)
        std::memcpy(tmp.scanLine(y),
                    dstBits + size_t(band.y() + y) * size_t(dstStride / 4) + size_t(band.x()),
                    size_t(band.width()) * 4);
      {
        PixmanImage tmpImg(pixman_image_create_bits_no_clear(
            PIXMAN_a8r8g8b8, band.width(), band.height(),
            reinterpret_cast<uint32_t*>(tmp.bits()), int(tmp.bytesPerLine())));
        pixman_image_composite32(op, srcImg.p, nullptr, tmpImg.p, band.x(), band.y(), 0, 0, 0,
                                 0, band.width(), band.height());
      }
      const auto* cov = reinterpret_cast<const uint8_t*>(pixman_image_get_data(mask.p));
      const int covStride = pixman_image_get_stride(mask.p);
      for (int y = 0; y < band.height(); ++y) {
        uint32_t* d = dstBits + size_t(band.y() + y) * size_t(dstStride / 4) + size_t(band.x());
        const auto* s = reinterpret_cast<const uint32_t*>(tmp.constScanLine(y));
        const uint8_t* c = cov + y * covStride;
        for (int x = 0; x < band.width(); ++x) {
          const uint32_t m = c[x];
          if (m == 0) continue;
          if (m == 255) {
            d[x] = s[x];
            continue;
          }
          uint32_t out = 0;
          for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t dv = (d[x] >> shift) & 0xFF, sv = (s[x] >> shift) & 0xFF;
            out |= Div255(dv * (255 - m) + sv * m) << shift;
          }
          d[x] = out;
        }
      }
      return;
    }

    if (!mask.p || !NeedsPremaskedSource(p.mode)) {
      pixman_image_composite32(op, srcImg.p, mask.p, dstImg.p, band.x(), band.y(), 0, 0,
                               band.x(), band.y(), band.width(), band.height());
      return;
    }
    PixmanImage premasked(
        pixman_image_create_bits(PIXMAN_a8r8g8b8, band.width(), band.height(), nullptr, 0));
    if (!premasked.p) throw Error("Not enough memory to draw an image");
    pixman_image_composite32(PIXMAN_OP_SRC, srcImg.p, mask.p, premasked.p, band.x(), band.y(),
                             0, 0, 0, 0, band.width(), band.height());
    pixman_image_composite32(op, premasked.p, nullptr, dstImg.p, 0, 0, 0, 0, band.x(), band.y(),
                             band.width(), band.height());
  };

  // pixman works on one thread; large draws are split into bands of rows. The result
  // does not depend on the split: every destination pixel is computed the same way.
  constexpr int64_t kParallelPixels = 1 << 18;
  if (int64_t(box.width()) * box.height() < kParallelPixels) {
    drawBand(0, box.height());
  } else {
    ParallelFor(box.height(), drawBand, std::max(16, int(kParallelPixels / 4 / box.width())));
  }
}

Image Surface::snapshot() {
  endPainter();
  return Image::FromQImage(image_);
}

uint32_t* Surface::row(int y) {
  endPainter();
  return reinterpret_cast<uint32_t*>(image_.scanLine(y));
}

uint8_t* Surface::bits() {
  endPainter();
  return image_.bits();
}

qsizetype Surface::bytesPerLine() const { return image_.bytesPerLine(); }

bool Surface::readPixels(void* dst, qsizetype stride, AlphaType alphaType) {
  return snapshot().readPixels(dst, stride, alphaType);
}

void Surface::writePixels(const void* src, qsizetype stride, AlphaType alphaType) {
  endPainter();
  const auto* in = static_cast<const uint8_t*>(src);
  for (int y = 0; y < height_; ++y) {
    auto* d = reinterpret_cast<uint32_t*>(image_.scanLine(y));
    const uint8_t* s = in + y * stride;
    if (alphaType == AlphaType::Premultiplied) {
      std::memcpy(d, s, size_t(width_) * 4);
    } else {
      for (int x = 0; x < width_; ++x) {
        uint32_t v;
        std::memcpy(&v, s + x * 4, 4);
        d[x] = Premultiply(v);
      }
    }
  }
}

}  // namespace gfx
