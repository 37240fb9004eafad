// Custom brush loading, the working-sheet set-up and the cutting of sheets into brushes.
// Every sheet and archive is made here, so nothing depends on the built-in artwork.
#include "brushes/brush_library.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <list>
#include <numbers>

#include "brushes/image_repository.h"
#include "gfx/codec.h"
#include "test_util.h"

namespace {

using quillora::TForm3;

const QStringList kHolderSheets = {"Brushes", "DefaultBrushes", "PastelBrushes",
                                   "WatercolorBrushes"};

// Black with alpha 255 inside `shape`, transparent elsewhere: a brush as the sheets hold it.
QImage BrushPicture(int w, int h, const QRect& shape) {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(0);
  for (int y = shape.top(); y <= shape.bottom(); ++y)
    for (int x = shape.left(); x <= shape.right(); ++x) image.setPixel(x, y, 0xFF000000);
  return image;
}

// A bar down the middle: covers the cell's centre line whatever the scale.
QImage CentreBar(int w = 64, int h = 64) {
  const int half = std::min(8, w / 4);
  return BrushPicture(w, h, QRect(w / 2 - half, 0, 2 * half, h));
}

QByteArray PngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "PNG"));
  return bytes;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
  f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(path);
  return f.readAll();
}

bool CellIsEmpty(const gfx::Image& sheet, int k) {
  const int x0 = 256 * (k % 8), y0 = 256 * (k / 8);
  for (int y = y0; y < y0 + 256; ++y)
    for (int x = x0; x < x0 + 256; ++x)
      if (sheet.row(y)[x] >> 24) return false;
  return true;
}

gfx::Image Cell(const gfx::Image& sheet, int k) {
  return sheet.subset(QRect(256 * (k % 8), 256 * (k / 8), 256, 256));
}

// libzip's writer; entry data must outlive Close().
class ZipWriter {
 public:
  explicit ZipWriter(const QString& path) {
    int err = 0;
    zip_ = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    EXPECT_NE(zip_, nullptr) << "zip error " << err;
  }
  ~ZipWriter() {
    if (zip_) zip_discard(zip_);
  }

