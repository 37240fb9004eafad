#include "formats/image_save.h"

#include "formats/file_structure.h"
#include "gfx/codec.h"
#include "test_util.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <unistd.h>
#include <algorithm>
#include <cstdlib>

using namespace quillora;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

// Four flat quadrants: lossy encoders keep flat areas close, so a tolerance can be tight.
gfx::Image Quadrants() {
  std::vector<uint32_t> px(32 * 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      px[size_t(y * 32 + x)] =
          x < 16 ? (y < 16 ? 0xFFD02010 : 0xFF10A040) : (y < 16 ? 0xFF2040E0 : 0xFFF0F0F0);
  return testutil::MakeImage(32, 32, px);
}

// The largest channel difference inside the quadrants, 4 pixels away from their edges,
// where chroma subsampling and block edges legitimately blur.
int InteriorDifference(const gfx::Image& a, const gfx::Image& b) {
  int worst = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      if (x % 16 < 4 || x % 16 >= 12 || y % 16 < 4 || y % 16 >= 12) continue;
      const uint32_t p = testutil::PixelAt(a, x, y), q = testutil::PixelAt(b, x, y);
      for (int s = 0; s < 32; s += 8)
        worst = std::max(worst, std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
    }
  return worst;
}

int PhysCount(const QByteArray& png) {
  const auto chunks = testutil::PngChunks(png);
  return int(std::count_if(chunks.begin(), chunks.end(),
                           [](const testutil::PngChunk& c) { return c.type == "pHYs"; }));
}

TEST(SaveImageFile, WritesEachFormatWithItsResolutionPass) {
  struct Case {
    const char* name;
    int tolerance;     // per channel, inside the flat areas
    bool exifBlock;    // the 300 dpi Exif block right after APP0
    bool physChunk;    // exactly one pHYs, right after IHDR
    int dotsPerMeter;  // as Qt reads it back; 0 where the format has no field
  };
  const Case cases[] = {
      {"out.png", 0, false, true, 11811},   {"out.PNG", 0, false, true, 11811},
      {"out.jpg", 6, true, false, 11811},   {"out.JPG", 6, true, false, 11811},
      {"out.jpeg", 6, false, false, 11811}, {"out.webp", 6, false, false, 0},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const gfx::Image image = Quadrants();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(QString::fromLatin1(c.name));
    QFile::remove(path);  // out.png and out.PNG may be one file on some file systems
    ASSERT_NO_THROW(SaveImageFile(image, path));
    const QByteArray bytes = ReadAll(path);

    const gfx::Image back = gfx::DecodeImageFile(path);
    ASSERT_EQ(back.width(), 32);
    ASSERT_EQ(back.height(), 32);
    EXPECT_LE(InteriorDifference(back, image), c.tolerance);

    const QList<QByteArray> segments = testutil::JpegHeaderSegments(bytes);
    const bool hasBlock = segments.size() >= 2 && segments[0].startsWith("\xFF\xE0") &&
                          segments[1] == testutil::ExifResolutionBlock();
    EXPECT_EQ(hasBlock, c.exifBlock);
    if (c.physChunk) {
      const auto chunks = testutil::PngChunks(bytes);
      ASSERT_GE(chunks.size(), 2);
      EXPECT_EQ(chunks[1].type, "pHYs");
      EXPECT_EQ(chunks[1].data.toHex(), "00002e2300002e2301");  // 11811, 11811, metre
      EXPECT_EQ(PhysCount(bytes), 1);
      EXPECT_EQ(uint8_t(chunks[0].data[9]), 2) << "an opaque picture is saved without alpha";
    }
    if (c.dotsPerMeter) {
      EXPECT_EQ(QImage(path).dotsPerMeterX(), c.dotsPerMeter);
    }
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), std::size(cases))
      << "no temporary file left behind";
}

TEST(SaveImageFile, PngKeepsEveryPremultipliedPixelExactly) {
  // Alpha at the awkward ends (0, 1, 254) and in the middle, with colours that
  // premultiplication squeezes hardest.
  const std::vector<uint32_t> px = {0x00000000, 0x01FFFFFF, 0x01010203, 0x7F804020,
                                    0x80FF0000, 0xFE00FF7F, 0xFFFFFFFF, 0xFF000000,
                                    0x40123456, 0xC0FEDCBA, 0x02FF00FF, 0xFF7F7F7F};
  const gfx::Image image = testutil::MakeImage(4, 3, px);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("alpha.png"));
  SaveImageFile(image, path);
  const gfx::Image back = gfx::DecodeImageFile(path);
  ASSERT_EQ(back.width(), 4);
  ASSERT_EQ(back.height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(testutil::PremultipliedAt(back, x, y), testutil::PremultipliedAt(image, x, y))
          << x << "," << y;
}

