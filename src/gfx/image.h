// The graphics layer's raster image: immutable, shared by reference, premultiplied.
//
// Pixels are QImage::Format_ARGB32_Premultiplied, which on little-endian machines is
// BGRA8888 premultiplied byte for byte. Copies of an Image share one image object and
// its unique id; every new object (a decode, a snapshot, a conversion) gets a new id,
// so an id compares equal exactly for the same image object. Images may be read from
// any thread.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace gfx {

// A failure of the graphics layer (allocation, decoding, encoding) with a message a
// user can read.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class AlphaType { Premultiplied, Unpremultiplied };

// How a draw maps source pixels to destination pixels. Cubic is Mitchell-Netravali
// with B = C = 1/3.
enum class Sampling { Nearest, Linear, Cubic };

class Image {
 public:
  Image() = default;

  // Takes the pixels of `image`, converting to premultiplied ARGB32 when needed.
  // A null QImage gives an empty Image; a failed conversion throws Error.
  static Image FromQImage(const QImage& image);
  // Copies a BGRA8888 buffer of the given alpha type (rows `stride` bytes apart).
  // Throws Error when the memory cannot be allocated.
  static Image FromPixels(const void* pixels, int width, int height, qsizetype stride,
                          AlphaType alphaType);

  bool isNull() const { return !d_; }
  // Null, or without pixels.
  bool isEmpty() const { return !d_ || width() <= 0 || height() <= 0; }
  int width() const;
  int height() const;
  uint64_t uniqueId() const;

  // The pixels as a QImage (Format_ARGB32_Premultiplied); a null QImage for an empty
  // Image. The QImage shares the pixels, so it is cheap and must not be written.
  const QImage& qimage() const;
  // Row y of a non-empty image (0 <= y < height()).
  const uint32_t* row(int y) const;
  qsizetype bytesPerLine() const;

  // Copies all pixels into `dst` (rows `stride` bytes apart) in the requested alpha
  // type. Returns false for an empty image.
  bool readPixels(void* dst, qsizetype stride, AlphaType alphaType) const;

  // The exact pixels of `rect` (clipped to the image) as a new image; empty when the
  // clipped rectangle is empty.
  Image subset(const QRect& rect) const;

 private:
  struct Data;
  explicit Image(std::shared_ptr<const Data> d) : d_(std::move(d)) {}
  std::shared_ptr<const Data> d_;
  friend class Surface;
};

// Allocates a premultiplied ARGB32 QImage, throwing Error with a readable message
// when the size is invalid or the memory cannot be had.
QImage AllocateImage(int width, int height);

}  // namespace gfx