  zip_int64_t Add(const QString& name, const QByteArray& data,
                  zip_int32_t method = ZIP_CM_DEFLATE) {
    data_.push_back(data);
    zip_source_t* src =
        zip_source_buffer(zip_, data_.back().constData(), zip_uint64_t(data_.back().size()), 0);
    return AddSource(name, src, method);
  }
  zip_int64_t AddSource(const QString& name, zip_source_t* src, zip_int32_t method,
                        zip_uint32_t level = 0) {
    const zip_int64_t index = zip_file_add(zip_, name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
    EXPECT_GE(index, 0) << qPrintable(name);
    if (index < 0) {
      zip_source_free(src);
      return index;
    }
    EXPECT_EQ(zip_set_file_compression(zip_, zip_uint64_t(index), method, level), 0);
    return index;
  }
  void AddFolder(const QString& name) {
    EXPECT_GE(zip_dir_add(zip_, name.toUtf8().constData(), ZIP_FL_ENC_UTF_8), 0);
  }
  void Encrypt(zip_int64_t index, zip_uint16_t method) {
    EXPECT_EQ(zip_file_set_encryption(zip_, zip_uint64_t(index), method, "secret"), 0)
        << zip_strerror(zip_);
  }
  void Close() {
    ASSERT_EQ(zip_close(zip_), 0) << zip_strerror(zip_);
    zip_ = nullptr;
  }
  zip_t* handle() { return zip_; }

 private:
  zip_t* zip_ = nullptr;
  std::list<QByteArray> data_;
};

// An entry of `size` zero bytes produced on the fly, so a bomb never sits in memory.
struct ZeroSource {
  zip_uint64_t size = 0, pos = 0;
  zip_error_t error;
};

zip_int64_t ZeroCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* z = static_cast<ZeroSource*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      z->pos = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const zip_uint64_t n = std::min(len, z->size - z->pos);
      std::memset(data, 0, n);
      z->pos += n;
      return zip_int64_t(n);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->size = z->size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&z->error, data, len);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&z->error);
      delete z;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      zip_error_set(&z->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

zip_source_t* Zeros(zip_t* zip, zip_uint64_t size) {
  auto* z = new ZeroSource;
  z->size = size;
  zip_error_init(&z->error);
  return zip_source_function(zip, ZeroCallback, z);
}

uint32_t Le32(const QByteArray& b, qsizetype at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
  return v;
}
uint16_t Le16(const QByteArray& b, qsizetype at) {
  return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}
void SetLe32(QByteArray& b, qsizetype at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// Rewrites the uncompressed size an entry declares, in its central directory record and
// in its local header alike, so that the archive stays consistent and only lies.
QByteArray WithDeclaredSize(QByteArray zip, const QByteArray& entryName, uint32_t size) {
  bool patched = false;
  for (qsizetype at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4)) {
    const uint16_t nameLen = Le16(zip, at + 28);
    if (zip.mid(at + 46, nameLen) != entryName) continue;
    const uint32_t local = Le32(zip, at + 42);
    EXPECT_EQ(zip.mid(local, 4), QByteArray("PK\x03\x04"));
    EXPECT_EQ(Le16(zip, local + 6) & 8, 0) << "sizes live in a data descriptor";
    SetLe32(zip, at + 24, size);
    SetLe32(zip, local + 22, size);
    patched = true;
  }
  EXPECT_TRUE(patched) << entryName.constData();
  return zip;
}

class BrushLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    for (const QString& name : kHolderSheets) TForm3::Instance().RestoreBuiltinPicture(name);
  }
  void TearDown() override {
    for (const QString& name : kHolderSheets) TForm3::Instance().RestoreBuiltinPicture(name);
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString Png(const QString& name, const QImage& image) {
    WriteFile(Path(name), PngBytes(image));
    return Path(name);
  }
  gfx::Image WorkingSheet() { return TForm3::Instance().Picture("Brushes"); }
  // Puts a recognisable picture in the working sheet, so a test can tell whether a load
  // left it alone.
  gfx::Image MarkWorkingSheet() {
    const gfx::Image marker = testutil::SolidImage(2, 2, 0xFF123456);
    TForm3::Instance().SetPicture("Brushes", marker);
    return marker;
  }

  QTemporaryDir dir_;
};

TEST_F(BrushLibraryTest, NinePicturesFillNineCellsOfATwoRowSheet) {
  QStringList files;
  for (int i = 0; i < 9; ++i) files << Png(QString("b%1.png").arg(i), CentreBar(64 + 8 * i, 64));

  quillora::TCustomBrushState state;
  const quillora::TBrushLoadStatus status = quillora::LoadCustomBrushes(state, 304, files);
  ASSERT_TRUE(status.ok) << qPrintable(status.message);
  EXPECT_EQ(status.count, 9);
  EXPECT_EQ(state.GlobalBrushCount, 9);
  EXPECT_TRUE(state.CustomBrushesOn304);
  EXPECT_EQ(state.CustomBrushCount304, 9);
  EXPECT_FALSE(state.CustomBrushesOn302 || state.CustomBrushesOn303);

  const gfx::Image sheet = WorkingSheet();
  ASSERT_EQ(sheet.width(), 2048);
  ASSERT_EQ(sheet.height(), 512);
  EXPECT_EQ(state.CustomBrushBitmap304.uniqueId(), sheet.uniqueId());
  for (int k = 0; k < 16; ++k) EXPECT_EQ(CellIsEmpty(sheet, k), k >= 9) << "cell " << k;

  EXPECT_EQ(quillora::ExtractSheetBrushes(sheet).size(), 9u);

  // Effect 304 takes its count from the custom sheet, then cuts exactly that many.
  state.GlobalBrushCount = 40;
  quillora::ApplyBrushSetup(304, state);
  ASSERT_EQ(state.GlobalBrushCount, 9);
  const quillora::TBrushSet set =
      quillora::ExtractCountedBrushes(WorkingSheet(), state.GlobalBrushCount);
  ASSERT_EQ(set.images.size(), 9u);
  ASSERT_EQ(set.angles.size(), 9u);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(testutil::MaxChannelDifference(set.images[size_t(k)], Cell(sheet, k)), 0) << k;
    // A vertical bar.
    EXPECT_NEAR(std::abs(set.angles[size_t(k)]), std::numbers::pi / 2, 1e-6) << k;
  }
}

