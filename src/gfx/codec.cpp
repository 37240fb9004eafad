#include "gfx/codec.h"

#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPixelFormat>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <optional>

namespace gfx {

namespace {

[[noreturn]] void Fail(const QString& message) { throw Error(message.toStdString()); }

// The first number on the line of /proc/meminfo (or any "Key: value" file) that starts
// with `key`, or nothing.
std::optional<qint64> ReadKeyedNumber(const QString& file, QByteArrayView key) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (!line.startsWith(key)) continue;
    bool ok = false;
    const qint64 v = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
    if (ok) return v;
  }
  return std::nullopt;
}

std::optional<qint64> ReadNumberFile(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  bool ok = false;
  const qint64 v = f.readAll().trimmed().toLongLong(&ok);  // "max" (no limit) fails here
  return ok ? std::optional<qint64>(v) : std::nullopt;
}

// What a container's memory limit leaves us. Inside a container /proc/meminfo shows the
// host, so without this a limited CI runner would kill the process instead of refusing
// the image. Handles cgroup v2 and the v1 memory controller.
std::optional<qint64> CgroupHeadroom() {
  QFile f(QStringLiteral("/proc/self/cgroup"));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  std::optional<qint64> best;
  auto consider = [&best](const QString& limitFile, const QString& usageFile) {
    const auto limit = ReadNumberFile(limitFile);
    const auto usage = ReadNumberFile(usageFile);
    // v1 reports "no limit" as a number near 2^63.
    if (!limit || !usage || *limit >= (qint64(1) << 60)) return false;
    const qint64 room = std::max<qint64>(0, *limit - *usage);
    best = best ? std::min(*best, room) : room;
    return true;
  };
  for (const QByteArray& line : f.readAll().split('\n')) {
    const QList<QByteArray> parts = line.split(':');
    if (parts.size() < 3) continue;
    const QString path = QString::fromUtf8(parts.mid(2).join(':'));
    if (parts[0] == "0" && parts[1].isEmpty()) {
      const QString dir = QStringLiteral("/sys/fs/cgroup") + path;
      if (!consider(dir + QStringLiteral("/memory.max"), dir + QStringLiteral("/memory.current")))
        consider(QStringLiteral("/sys/fs/cgroup/memory.max"),
                 QStringLiteral("/sys/fs/cgroup/memory.current"));
    } else if (parts[1].split(',').contains("memory")) {
      const QString dir = QStringLiteral("/sys/fs/cgroup/memory") + path;
      if (!consider(dir + QStringLiteral("/memory.limit_in_bytes"),
                    dir + QStringLiteral("/memory.usage_in_bytes")))
        consider(QStringLiteral("/sys/fs/cgroup/memory/memory.limit_in_bytes"),
                 QStringLiteral("/sys/fs/cgroup/memory/memory.usage_in_bytes"));
    }
  }
  return best;
}

// Bytes this process could still allocate without swapping or being killed, or
// nothing when the system does not say.
std::optional<qint64> AvailableMemory() {
  std::optional<qint64> avail;
  if (const auto kb = ReadKeyedNumber(QStringLiteral("/proc/meminfo"), "MemAvailable:"))
    avail = *kb * 1024;
  if (const auto room = CgroupHeadroom()) avail = avail ? std::min(*avail, *room) : *room;
  return avail;
}

// Qt refuses any decode above a fixed allocation limit (128 MB on Debian's Qt 6.4, so
// already a 33-megapixel photo). We check every image against the real free memory
// before decoding, so Qt's limit only has to stop what we could not measure: sizes a
// plugin does not declare. Physical memory is the sound bound for those. Set once,
// because the limit is process-wide and decodes run on several threads.
void RaiseQtAllocationLimit() {
  static const bool done = [] {
    const auto totalKb = ReadKeyedNumber(QStringLiteral("/proc/meminfo"), "MemTotal:");
    const qint64 totalMb = totalKb ? *totalKb / 1024 : 0;
    // Without /proc, allow what a 64-bit machine of today plausibly has.
    const qint64 limitMb = totalMb > 0 ? totalMb : qint64(64) * 1024;
    QImageReader::setAllocationLimit(
        int(std::clamp<qint64>(limitMb, QImageReader::allocationLimit(), INT_MAX)));
    return true;
  }();
  (void)done;
}

QString FormatBytes(double bytes) {
  const double gb = 1024.0 * 1024.0 * 1024.0;
  if (bytes >= gb) return QStringLiteral("%1 GB").arg(bytes / gb, 0, 'f', 1);
  return QStringLiteral("%1 MB").arg(std::ceil(bytes / (1024.0 * 1024.0)), 0, 'f', 0);
}

// Refuses a decode the free memory cannot hold. The peak of a decode is the plugin's
// buffer, plus a rotated copy when an orientation is applied, plus our premultiplied
// copy unless the decoded format already has 32 bits a pixel (Qt converts those in
// place). Computed in double: declared sizes reach 2^31 a side, whose byte counts
// overflow 64-bit integers.
void CheckFitsInMemory(QImageReader& reader) {
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty()) return;  // not declared: Qt's limit applies
  const QImage::Format format = reader.imageFormat();
  const int bits = format == QImage::Format_Invalid
                       ? 32  // the plugin does not say; nearly every decoder gives 32 bits
                       : int(QImage::toPixelFormat(format).bitsPerPixel());
  const double pixels = double(size.width()) * double(size.height());
  const double decoded = pixels * bits / 8.0;
  double need = decoded;
  if (reader.transformation() != QImageIOHandler::TransformationNone) need += decoded;
  if (bits != 32) need += pixels * 4.0;

  const auto available = AvailableMemory();
  if (available && need > double(*available))
    Fail(QStringLiteral("The image is too large to open: %1 x %2 pixels need %3 of memory, "
                        "and only %4 are available")
             .arg(size.width())
             .arg(size.height())
             .arg(FormatBytes(need), FormatBytes(double(*available))));
}

