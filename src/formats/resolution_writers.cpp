#include "formats/resolution_writers.h"

#include "formats/image_save.h"
#include "gfx/image.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

namespace quillora {

namespace {

// The Exif APP1 segment: a little-endian TIFF header and one directory of three
// entries (X resolution, Y resolution, unit), offsets counted from the "II".
constexpr std::array<uint8_t, 76> kExifResolutionBlock = {
    0xFF, 0xE1, 0x00, 0x4A,                          // APP1, length 74
    0x45, 0x78, 0x69, 0x66, 0x00, 0x00,              // "Exif\0\0"
    0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,  // "II", 42, first directory at 8
    0x03, 0x00,                                      // three entries
    0x1A, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00,  // X res at 50
    0x1B, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3A, 0x00, 0x00, 0x00,  // Y res at 58
    0x28, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // unit: inch
    0x00, 0x00, 0x00, 0x00,                                                  // no next directory
    0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,                          // 300 / 1
    0x2C, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,                          // 300 / 1
};

constexpr uint8_t kExifId[6] = {0x45, 0x78, 0x69, 0x66, 0x00, 0x00};
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kPngMaxChunkLength = 0x7FFFFFFF;  // the PNG limit; larger is corrupt

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  static constexpr std::array<uint32_t, 256> table = MakeCrcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void AppendBigEndian32(QByteArray& out, uint32_t v) {
  out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

QByteArray PhysChunk300Dpi() {
  QByteArray chunk;
  AppendBigEndian32(chunk, 9);
  chunk.append("pHYs", 4);
  AppendBigEndian32(chunk, 11811);
  AppendBigEndian32(chunk, 11811);
  chunk.append(char(1));  // unit: metre
  AppendBigEndian32(chunk, Crc32(reinterpret_cast<const uint8_t*>(chunk.constData()) + 4, 4 + 9));
  return chunk;
}

// APPn and COM: the header segments that come before the image's tables. Their
// length field counts itself, so it is at least 2.
bool IsHeaderSegment(uint8_t marker) {
  return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

void RewriteFile(const QString& path, const std::function<QByteArray(const QByteArray&)>& rewrite) {
  if (!QFileInfo(path).isFile()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw gfx::Error(
        QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()).toStdString());
  const QByteArray before = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw gfx::Error(
        QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()).toStdString());
  file.close();
  const QByteArray after = rewrite(before);
  if (after != before) WriteFileAtomically(path, after);
}

}  // namespace

QByteArray SetJPEGDPITo300(const QByteArray& jpeg) {
  const auto* d = reinterpret_cast<const uint8_t*>(jpeg.constData());
  const qsizetype n = jpeg.size();
  if (n < 2 || d[0] != 0xFF || d[1] != 0xD8) return jpeg;

  QByteArray out;
  out.reserve(n + qsizetype(kExifResolutionBlock.size()));
  out.append(jpeg.constData(), 2);
  bool blockWritten = false;
  auto writeBlock = [&] {
    if (blockWritten) return;
    out.append(reinterpret_cast<const char*>(kExifResolutionBlock.data()),
               qsizetype(kExifResolutionBlock.size()));
    blockWritten = true;
  };
  auto copyRest = [&](qsizetype from) {
    out.append(jpeg.constData() + from, n - from);
    return out;
  };

  qsizetype pos = 2;
  // Every exit that returns `out` has reached the image's tables and copied the rest; a
  // file that ends inside its header has no image and is returned as it came.
  while (pos + 2 <= n) {
    const uint8_t lead = d[pos], marker = d[pos + 1];
    if (lead != 0xFF) {
      // Stray bytes between header segments: kept as they are. After our block the
      // header is over as far as we are concerned.
      if (blockWritten) return copyRest(pos);
      out.append(jpeg.constData() + pos, 2);
      pos += 2;
      continue;
    }
    if (!IsHeaderSegment(marker)) {
      writeBlock();
      return copyRest(pos);
    }
    if (pos + 4 > n) return jpeg;
    const qsizetype length = (qsizetype(d[pos + 2]) << 8) | d[pos + 3];
    if (length < 2 || pos + 2 + length > n) return jpeg;
    const qsizetype end = pos + 2 + length;
    const bool exif =
        marker == 0xE1 && length >= 2 + 6 && std::equal(kExifId, kExifId + 6, d + pos + 4);
    if (!exif) {
      // APP0 is followed by our block; any APPn other than APP0 and APP1 is preceded
      // by it. APP1 (XMP and others) may come before it and is copied either way.
      if (marker != 0xE0 && marker != 0xE1) writeBlock();
      out.append(jpeg.constData() + pos, end - pos);
      if (marker == 0xE0) writeBlock();
    }
    pos = end;
  }
  return jpeg;
}

QByteArray InsertPngDPI300(const QByteArray& png) {
  const auto* d = reinterpret_cast<const uint8_t*>(png.constData());
  const qsizetype n = png.size();
  if (n < 8 || !std::equal(kPngSignature, kPngSignature + 8, d)) return png;

  // The whole size of the chunk at `pos` (header, data, CRC), or 0 when it does not fit.
  auto chunkSize = [&](qsizetype pos) -> qsizetype {
    if (pos + 12 > n) return 0;
    const uint32_t length = BigEndian32(d + pos);
    if (length > kPngMaxChunkLength || pos + 12 + qsizetype(length) > n) return 0;
    return 12 + qsizetype(length);
  };
  auto typeIs = [&](qsizetype pos, const char* type) {
    return std::equal(type, type + 4, reinterpret_cast<const char*>(d + pos + 4));
  };

  const qsizetype ihdrSize = chunkSize(8);
  if (ihdrSize == 0 || !typeIs(8, "IHDR")) return png;

  QByteArray out;
  out.reserve(n + 21);
  out.append(png.constData(), 8 + ihdrSize);
  out.append(PhysChunk300Dpi());
  for (qsizetype pos = 8 + ihdrSize; pos < n;) {
    const qsizetype size = chunkSize(pos);
    if (size == 0) return png;
    if (!typeIs(pos, "pHYs")) out.append(png.constData() + pos, size);
    pos += size;
    if (typeIs(pos - size, "IEND")) {
      out.append(png.constData() + pos, n - pos);  // whatever follows the image, untouched
      return out;
    }
  }
  return png;  // no IEND: truncated
}

void SetJPEGDPITo300(const QString& path) {
  RewriteFile(path, [](const QByteArray& b) { return SetJPEGDPITo300(b); });
}

void InsertPngDPI300(const QString& path) {
  RewriteFile(path, [](const QByteArray& b) { return InsertPngDPI300(b); });
}

}  // namespace quillora