TEST(SaveImageFile, RefusesOtherExtensionsWithoutWritingAnything) {
  QTemporaryDir dir;
  for (const char* name : {"out.bmp", "out.gif", "out.tiff", "out", "out.", "out.png.txt"}) {
    SCOPED_TRACE(name);
    const QString path = dir.filePath(QString::fromLatin1(name));
    try {
      SaveImageFile(Quadrants(), path);
      ADD_FAILURE() << "no error";
    } catch (const gfx::Error& e) {
      EXPECT_STREQ(e.what(), "Invalid extension");
    }
    EXPECT_FALSE(QFile::exists(path));
  }
}

// Root ignores permissions, so as root the save runs with the effective user "nobody";
// the real user stays root, which lets the destructor switch back.
class UnprivilegedScope {
 public:
  UnprivilegedScope() {
    if (geteuid() == 0) switched_ = seteuid(65534) == 0;
  }
  ~UnprivilegedScope() {
    if (switched_) {
      EXPECT_EQ(seteuid(0), 0);
    }
  }
  bool permissionsApply() const { return geteuid() != 0; }

 private:
  bool switched_ = false;
};

TEST(SaveImageFile, ReadOnlyFolderFailsAndLeavesTheOldFileIntact) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString existing = dir.filePath(QStringLiteral("old.png"));
  const QString fresh = dir.filePath(QStringLiteral("new.jpg"));
  const QByteArray oldBytes("previous contents");
  WriteAll(existing, oldBytes);
  // The old file itself stays writable: only the folder is read-only, which is the case
  // where writing straight into the file would have been possible, and unsafe.
  QFile::setPermissions(existing, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadOther | QFileDevice::WriteOther);
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                        QFileDevice::ReadOther | QFileDevice::ExeOther);
  {
    UnprivilegedScope scope;
    if (!scope.permissionsApply()) {
      QFile::setPermissions(
          dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
      GTEST_SKIP() << "cannot drop root privileges, so permissions cannot be tested";
    }
    for (const QString& path : {existing, fresh}) {
      SCOPED_TRACE(path.toStdString());
      try {
        SaveImageFile(Quadrants(), path);
        ADD_FAILURE() << "no error";
      } catch (const gfx::Error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Cannot write ") + path))
            << e.what();
      }
    }
  }
  QFile::setPermissions(dir.path(),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(ReadAll(existing), oldBytes);
  EXPECT_FALSE(QFile::exists(fresh));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// Failures that hold for every user, root included.
TEST(SaveImageFile, FailuresNeverTouchAnExistingFile) {
  QTemporaryDir dir;
  const QString existing = dir.filePath(QStringLiteral("keep.png"));
  WriteAll(existing, "previous contents");

  // The encode fails before anything is written.
  EXPECT_THROW(SaveImageFile(gfx::Image(), existing), gfx::Error);
  EXPECT_EQ(ReadAll(existing), "previous contents");

  // The folder is a file.
  const QString underFile = existing + QStringLiteral("/inside.png");
  try {
    SaveImageFile(Quadrants(), underFile);
    ADD_FAILURE() << "no error";
  } catch (const gfx::Error& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Cannot write ") + underFile))
        << e.what();
  }
  EXPECT_EQ(ReadAll(existing), "previous contents");

  // The target is a folder.
  const QString folder = dir.filePath(QStringLiteral("sub.png"));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub.png")));
  EXPECT_THROW(SaveImageFile(Quadrants(), folder), gfx::Error);
  EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST(ProposedSaveName, FollowsTheSourceFile) {
  struct Case {
    const char* source;
    const char* folder;
    const char* name;
    int filter;
  };
  const Case cases[] = {
      {"/photos/photo.bmp", "/photos", "photo_QL.png", 2},
      {"/photos/x.JPG", "/photos", "x_QL.jpg", 1},
      {"/photos/x.jpeg", "/photos", "x_QL.jpeg", 1},
      {"/photos/x.Png", "/photos", "x_QL.png", 2},
      {"/photos/x.webp", "/photos", "x_QL.webp", 2},
      {"/photos/my.holiday.jpg", "/photos", "my.holiday_QL.jpg", 1},
      // Extensions the save path cannot write would only earn "Invalid extension".
      {"/photos/scan.tiff", "/photos", "scan_QL.png", 2},
      {"/photos/anim.gif", "/photos", "anim_QL.png", 2},
      {"/photos/noext", "/photos", "noext_QL.png", 2},
      {"", "", "Quillora_image.png", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const SaveProposal p = ProposedSaveName(QString::fromLatin1(c.source));
    EXPECT_EQ(p.folder, QString::fromLatin1(c.folder));
    EXPECT_EQ(p.fileName, QString::fromLatin1(c.name));
    EXPECT_EQ(p.filterIndex, c.filter);
  }
}

}  // namespace