// Each picture is scaled by min(256 / w, 256 / h) and centred; nearest sampling keeps
// its colours exactly, so no blend of the two halves may appear.
TEST_F(BrushLibraryTest, PicturesAreScaledToFitTheirCellAndCentred) {
  struct Case {
    int w, h;
    QRect drawn;  // in the cell
  } cases[] = {
      {100, 50, QRect(0, 64, 256, 128)},    // enlarged
      {50, 100, QRect(64, 0, 128, 256)},    // enlarged, centred across
      {1024, 512, QRect(0, 64, 256, 128)},  // reduced
      {256, 256, QRect(0, 0, 256, 256)},    // unscaled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    QImage picture(c.w, c.h, QImage::Format_ARGB32);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) picture.setPixel(x, y, x < c.w / 2 ? 0xFFFF0000 : 0xFF0000FF);
    ASSERT_EQ(quillora::LoadBrushesToRepository({Png("p.png", picture)}), 1);
    const gfx::Image sheet = WorkingSheet();
    ASSERT_EQ(sheet.height(), 256);
    int wrong = 0;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        const uint32_t p = testutil::PixelAt(sheet, x, y);
        const QPoint pt(x, y);
        const uint32_t expected = !c.drawn.contains(pt)                      ? 0u
                                  : x < c.drawn.left() + c.drawn.width() / 2 ? 0xFFFF0000u
                                                                             : 0xFF0000FFu;
        wrong += p != expected;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(BrushLibraryTest, ArchivesGivePngEntriesOfEveryFolderInArchiveOrder) {
  const QString zipPath = Path("pack.zip");
  {
    ZipWriter zip(zipPath);
    zip.AddFolder("Brushes/");
    zip.Add("readme.txt", "not a brush");
    zip.Add("Brushes/Wide.PNG", PngBytes(BrushPicture(64, 64, QRect(0, 24, 64, 16))));
    zip.Add("Brushes/broken.png", "\x89PNG but nothing else");
    zip.Add("Brushes/photo.jpg", PngBytes(CentreBar()));  // decodable, but not by name
    zip.Close();
  }
  // A plain .png file after the archive, and files the loader must ignore.
  const QString tall = Png("tall.png", CentreBar());
  const QString other = Png("other.bmp", CentreBar());
  WriteFile(Path("broken.png"), "garbage");

  quillora::TBrushLoadReport report;
  const quillora::TBrushSheet result = quillora::BuildBrushSheet(
      {zipPath, other, Path("broken.png"), Path("missing.png"), tall}, {}, &report);
  ASSERT_EQ(result.count, 2);
  EXPECT_EQ(report.skipped, 3);  // the broken entry, the broken file, the missing file
  EXPECT_FALSE(report.limitReached);
  // Cell 0 is the archive's horizontal bar, cell 1 the file's vertical one.
  EXPECT_NEAR(quillora::ComputeBrushAngle(Cell(result.sheet, 0)), 0.0, 1e-6);
  EXPECT_NEAR(quillora::ComputeBrushAngle(Cell(result.sheet, 1)), std::numbers::pi / 2, 1e-6);
}

TEST_F(BrushLibraryTest, BrushOffTheCentreLineIsDroppedByAllCellsButCounted) {
  const QString off = Png("off.png", BrushPicture(256, 256, QRect(0, 0, 64, 256)));
  const QString on = Png("on.png", CentreBar(256, 256));
  ASSERT_EQ(quillora::LoadBrushesToRepository({off, on}), 2);
  const gfx::Image sheet = WorkingSheet();

  const std::vector<gfx::Image> all = quillora::ExtractSheetBrushes(sheet);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(testutil::MaxChannelDifference(all[0], Cell(sheet, 1)), 0);

  const quillora::TBrushSet counted = quillora::ExtractCountedBrushes(sheet, 2);
  ASSERT_EQ(counted.images.size(), 2u);
  EXPECT_EQ(testutil::MaxChannelDifference(counted.images[0], Cell(sheet, 0)), 0);
  EXPECT_FALSE(CellIsEmpty(counted.images[0], 0));
}

// The emptiness test looks at alpha > 10 on five pixels of the centre line only.
TEST_F(BrushLibraryTest, AllCellsTestsFivePixelsOfTheCentreLine) {
  struct Case {
    int y, alpha;
    bool brush;
  } cases[] = {{64, 11, true},   {192, 255, true}, {128, 10, false},
               {65, 255, false}, {63, 255, false}, {255, 255, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "y " << c.y << ", alpha " << c.alpha);
    std::vector<uint32_t> px(256 * 256, 0);
    px[size_t(c.y) * 256 + 128] = uint32_t(c.alpha) << 24;
    EXPECT_EQ(quillora::ExtractSheetBrushes(testutil::MakeImage(256, 256, px)).size(),
              c.brush ? 1u : 0u);
  }
}

// Sheets that are not 2048 wide: all cells stops at the first cell that leaves the
// sheet; counted cells copy what lies inside and leave the rest transparent.
TEST_F(BrushLibraryTest, CellsLeavingTheSheet) {
  const gfx::Image sheet = testutil::SolidImage(300, 300, 0xFF000000);
  EXPECT_EQ(quillora::ExtractSheetBrushes(sheet).size(), 1u);
  EXPECT_TRUE(quillora::ExtractSheetBrushes(gfx::Image()).empty());

  const quillora::TBrushSet set = quillora::ExtractCountedBrushes(sheet, 12);
  ASSERT_EQ(set.images.size(), 12u);
  for (const gfx::Image& image : set.images) {
    ASSERT_EQ(image.width(), 256);
    ASSERT_EQ(image.height(), 256);
  }
  auto alpha = [&](int k, int x, int y) { return set.images[size_t(k)].row(y)[x] >> 24; };
  EXPECT_EQ(alpha(0, 255, 255), 255u);
  EXPECT_EQ(alpha(1, 43, 0), 255u);  // sheet column 299
  EXPECT_EQ(alpha(1, 44, 0), 0u);    // beyond it
  EXPECT_EQ(alpha(8, 0, 43), 255u);  // row 1 starts at 256; the sheet ends at 299
  EXPECT_EQ(alpha(8, 0, 44), 0u);
  EXPECT_TRUE(CellIsEmpty(set.images[11], 0));
  EXPECT_EQ(set.angles[11], 0.0f);

  const quillora::TBrushSet none = quillora::ExtractCountedBrushes(gfx::Image(), 3);
  ASSERT_EQ(none.images.size(), 3u);
  EXPECT_TRUE(CellIsEmpty(none.images[2], 0));
}

TEST_F(BrushLibraryTest, SetUpChoosesTheWorkingSheet) {
  TForm3& holder = TForm3::Instance();
  const gfx::Image pastel = testutil::SolidImage(1, 1, 0xFF000001);
  const gfx::Image watercolor = testutil::SolidImage(1, 1, 0xFF000002);
  const gfx::Image defaults = testutil::SolidImage(1, 1, 0xFF000003);
  const gfx::Image custom[3] = {testutil::SolidImage(1, 1, 0xFF000302),
                                testutil::SolidImage(1, 1, 0xFF000303),
                                testutil::SolidImage(1, 1, 0xFF000304)};
  const gfx::Image previous = testutil::SolidImage(1, 1, 0xFF0000FF);
  enum Sheet { Pastel, Watercolor, Default, Custom302, Custom303, Custom304, Previous };
  const gfx::Image* sheets[] = {&pastel,    &watercolor, &defaults, &custom[0],
                                &custom[1], &custom[2],  &previous};
  struct Case {
    int effect;
    bool on302, on303, on304;
    Sheet sheet;
    int count;  // GlobalBrushCount afterwards; it starts at 77
  } cases[] = {
      {302, false, false, false, Pastel, 77},   {302, true, false, false, Custom302, 77},
      {302, false, true, true, Pastel, 77},     {303, false, false, false, Watercolor, 77},
      {303, false, true, false, Custom303, 77}, {304, false, false, false, Default, 40},
      {304, false, false, true, Custom304, 9},  {307, false, false, false, Default, 77},
      {307, true, true, true, Previous, 77},    {305, false, false, false, Previous, 77},
      {100, true, true, true, Previous, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "effect " << c.effect << " custom " << c.on302 << c.on303 << c.on304);
    holder.SetPicture("PastelBrushes", pastel);
    holder.SetPicture("WatercolorBrushes", watercolor);
    holder.SetPicture("DefaultBrushes", defaults);
    holder.SetPicture("Brushes", previous);
    quillora::TCustomBrushState state;
    state.CustomBrushesOn302 = c.on302;
    state.CustomBrushesOn303 = c.on303;
    state.CustomBrushesOn304 = c.on304;
    state.CustomBrushBitmap302 = custom[0];
    state.CustomBrushBitmap303 = custom[1];
    state.CustomBrushBitmap304 = custom[2];
    state.CustomBrushCount304 = 9;
    state.GlobalBrushCount = 77;
    quillora::ApplyBrushSetup(c.effect, state);
    EXPECT_EQ(WorkingSheet().uniqueId(), sheets[c.sheet]->uniqueId());
    EXPECT_EQ(state.GlobalBrushCount, c.count);
  }
}

TEST_F(BrushLibraryTest, LoadThenResetSwitchesOnlyTheSelectedEffect) {
  TForm3::Instance().SetPicture("WatercolorBrushes", testutil::SolidImage(1, 1, 0xFF000002));
  quillora::TCustomBrushState state;
  ASSERT_TRUE(quillora::LoadCustomBrushes(state, 303, {Png("a.png", CentreBar())}).ok);
  EXPECT_TRUE(state.CustomBrushesOn303);
  EXPECT_FALSE(state.CustomBrushesOn302 || state.CustomBrushesOn304);
  const gfx::Image custom = state.CustomBrushBitmap303;
  ASSERT_EQ(custom.height(), 256);

  quillora::ResetCustomBrushes(state, 302);  // another effect's reset changes nothing
  EXPECT_TRUE(state.CustomBrushesOn303);
  quillora::ResetCustomBrushes(state, 303);
  EXPECT_FALSE(state.CustomBrushesOn303);
  EXPECT_EQ(state.CustomBrushBitmap303.uniqueId(), custom.uniqueId());  // kept in memory
  quillora::ApplyBrushSetup(303, state);
  EXPECT_EQ(WorkingSheet().uniqueId(), TForm3::Instance().Picture("WatercolorBrushes").uniqueId());
}

// A load that finds nothing reports the error and zeroes the count (effect 304 sets it
// again before it runs); an archive that cannot be opened reports it with the reason and
// changes nothing at all.
TEST_F(BrushLibraryTest, FailedLoadsLeaveTheWorkingSheetAlone) {
  WriteFile(Path("notes.png"), "plain text");
  WriteFile(Path("fake.zip"), "plain text, not an archive");
  const gfx::Image marker = MarkWorkingSheet();

  quillora::TCustomBrushState state;
  quillora::TBrushLoadStatus status =
      quillora::LoadCustomBrushes(state, 304, {Path("notes.png"), Path("x.txt")});
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.message, "Error loading custom brushes");
  EXPECT_TRUE(status.detail.isEmpty());
  EXPECT_EQ(state.GlobalBrushCount, 0);
  EXPECT_FALSE(state.CustomBrushesOn304);
  EXPECT_EQ(WorkingSheet().uniqueId(), marker.uniqueId());

  state = {};
  status =
      quillora::LoadCustomBrushes(state, 304, {Png("good.png", CentreBar()), Path("fake.zip")});
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.message, "Error loading custom brushes");
  EXPECT_TRUE(status.detail.contains("fake.zip")) << qPrintable(status.detail);
  EXPECT_EQ(state.GlobalBrushCount, 40);
  EXPECT_FALSE(state.CustomBrushesOn304);
  EXPECT_EQ(WorkingSheet().uniqueId(), marker.uniqueId());

  EXPECT_EQ(quillora::LoadBrushesToRepository({}), 0);
  EXPECT_EQ(WorkingSheet().uniqueId(), marker.uniqueId());
}

