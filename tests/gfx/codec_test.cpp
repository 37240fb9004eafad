#include "gfx/codec.h"

#include "test_util.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <array>
#include <cstdlib>

namespace {

QByteArray Hex(const char* hex) { return QByteArray::fromHex(hex); }

void AppendBigEndian32(QByteArray& out, uint32_t v) {
  out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

uint32_t Crc32(const QByteArray& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (char ch : bytes) {
    c ^= uint8_t(ch);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return ~c;
}

QByteArray PngChunk(const char* type, const QByteArray& data) {
  QByteArray chunk;
  AppendBigEndian32(chunk, uint32_t(data.size()));
  const QByteArray body = QByteArray(type, 4) + data;
  chunk += body;
  AppendBigEndian32(chunk, Crc32(body));
  return chunk;
}

// An 8-bit RGB PNG of the given size whose rows are all zero (black). The zlib stream
// is written by hand, one literal followed by 258-byte matches at distance 1 in a fixed
// Huffman block (13 bits per 258 bytes), so a 108-megapixel picture costs 2 MB and a
// few milliseconds to build instead of its 324 MB of rows.
QByteArray BlackPng(int width, int height) {
  const qint64 n = qint64(height) * (1 + qint64(width) * 3);
  QByteArray z("\x78\x01", 2);
  uint64_t acc = 0;
  int bits = 0;
  auto put = [&](uint32_t value, int count) {
    acc |= uint64_t(value) << bits;
    for (bits += count; bits >= 8; bits -= 8, acc >>= 8) z.append(char(acc & 0xFF));
  };
  auto putCode = [&](uint32_t code, int length) {  // Huffman codes go high bit first
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
    put(reversed, length);
  };
  put(1, 1);         // final block
  put(1, 2);         // fixed Huffman codes
  putCode(0x30, 8);  // literal 0
  qint64 left = n - 1;
  for (; left >= 258; left -= 258) {
    putCode(0xC5, 8);  // length 258
    putCode(0, 5);     // distance 1
  }
  for (; left > 0; --left) putCode(0x30, 8);
  putCode(0, 7);  // end of block
  if (bits) put(0, 8 - bits);
  AppendBigEndian32(z, (uint32_t(n % 65521) << 16) | 1);  // Adler-32 of n zero bytes

  QByteArray ihdr;
  AppendBigEndian32(ihdr, uint32_t(width));
  AppendBigEndian32(ihdr, uint32_t(height));
  ihdr += Hex("0802000000");  // 8 bits, RGB, deflate, no filter, not interlaced
  return Hex("89504E470D0A1A0A") + PngChunk("IHDR", ihdr) + PngChunk("IDAT", z) +
         PngChunk("IEND", {});
}

// A PNG whose IHDR declares `side` x `side` pixels, followed by ten bytes of image data.
QByteArray PngDeclaring(uint32_t side) {
  QByteArray ihdr;
  AppendBigEndian32(ihdr, side);
  AppendBigEndian32(ihdr, side);
  ihdr += Hex("0802000000");
  return Hex("89504E470D0A1A0A") + PngChunk("IHDR", ihdr) +
         Hex("0000000B49444154789C6360800100000A00017F80745E") + PngChunk("IEND", {});
}

std::string DecodeError(const QByteArray& bytes) {
  try {
    const gfx::Image image = gfx::DecodeImageData(bytes);
    return "decoded " + std::to_string(image.width()) + " x " + std::to_string(image.height());
  } catch (const gfx::Error& e) {
    return e.what();
  }
}

TEST(DecodeImage, RefusesWhatItCannotDecodeWithAReadableError) {
  const QByteArray png = BlackPng(4, 4);
  const std::pair<const char*, QByteArray> cases[] = {
      {"not an image", QByteArray("garbage bytes, certainly no picture in here")},
      {"not an image", QByteArray()},
      {"cannot be decoded", png.left(png.size() - 30)},  // IDAT cut short, no IEND
      // 3.6 TB decoded: no machine holds it, so the declared size alone refuses it.
      {"too large to open: 1000000 x 1000000 pixels", PngDeclaring(1000000)},
  };
  for (const auto& [expected, bytes] : cases) {
    SCOPED_TRACE(expected);
    EXPECT_NE(DecodeError(bytes).find(expected), std::string::npos) << DecodeError(bytes);
  }
  // 37 GB, refused as too large here; a machine with that much free memory gets the
  // decoder's error about the missing data instead. Past 2^31 pixels a side (beyond the
  // PNG library, and beyond 64-bit byte counts) it is the decoder's error everywhere.
  // Never a crash or an empty image.
  for (uint32_t side : {100000u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(side);
    const std::string error = DecodeError(PngDeclaring(side));
    EXPECT_TRUE(error.find("too large to open") != std::string::npos ||
                error.find("cannot be decoded") != std::string::npos)
        << error;
  }
}

TEST(DecodeImage, FileErrorsNameTheReason) {
  QTemporaryDir dir;
  EXPECT_THROW(
      {
        try {
          gfx::DecodeImageFile(dir.filePath(QStringLiteral("missing.png")));
        } catch (const gfx::Error& e) {
          EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
          throw;
        }
      },
      gfx::Error);
  EXPECT_THROW(gfx::DecodeImageFile(dir.path()), gfx::Error);
}

// 12000 x 9000 RGB decodes to 432 MB, far above the 128 MB Qt refuses by default.
TEST(DecodeImage, HundredMegapixelPhotoLoads) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("large.png"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(BlackPng(12000, 9000));
  }
  const gfx::Image image = gfx::DecodeImageFile(path);
  ASSERT_EQ(image.width(), 12000);
  ASSERT_EQ(image.height(), 9000);
  EXPECT_EQ(testutil::PixelAt(image, 0, 0), 0xFF000000u);
  EXPECT_EQ(testutil::PixelAt(image, 11999, 8999), 0xFF000000u);
}

QByteArray QtJpeg(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(95);
  EXPECT_TRUE(writer.write(image));
  return bytes;
}

TEST(DecodeImage, CameraOrientationIsApplied) {
  // Stored 16 wide and 8 high, left half red; orientation 6 says "turn 90 degrees
  // clockwise to view", so it shows 8 wide and 16 high with red on top.
  QImage stored(16, 8, QImage::Format_RGB32);
  stored.fill(0xFF0000FF);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) stored.setPixel(x, y, 0xFFFF0000);
  QByteArray jpeg = QtJpeg(stored);
  const int app0End = 4 + ((uint8_t(jpeg[4]) << 8) | uint8_t(jpeg[5]));
  ASSERT_EQ(uint8_t(jpeg[3]), 0xE0);
  jpeg.insert(app0End, Hex("FFE10022457869660000"  // APP1, length 34, Exif
                           "49492A0008000000"
                           "0100"  // II, 42, one entry
                           "1201030001000000"
                           "06000000"  // orientation, short, 6
                           "00000000"));
  const gfx::Image image = gfx::DecodeImageData(jpeg);
  ASSERT_EQ(image.width(), 8);
  ASSERT_EQ(image.height(), 16);
  EXPECT_GT(testutil::PixelAt(image, 4, 2) & 0xFF0000, 0xC00000u) << "red on top";
  EXPECT_GT(testutil::PixelAt(image, 4, 13) & 0xFF, 0xC0u) << "blue below";
}

TEST(EncodeImage, JpegPutsTranslucencyOnWhite) {
  std::vector<uint32_t> px(16 * 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) px[size_t(y * 16 + x)] = x < 8 ? 0x80FF0000 : 0x00000000;
  const gfx::Image back = gfx::DecodeImageData(
      gfx::EncodeImage(testutil::MakeImage(16, 16, px), gfx::FileFormat::Jpeg));
  // Away from the edge between the halves, which chroma subsampling blurs.
  auto near = [&](int x, int y, uint32_t argb) {
    const uint32_t p = testutil::PixelAt(back, x, y);
    for (int s = 0; s < 32; s += 8)
      if (std::abs(int((p >> s) & 0xFF) - int((argb >> s) & 0xFF)) > 6) return false;
    return true;
  };
  EXPECT_TRUE(near(2, 8, 0xFFFF7F7F)) << std::hex << testutil::PixelAt(back, 2, 8);
  EXPECT_TRUE(near(13, 8, 0xFFFFFFFF)) << std::hex << testutil::PixelAt(back, 13, 8);
}

TEST(EncodeImage, RefusesWhatTheFormatCannotHold) {
  struct Case {
    int width, height;
    gfx::FileFormat format;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, gfx::FileFormat::Png, "no image"},
      {16384, 1, gfx::FileFormat::WebP, "16383"},
      {1, 16384, gfx::FileFormat::WebP, "16383"},
      {65501, 1, gfx::FileFormat::Jpeg, "65500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const gfx::Image image =
        c.width ? testutil::SolidImage(c.width, c.height, 0xFF000000) : gfx::Image();
    try {
      gfx::EncodeImage(image, c.format);
      ADD_FAILURE() << "no error";
    } catch (const gfx::Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

}  // namespace
