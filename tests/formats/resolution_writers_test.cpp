#include "formats/resolution_writers.h"

#include "formats/file_structure.h"
#include "gfx/codec.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

using namespace quillora;

namespace {

QByteArray Hex(const char* hex) { return QByteArray::fromHex(hex); }

// Small but well-formed JPEG pieces. The writers never look past the header, so the
// "image" is one DQT-like segment and EOI.
const QByteArray kSoi = Hex("FFD8");
const QByteArray kJfif = Hex("FFE000104A46494600010101012C012C0000");
const QByteArray kOldExif = Hex("FFE1000E4578696600004D4D002A0000");  // Exif, big-endian TIFF
const QByteArray kXmp = Hex("FFE1000A687474703A2F2F6E");              // "http://n"
const QByteArray kIcc = Hex("FFE2000649434300");                      // APP2
const QByteArray kImage = Hex("FFDB0004AABBFFD9");
const QByteArray kBlock = testutil::ExifResolutionBlock();

struct JpegCase {
  const char* name;
  QByteArray input;
  QByteArray expected;
};

TEST(SetJPEGDPITo300, RewritesHeadersByteForByte) {
  const JpegCase cases[] = {
      {"JFIF APP0 then tables", kSoi + kJfif + kImage, kSoi + kJfif + kBlock + kImage},
      {"existing Exif replaced", kSoi + kJfif + kOldExif + kImage, kSoi + kJfif + kBlock + kImage},
      {"Exif before APP0 dropped", kSoi + kOldExif + kJfif + kImage,
       kSoi + kJfif + kBlock + kImage},
      {"XMP APP1 kept", kSoi + kJfif + kXmp + kImage, kSoi + kJfif + kBlock + kXmp + kImage},
      {"no APP0", kSoi + kImage, kSoi + kBlock + kImage},
      {"XMP first, no APP0", kSoi + kXmp + kImage, kSoi + kXmp + kBlock + kImage},
      {"Exif behind an APP2 dropped too", kSoi + kIcc + kOldExif + kImage,
       kSoi + kBlock + kIcc + kImage},
      // The bytes spell "Exif\0\0" but the segment ends one byte earlier: a plain APP1,
      // copied, and the stray zero after it stays too (read literally, the rule would
      // take the zero as part of the identifier and skip -1 bytes).
      {"APP1 of length 7", kSoi + kJfif + Hex("FFE10007457869660000") + kImage,
       kSoi + kJfif + kBlock + Hex("FFE10007457869660000") + kImage},
      {"Exif of length 8, no TIFF", kSoi + kJfif + Hex("FFE10008457869660000") + kImage,
       kSoi + kJfif + kBlock + kImage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray once = SetJPEGDPITo300(c.input);
    EXPECT_EQ(once.toHex(), c.expected.toHex());
    EXPECT_EQ(SetJPEGDPITo300(once).toHex(), once.toHex()) << "a second pass changes nothing";
  }
}

TEST(SetJPEGDPITo300, ReturnsMalformedInputUnchanged) {
  const std::pair<const char*, QByteArray> cases[] = {
      {"empty", QByteArray()},
      {"one byte", Hex("FF")},
      {"no SOI", Hex("FFD9") + kJfif + kImage},
      {"a PNG", Hex("89504E470D0A1A0A0000000D49484452")},
      {"only SOI and a stray byte", Hex("FFD800")},
      {"APP0 length 0", kSoi + Hex("FFE00000") + kImage},
      {"APP0 length 1", kSoi + Hex("FFE00001") + kImage},
      {"APP1 length 0", kSoi + Hex("FFE10000") + kImage},
      {"APP1 length 1", kSoi + kJfif + Hex("FFE10001") + kImage},
      {"APP1 length beyond the end", kSoi + kJfif + Hex("FFE1FFFF457869660000")},
      {"APP0 length beyond the end", kSoi + Hex("FFE0FFFF4A464946") + kImage},
      {"length field cut off", kSoi + Hex("FFE000")},
      {"ends after the header", kSoi + kJfif},
      {"ends after the header with a stray byte", kSoi + kJfif + Hex("00")},
      {"later APP2 beyond the end", kSoi + kJfif + Hex("FFE2FFFF00")},
  };
  for (const auto& [name, input] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(SetJPEGDPITo300(input).toHex(), input.toHex());
  }
}

// A 1 x 1 PNG (IHDR, IDAT, IEND, all with correct CRCs).
const QByteArray kSignature = Hex("89504E470D0A1A0A");
const QByteArray kIhdr = Hex("0000000D49484452000000010000000108060000001F15C489");
const QByteArray kIdat = Hex("0000000D49444154789C63F8CFC0F01F00050001FF89993D1D");
const QByteArray kIend = Hex("0000000049454E44AE426082");
const QByteArray kGama = Hex("0000000467414D410000B18F0BFC6105");
const QByteArray kPhys72 = Hex("000000097048597300000B1300000B1301009A9C18");
// 11811 px/m both ways, unit metre, CRC-32 over type and data.
const QByteArray kPhys300 = Hex("000000097048597300002E2300002E230178A53F76");

TEST(InsertPngDPI300, LeavesExactlyOnePhysRightAfterIhdr) {
  const QByteArray expected = kSignature + kIhdr + kPhys300 + kGama + kIdat + kIend;
  const JpegCase cases[] = {
      {"no pHYs", kSignature + kIhdr + kGama + kIdat + kIend, expected},
      {"encoder's pHYs replaced", kSignature + kIhdr + kPhys72 + kGama + kIdat + kIend, expected},
      {"pHYs elsewhere moved", kSignature + kIhdr + kGama + kPhys72 + kIdat + kIend, expected},
      {"two pHYs become one", kSignature + kIhdr + kPhys72 + kGama + kPhys300 + kIdat + kIend,
       expected},
      {"bytes after IEND kept", kSignature + kIhdr + kGama + kIdat + kIend + Hex("0102"),
       expected + Hex("0102")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray once = InsertPngDPI300(c.input);
    EXPECT_EQ(once.toHex(), c.expected.toHex());
    EXPECT_EQ(InsertPngDPI300(once).toHex(), once.toHex()) << "a second pass changes nothing";
  }
}

TEST(InsertPngDPI300, ReturnsMalformedInputUnchanged) {
  const std::pair<const char*, QByteArray> cases[] = {
      {"empty", QByteArray()},
      {"shorter than the signature", Hex("89504E47")},
      {"not a PNG", kSoi + kJfif + kImage},
      {"first chunk length beyond the end", kSignature + Hex("7FFFFFF049484452") + kIdat + kIend},
      {"first chunk length above the PNG limit", kSignature + Hex("FFFFFFFF49484452") + kIend},
      {"first chunk cut off", kSignature + kIhdr.left(20)},
      {"first chunk not IHDR", kSignature + kGama + kIhdr + kIdat + kIend},
      {"later chunk length beyond the end", kSignature + kIhdr + Hex("0000FFFF49444154") + kIend},
      {"no IEND", kSignature + kIhdr + kIdat},
  };
  for (const auto& [name, input] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(InsertPngDPI300(input).toHex(), input.toHex());
  }
}

QByteArray Encode(const char* format) {
  QImage image(5, 3, QImage::Format_RGB32);
  image.fill(0xFF336699);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format));
  return bytes;
}

int DotsPerMeterOf(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer);
  const QImage image = reader.read();
  EXPECT_FALSE(image.isNull()) << qPrintable(reader.errorString());
  EXPECT_EQ(image.dotsPerMeterX(), image.dotsPerMeterY());
  return image.dotsPerMeterX();
}