TEST_F(BrushLibraryTest, ArchivesThatCannotBeOpenedThrow) {
  const QString good = Path("good.zip");
  {
    ZipWriter zip(good);
    zip.Add("a.png", PngBytes(CentreBar()));
    zip.Close();
  }
  const QByteArray bytes = ReadFile(good);
  WriteFile(Path("text.zip"), "PK but not really an archive");
  WriteFile(Path("empty.zip"), "");
  WriteFile(Path("truncated.zip"), bytes.left(bytes.size() / 2));
  WriteFile(Path("noise.zip"), QByteArray(4096, '\xA5'));
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.zip"));
  for (const char* name :
       {"text.zip", "empty.zip", "truncated.zip", "noise.zip", "missing.zip", "folder.zip"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(quillora::BuildBrushSheet({Path(name)}), gfx::Error);
  }
  EXPECT_EQ(quillora::BuildBrushSheet({good}).count, 1);
}

// ZIP bombs and lying sizes: the declared size is a claim, the inflater reads on past
// it, and only our own cap decides how much is read.
class HostileArchiveTest : public BrushLibraryTest {
 protected:
  static constexpr zip_uint64_t kBombBytes = zip_uint64_t(200) << 20;

  // bomb.zip: 200 MB of zeros as "bomb.png", then a good brush. Built once: deflating
  // the zeros is the slowest step of the suite.
  static void SetUpTestSuite() {
    bombDir_ = new QTemporaryDir;
    ZipWriter zip(bombDir_->filePath("bomb.zip"));
    zip.AddSource("bomb.png", Zeros(zip.handle(), kBombBytes), ZIP_CM_DEFLATE, 1);
    zip.Add("good.png", PngBytes(CentreBar()));
    zip.Close();
    bomb_ = new QByteArray(ReadFile(bombDir_->filePath("bomb.zip")));
  }
  static void TearDownTestSuite() {
    delete bomb_;
    delete bombDir_;
  }

  QString Archive(const QString& name, const QByteArray& bytes) {
    WriteFile(Path(name), bytes);
    return Path(name);
  }

  static QTemporaryDir* bombDir_;
  static QByteArray* bomb_;
};
QTemporaryDir* HostileArchiveTest::bombDir_ = nullptr;
QByteArray* HostileArchiveTest::bomb_ = nullptr;

TEST_F(HostileArchiveTest, BombIsNeverInflated) {
  ASSERT_LT(bomb_->size(), 2 << 20);  // it is a bomb: 200 MB in well under 2 MB
  quillora::TBrushLoadReport report;
  const quillora::TBrushSheet result =
      quillora::BuildBrushSheet({Archive("bomb.zip", *bomb_)}, {}, &report);
  EXPECT_EQ(result.count, 1);  // the good entry after it still counts
  EXPECT_EQ(report.skipped, 1);
  EXPECT_LT(report.entryBytesRead, 1 << 20);  // only the good entry was read
}

TEST_F(HostileArchiveTest, LyingSizesStopAtTheCap) {
  struct Case {
    const char* what;
    uint32_t declared;
    int64_t maxRead;  // of the bomb, whatever the truth
  } cases[] = {
      {"claims 1000 bytes", 1000, 1001},
      {"claims 10 MB", 10u << 20, (10 << 20) + 1},
      {"claims 4 GB", 0xFFFFFFF0u, 0},
  };
  const int64_t good = PngBytes(CentreBar()).size();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quillora::TBrushLoadReport report;
    const QString path = Archive("lying.zip", WithDeclaredSize(*bomb_, "bomb.png", c.declared));
    EXPECT_EQ(quillora::BuildBrushSheet({path}, {}, &report).count, 1);
    EXPECT_EQ(report.skipped, 1);
    EXPECT_LE(report.entryBytesRead, c.maxRead + good + 1);
  }
}

