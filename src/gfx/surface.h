// A drawable raster surface: width x height premultiplied BGRA8888 pixels with a
// canvas (a matrix stack) and image drawing through pixman.
//
// Drawing an image maps the destination rectangle through the current matrix; the
// geometry's edges are anti-aliased, sampling inside clamps to the source rectangle,
// and an unscaled draw at whole-pixel offsets copies pixels exactly whatever the
// sampling. Vector work (paths, strokes, gradients, text) goes through painter(),
// a QPainter on the same pixels that carries the current matrix.
//
// A surface belongs to one thread at a time. snapshot() is cheap: the pixels are
// shared until the surface is written again.
#pragma once

#include "gfx/image.h"

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QTransform>
#include <memory>
#include <vector>

namespace gfx {

enum class BlendMode {
  Clear,
  Src,
  SrcOver,
  DestIn,
  DestOut,
  Multiply,
  Screen,
  Overlay,
  Darken,
  Lighten,
  ColorDodge,
  ColorBurn,
  HardLight,
  SoftLight,
  Difference,
  Exclusion,
  Plus,
  // Non-separable: the source's hue and saturation with the destination's luminosity.
  Color,
};

struct Paint {
  float alpha = 1.0f;  // 0..1, multiplies the source's coverage
  BlendMode mode = BlendMode::SrcOver;
};

class Surface {
 public:
  // A transparent surface. Throws Error when the size is invalid or the memory cannot
  // be allocated.
  Surface(int width, int height);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  Surface(Surface&&) noexcept;
  Surface& operator=(Surface&&) noexcept;

  int width() const { return width_; }
  int height() const { return height_; }

  // Fills every pixel with `argb` (0xAARRGGBB, unpremultiplied), ignoring the matrix.
  void clear(uint32_t argb = 0);

  // Canvas state. rotate() takes degrees, clockwise on screen (y points down).
  void save();
  void restore();
  void translate(double dx, double dy);
  void scale(double sx, double sy);
  void rotate(double degrees);
  // Pre-concatenates `m`: points go through `m` first, then the current matrix.
  void concat(const QTransform& m);
  void resetMatrix();
  const QTransform& matrix() const { return matrix_; }

  void drawImage(const Image& image, double x, double y, Sampling sampling,
                 const Paint* paint = nullptr);
  void drawImageRect(const Image& image, const QRectF& src, const QRectF& dst,
                     Sampling sampling, const Paint* paint = nullptr);
  // Fills `rect` (through the matrix) with `argb` (unpremultiplied) in the paint's
  // blend mode.
  void fillRect(const QRectF& rect, uint32_t argb, const Paint* paint = nullptr);

  // A painter on the pixels with the current matrix and anti-aliasing on. It stays
  // valid until the next non-painter operation on the surface (draw, clear, pixel
  // access, snapshot, flush), which ends it.
  QPainter& painter();

  // Ends any pending painter work.
  void flush();

  // An immutable image of the current pixels. Throws Error on allocation failure.
  Image snapshot();

  // Direct pixel access (premultiplied words). Ends the painter.
  uint32_t* row(int y);
  uint8_t* bits();
  qsizetype bytesPerLine() const;
  bool readPixels(void* dst, qsizetype stride, AlphaType alphaType);
  void writePixels(const void* src, qsizetype stride, AlphaType alphaType);

 private:
  void endPainter();
  void composite(const Image& image, const QRectF& src, const QRectF& dst,
                 Sampling sampling, const Paint* paint);

  int width_ = 0;
  int height_ = 0;
  QImage image_;
  QTransform matrix_;
  std::vector<QTransform> stack_;
  std::unique_ptr<QPainter> painter_;
};

}  // namespace gfx
