#include "gfx/image.h"

#include "gfx/pixel.h"

#include <QString>
#include <atomic>
#include <cstring>

namespace gfx {

namespace {
std::atomic<uint64_t> g_nextImageId{1};
}

struct Image::Data {
  explicit Data(QImage img) : image(std::move(img)), id(g_nextImageId.fetch_add(1)) {}
  QImage image;
  uint64_t id;
};

QImage AllocateImage(int width, int height) {
  if (width <= 0 || height <= 0)
    throw Error(QStringLiteral("Invalid image size %1 x %2").arg(width).arg(height).toStdString());
  QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
  if (img.isNull())
    throw Error(QStringLiteral("Not enough memory for an image of %1 x %2 pixels")
                    .arg(width)
                    .arg(height)
                    .toStdString());
  return img;
}

Image Image::FromQImage(const QImage& image) {
  if (image.isNull()) return Image();
  if (image.format() == QImage::Format_ARGB32_Premultiplied)
    return Image(std::make_shared<const Data>(image));
  QImage converted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (converted.isNull())
    throw Error(QStringLiteral("Not enough memory for an image of %1 x %2 pixels")
                    .arg(image.width())
                    .arg(image.height())
                    .toStdString());
  return Image(std::make_shared<const Data>(std::move(converted)));
}

Image Image::FromPixels(const void* pixels, int width, int height, qsizetype stride,
                        AlphaType alphaType) {
  QImage img = AllocateImage(width, height);
  const auto* src = static_cast<const uint8_t*>(pixels);
  for (int y = 0; y < height; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(img.scanLine(y));
    const uint8_t* s = src + y * stride;
    if (alphaType == AlphaType::Premultiplied) {
      std::memcpy(dst, s, size_t(width) * 4);
    } else {
      for (int x = 0; x < width; ++x) {
        uint32_t p;
        std::memcpy(&p, s + x * 4, 4);
        dst[x] = Premultiply(p);
      }
    }
  }
  return Image(std::make_shared<const Data>(std::move(img)));
}

int Image::width() const { return d_ ? d_->image.width() : 0; }
int Image::height() const { return d_ ? d_->image.height() : 0; }
uint64_t Image::uniqueId() const { return d_ ? d_->id : 0; }

const QImage& Image::qimage() const {
  static const QImage kNull;
  return d_ ? d_->image : kNull;
}

const uint32_t* Image::row(int y) const {
  return reinterpret_cast<const uint32_t*>(d_->image.constScanLine(y));
}

qsizetype Image::bytesPerLine() const { return d_ ? d_->image.bytesPerLine() : 0; }

bool Image::readPixels(void* dst, qsizetype stride, AlphaType alphaType) const {
  if (isEmpty()) return false;
  auto* out = static_cast<uint8_t*>(dst);
  const int w = width();
  for (int y = 0; y < height(); ++y) {
    const uint32_t* s = row(y);
    uint8_t* d = out + y * stride;
    if (alphaType == AlphaType::Premultiplied) {
      std::memcpy(d, s, size_t(w) * 4);
    } else {
      for (int x = 0; x < w; ++x) {
        const uint32_t p = Unpremultiply(s[x]);
        std::memcpy(d + x * 4, &p, 4);
      }
    }
  }
  return true;
}

Image Image::subset(const QRect& rect) const {
  if (isEmpty()) return Image();
  const QRect r = rect.intersected(QRect(0, 0, width(), height()));
  if (r.isEmpty()) return Image();
  QImage img = AllocateImage(r.width(), r.height());
  for (int y = 0; y < r.height(); ++y)
    std::memcpy(img.scanLine(y), row(r.y() + y) + r.x(), size_t(r.width()) * 4);
  return Image(std::make_shared<const Data>(std::move(img)));
}

}  // namespace gfx