// A real brush whose declared size is off by a little either way is damaged or forged;
// it must be dropped, not decoded from a truncated or overlong buffer.
TEST_F(HostileArchiveTest, BrushDeclaringTheWrongSizeIsSkipped) {
  const QByteArray png = PngBytes(CentreBar());
  const QString path = Path("one.zip");
  {
    ZipWriter zip(path);
    zip.Add("b.png", png);
    zip.Close();
  }
  const QByteArray honest = ReadFile(path);
  EXPECT_EQ(quillora::BuildBrushSheet({Archive("h.zip", honest)}).count, 1);
  for (int64_t delta : {-10, -1, 1, 10}) {
    SCOPED_TRACE(delta);
    const QByteArray lying = WithDeclaredSize(honest, "b.png", uint32_t(png.size() + delta));
    EXPECT_EQ(quillora::BuildBrushSheet({Archive("l.zip", lying)}).count, 0);
  }
}

TEST_F(HostileArchiveTest, EncryptedAndUntrustedEntriesAreSkipped) {
  const QByteArray png = PngBytes(CentreBar());
  const QString path = Path("mixed.zip");
  int expectedSkips = 0;
  {
    ZipWriter zip(path);
    for (zip_uint16_t method : {zip_uint16_t(ZIP_EM_AES_256), zip_uint16_t(ZIP_EM_TRAD_PKWARE)}) {
      if (!zip_encryption_method_supported(method, 1)) continue;
      zip.Encrypt(zip.Add(QString("secret%1.png").arg(method), png), method);
      ++expectedSkips;
    }
    EXPECT_GE(expectedSkips, 1) << "this libzip writes no encryption at all";
    for (const char* name : {"../evil.png", "a/../../evil.png", "a\\..\\evil.png", "/abs.png",
                             "\\abs.png", "C:/abs.png"}) {
      zip.Add(name, png);
      ++expectedSkips;
    }
    zip.Add("fine..png", png);  // dots in a name are not a parent folder
    zip.Add("dir/..hidden.png", png);
    zip.Close();
  }
  quillora::TBrushLoadReport report;
  EXPECT_EQ(quillora::BuildBrushSheet({path}, {}, &report).count, 2);
  EXPECT_EQ(report.skipped, expectedSkips);
}

