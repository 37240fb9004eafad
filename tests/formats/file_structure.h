// Independent, bounds-checked readers of JPEG and PNG structure, so the tests can look
// at what the writers and encoders produced without trusting the code under test.
#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>

namespace testutil {

struct PngChunk {
  QByteArray type;
  QByteArray data;
  uint32_t crc = 0;
};

// The chunks of a PNG in order; empty when the signature is wrong or a chunk does not
// fit in the file.
inline QList<PngChunk> PngChunks(const QByteArray& png) {
  if (!png.startsWith(QByteArray::fromHex("89504E470D0A1A0A"))) return {};
  auto be32 = [&](qsizetype p) {
    const auto* u = reinterpret_cast<const uint8_t*>(png.constData() + p);
    return (uint32_t(u[0]) << 24) | (uint32_t(u[1]) << 16) | (uint32_t(u[2]) << 8) | u[3];
  };
  QList<PngChunk> chunks;
  for (qsizetype pos = 8; pos < png.size();) {
    if (pos + 12 > png.size()) return {};
    const qsizetype length = be32(pos);
    if (pos + 12 + length > png.size()) return {};
    chunks.append({png.mid(pos + 4, 4), png.mid(pos + 8, length), be32(pos + 8 + length)});
    pos += 12 + length;
  }
  return chunks;
}

// The header segments of a JPEG (from after SOI up to the first marker that is not
// APPn or COM), each with its marker and length bytes; empty when malformed.
inline QList<QByteArray> JpegHeaderSegments(const QByteArray& jpeg) {
  if (!jpeg.startsWith("\xFF\xD8")) return {};
  QList<QByteArray> segments;
  qsizetype pos = 2;
  while (pos + 4 <= jpeg.size() && uint8_t(jpeg[pos]) == 0xFF) {
    const uint8_t marker = uint8_t(jpeg[pos + 1]);
    if (!((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE)) break;
    const qsizetype length = (qsizetype(uint8_t(jpeg[pos + 2])) << 8) | uint8_t(jpeg[pos + 3]);
    if (length < 2 || pos + 2 + length > jpeg.size()) return {};
    segments.append(jpeg.mid(pos, 2 + length));
    pos += 2 + length;
  }
  return segments;
}

// The resolution block as the file format documents it, spelled out once for all tests.
inline QByteArray ExifResolutionBlock() {
  return QByteArray::fromHex(
      "FFE1004A"          // APP1, length 74
      "457869660000"      // Exif\0\0
      "49492A0008000000"  // II, 42, first directory at 8
      "0300"              // three entries
      "1A01050001000000"
      "32000000"  // X resolution, rational, value at 50
      "1B01050001000000"
      "3A000000"  // Y resolution, rational, value at 58
      "2801030001000000"
      "02000000"            // resolution unit, short, 2 = inch
      "00000000"            // no next directory
      "2C01000001000000"    // 300 / 1
      "2C01000001000000");  // 300 / 1
}

}  // namespace testutil