Image Decode(QIODevice* device) {
  RaiseQtAllocationLimit();
  QImageReader reader(device);
  // Cameras store pictures sideways with an orientation tag; users expect them upright.
  reader.setAutoTransform(true);
  if (!reader.canRead())
    Fail(QStringLiteral("The file is not an image in a format this program can read"));
  CheckFitsInMemory(reader);

  QImage decoded;
  if (!reader.read(&decoded) || decoded.isNull()) {
    Fail(QStringLiteral("The image cannot be decoded (%1); the file may be damaged or "
                        "truncated")
             .arg(reader.errorString()));
  }
  // The rvalue conversion reuses the buffer for 32-bit formats, so a large photo is
  // never held twice.
  QImage premultiplied = std::move(decoded).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (premultiplied.isNull())
    Fail(QStringLiteral("Not enough memory for an image of %1 x %2 pixels")
             .arg(reader.size().width())
             .arg(reader.size().height()));
  return Image::FromQImage(premultiplied);
}

const char* FormatName(FileFormat format) {
  switch (format) {
    case FileFormat::Jpeg:
      return "JPEG";
    case FileFormat::Png:
      return "PNG";
    case FileFormat::WebP:
      return "WebP";
  }
  return "?";
}

bool HasTranslucentPixel(const Image& image) {
  std::atomic<bool> found{false};
  ParallelFor(image.height(), [&](int begin, int end) {
    for (int y = begin; y < end && !found.load(std::memory_order_relaxed); ++y) {
      const uint32_t* row = image.row(y);
      for (int x = 0; x < image.width(); ++x)
        if (AlphaOf(row[x]) != 255) {
          found = true;
          return;
        }
    }
  });
  return found;
}

// Premultiplied source over opaque white: c + 255 * (1 - a / 255) = c + 255 - a, exact
// in integers. Colour bytes above alpha (invalid premultiplied data) saturate.
QImage OverWhite(const Image& image) {
  QImage out(image.width(), image.height(), QImage::Format_RGB32);
  if (out.isNull())
    Fail(QStringLiteral("Not enough memory to encode an image of %1 x %2 pixels")
             .arg(image.width())
             .arg(image.height()));
  ParallelFor(image.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const uint32_t* src = image.row(y);
      auto* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        const uint32_t p = src[x];
        const uint32_t white = 255 - AlphaOf(p);
        auto ch = [white](uint32_t c) { return std::min<uint32_t>(c + white, 255); };
        dst[x] = PackArgb(255, ch(RedOf(p)), ch(GreenOf(p)), ch(BlueOf(p)));
      }
    }
  });
  return out;
}

}  // namespace

Image DecodeImageFile(const QString& path) {
  if (QFileInfo(path).isDir()) Fail(QStringLiteral("%1 is a folder, not an image file").arg(path));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    Fail(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
  return Decode(&file);
}

Image DecodeImageData(const QByteArray& data) {
  QBuffer buffer;
  buffer.setData(data);  // shares the bytes, no copy
  buffer.open(QIODevice::ReadOnly);
  return Decode(&buffer);
}

QByteArray EncodeImage(const Image& image, FileFormat format, int quality) {
  if (image.isEmpty()) Fail(QStringLiteral("There is no image to save"));
  // The limits of libjpeg and libwebp; past them the plugins fail with no useful message.
  const int maxSide = format == FileFormat::Jpeg   ? 65500
                      : format == FileFormat::WebP ? 16383
                                                   : INT_MAX;
  if (image.width() > maxSide || image.height() > maxSide)
    Fail(QStringLiteral("%1 images cannot be larger than %2 x %2 pixels; this one is %3 x %4")
             .arg(QString::fromLatin1(FormatName(format)))
             .arg(maxSide)
             .arg(image.width())
             .arg(image.height()));

  const bool translucent = HasTranslucentPixel(image);
  QImage pixels;
  if (format == FileFormat::Jpeg && translucent) {
    pixels = OverWhite(image);
  } else {
    // A read-only view of the image's buffer: setting the resolution on the shared
    // QImage itself would copy every pixel. An opaque picture is viewed as RGB32 (the
    // same bytes, since every alpha is 255), so PNG and WebP leave out an alpha
    // channel that would only make the file larger.
    const QImage& q = image.qimage();
    pixels = QImage(q.constBits(), q.width(), q.height(), q.bytesPerLine(),
                    translucent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  }
  pixels.setDotsPerMeterX(kDotsPerMeter300Dpi);
  pixels.setDotsPerMeterY(kDotsPerMeter300Dpi);

  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  const char* plugin = format == FileFormat::Jpeg  ? "jpeg"
                       : format == FileFormat::Png ? "png"
                                                   : "webp";
  QImageWriter writer(&buffer, plugin);
  // Qt's PNG writer would read a quality as a zlib level; PNG stays at its default.
  if (format != FileFormat::Png) writer.setQuality(std::clamp(quality, 0, 100));
  if (!writer.write(pixels)) {
    if (writer.error() == QImageWriter::UnsupportedFormatError)
      Fail(QStringLiteral("This installation cannot write %1 images (the Qt image format "
                          "plugins are missing)")
               .arg(QString::fromLatin1(FormatName(format))));
    Fail(QStringLiteral("The image cannot be encoded as %1: %2")
             .arg(QString::fromLatin1(FormatName(format)), writer.errorString()));
  }
  return bytes;
}

}  // namespace gfx