TEST_F(HostileArchiveTest, ThousandsOfEntries) {
  const QByteArray tiny = PngBytes(CentreBar(4, 4));
  const QString brushes = Path("many.zip"), notes = Path("notes.zip");
  {
    ZipWriter many(brushes), text(notes);
    for (int i = 0; i < 5000; ++i) {
      many.Add(QString("b%1.png").arg(i), tiny, ZIP_CM_STORE);
      text.Add(QString("n%1.txt").arg(i), "x", ZIP_CM_STORE);
    }
    text.Add("last.png", tiny);
    many.Close();
    text.Close();
  }
  quillora::TBrushLoadReport report;
  quillora::TBrushSheet result = quillora::BuildBrushSheet({brushes, notes}, {}, &report);
  EXPECT_EQ(result.count, quillora::kMaxBrushes);
  EXPECT_TRUE(report.limitReached);
  EXPECT_EQ(result.sheet.height(), 256 * quillora::kMaxBrushes / 8);

  result = quillora::BuildBrushSheet({notes}, {}, &report);
  EXPECT_EQ(result.count, 1);
  EXPECT_FALSE(report.limitReached);
}

// A picture or entry too large on its own is skipped and the load goes on; a load-wide
// budget that runs out stops the load and keeps what it has. Pixel caps are checked on
// the size a picture declares, before decoding.
TEST_F(BrushLibraryTest, CapsSkipOneOrStopTheLoad) {
  const QImage bigPicture = BrushPicture(300, 300, QRect(0, 0, 300, 300));
  const QImage smallPicture = CentreBar(100, 100);
  const QString big = Png("big.png", bigPicture), small = Png("small.png", smallPicture);
  const QByteArray bigPng = PngBytes(bigPicture), smallPng = PngBytes(smallPicture);
  const QString zipPath = Path("caps.zip");
  {
    ZipWriter zip(zipPath);
    zip.Add("big.png", bigPng);
    for (int i = 0; i < 3; ++i) zip.Add(QString("s%1.png").arg(i), smallPng);
    zip.Close();
  }
  ASSERT_GT(bigPng.size(), smallPng.size());

  struct Case {
    const char* what;
    QStringList files;
    void (*limit)(quillora::TBrushLoadLimits&, int64_t smallBytes, int64_t bigBytes);
    int count, skipped;
    bool limitReached;
  } cases[] = {
      {"picture above the per-picture cap",
       {big, small},
       [](auto& l, int64_t, int64_t) { l.maxImagePixels = 256 * 256; },
       1,
       1,
       false},
      {"pixels of the whole load",
       {small, small, small, big},
       [](auto& l, int64_t, int64_t) { l.maxTotalPixels = 25000; },
       2,
       0,
       true},
      {"entry above the per-entry cap",
       {zipPath},
       [](auto& l, int64_t smallBytes, int64_t) { l.maxEntryBytes = smallBytes; },
       3,
       1,
       false},
      {"bytes of the whole load",
       {zipPath, small},
       [](auto& l, int64_t smallBytes, int64_t bigBytes) {
         l.maxTotalEntryBytes = bigBytes + 2 * smallBytes + 1;
       },
       3,
       0,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    quillora::TBrushLoadLimits limits;
    c.limit(limits, smallPng.size(), bigPng.size());
    quillora::TBrushLoadReport report;
    EXPECT_EQ(quillora::BuildBrushSheet(c.files, limits, &report).count, c.count);
    EXPECT_EQ(report.skipped, c.skipped);
    EXPECT_EQ(report.limitReached, c.limitReached);
  }
}

TEST(ComputeBrushAngle, PrincipalAxisOfKnownShapes) {
  auto shape = [](auto inside, uint32_t alpha = 255) {
    std::vector<uint32_t> px(64 * 64, 0);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        if (inside(x, y)) px[size_t(y) * 64 + x] = alpha << 24;
    return testutil::MakeImage(64, 64, px);
  };
  const double pi = std::numbers::pi;
  struct Case {
    const char* what;
    gfx::Image image;
    double angle;
  } cases[] = {
      {"horizontal bar", shape([](int x, int y) { return y >= 30 && y < 34 && x >= 4; }), 0.0},
      {"vertical bar", shape([](int x, int y) { return x >= 30 && x < 34 && y < 60; }), pi / 2},
      {"diagonal", shape([](int x, int y) { return x == y; }), pi / 4},
      {"anti-diagonal", shape([](int x, int y) { return x + y == 63; }), -pi / 4},
      {"faint diagonal", shape([](int x, int y) { return x == y; }, 1), pi / 4},
      {"single pixel", shape([](int x, int y) { return x == 9 && y == 17; }), 0.0},
      {"empty", shape([](int, int) { return false; }), 0.0},
      {"null image", gfx::Image(), 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // An axis: theta and theta + pi are the same line, so compare 2 theta.
    const double got = quillora::ComputeBrushAngle(c.image);
    EXPECT_NEAR(std::cos(2 * (got - c.angle)), 1.0, 1e-9) << got;
    EXPECT_LE(std::abs(got), pi / 2 + 1e-6);
  }
}

// Effects that ignore faint pixels pass a minimum alpha and a minimum total coverage.
TEST(ComputeBrushAngle, FaintPixelsCanBeIgnored) {
  std::vector<uint32_t> px(64 * 64, 0);
  for (int x = 0; x < 64; ++x) px[32 * 64 + x] = 0xFF000000u;  // a strong horizontal line
  for (int y = 0; y < 64; ++y)                                 // a wide, faint vertical bar
    for (int x = 20; x < 44; ++x)
      if (y != 32) px[size_t(y) * 64 + x] = 20u << 24;
  const gfx::Image image = testutil::MakeImage(64, 64, px);
  const double strongMass = 64 * 255, allMass = strongMass + 63 * 24 * 20;
  EXPECT_NEAR(std::abs(quillora::ComputeBrushAngle(image)), std::numbers::pi / 2, 1e-6);
  EXPECT_NEAR(quillora::ComputeBrushAngle(image, 21, 1000), 0.0, 1e-6);
  EXPECT_EQ(quillora::ComputeBrushAngle(image, 21, strongMass + 1), 0.0f);
  EXPECT_NE(quillora::ComputeBrushAngle(image, 1, allMass), 0.0f);
  EXPECT_EQ(quillora::ComputeBrushAngle(image, 1, allMass + 1), 0.0f);
}

}  // namespace