// Qt's own encoders are the real inputs: JFIF APP0 first, and a pHYs chunk of Qt's own.
TEST(ResolutionWriters, QtEncodedFilesStayDecodableWithTheBlockInPlace) {
  const QByteArray jpeg = SetJPEGDPITo300(Encode("jpeg"));
  const QList<QByteArray> segments = testutil::JpegHeaderSegments(jpeg);
  ASSERT_GE(segments.size(), 2);
  EXPECT_TRUE(segments[0].startsWith("\xFF\xE0")) << "APP0 stays first";
  EXPECT_EQ(segments[1].toHex(), kBlock.toHex());
  EXPECT_GT(DotsPerMeterOf(jpeg), 0);

  const QByteArray png = InsertPngDPI300(Encode("png"));
  const QList<testutil::PngChunk> chunks = testutil::PngChunks(png);
  ASSERT_GE(chunks.size(), 3);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[1].type, "pHYs");
  EXPECT_EQ(chunks[1].data.toHex(), "00002e2300002e2301");
  EXPECT_EQ(std::count_if(chunks.begin(), chunks.end(),
                          [](const testutil::PngChunk& c) { return c.type == "pHYs"; }),
            1);
  EXPECT_EQ(DotsPerMeterOf(png), 11811);
}

TEST(ResolutionWriters, PathVersionsRewriteInPlaceAndIgnoreMissingFiles) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString jpegPath = dir.filePath(QStringLiteral("a.jpg"));
  const QString pngPath = dir.filePath(QStringLiteral("a.png"));
  const QString junkPath = dir.filePath(QStringLiteral("junk.jpg"));
  auto write = [](const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  };
  auto read = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  write(jpegPath, kSoi + kJfif + kImage);
  write(pngPath, kSignature + kIhdr + kIdat + kIend);
  write(junkPath, Hex("FFD8FFE00001"));

  SetJPEGDPITo300(jpegPath);
  InsertPngDPI300(pngPath);
  SetJPEGDPITo300(junkPath);
  EXPECT_EQ(read(jpegPath).toHex(), (kSoi + kJfif + kBlock + kImage).toHex());
  EXPECT_EQ(read(pngPath).toHex(), (kSignature + kIhdr + kPhys300 + kIdat + kIend).toHex());
  EXPECT_EQ(read(junkPath).toHex(), "ffd8ffe00001");

  const QString missing = dir.filePath(QStringLiteral("missing.jpg"));
  EXPECT_NO_THROW(SetJPEGDPITo300(missing));
  EXPECT_NO_THROW(InsertPngDPI300(dir.filePath(QStringLiteral("missing.png"))));
  EXPECT_FALSE(QFile::exists(missing));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3) << "no temporary file left";
}

}  // namespace
