#include "brushes/brush_library.h"

#include <zip.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRectF>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "brushes/image_repository.h"
#include "engine/catalogue.h"
#include "gfx/codec.h"
#include "gfx/parallel.h"
#include "gfx/surface.h"

namespace quillora {

namespace {

const QString kWorkingSheet = QStringLiteral("Brushes");

// The lower-cased extension (with its dot) of the last component of `name`; entries
// written on Windows may separate folders with backslashes.
QString LowerExtension(const QString& name, bool backslashSeparates) {
  qsizetype start = name.lastIndexOf(QLatin1Char('/')) + 1;
  if (backslashSeparates) start = std::max(start, name.lastIndexOf(QLatin1Char('\\')) + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < start) return QString();
  return name.mid(dot).toLower();
}

// Entry names are only matched, never used as paths, but a name that climbs out of the
// archive or starts at a root is the mark of a crafted archive, so it is not trusted.
bool IsUnsafeEntryName(const QString& name) {
  if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))) return true;
  if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter()) return true;
  QString path = name;
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  for (const QString& part : path.split(QLatin1Char('/')))
    if (part == QLatin1String("..")) return true;
  return false;
}

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

QString ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  const QString text = QString::fromUtf8(zip_error_strerror(&error));
  zip_error_fini(&error);
  return text;
}

// Scales one brush picture into its own cell. Packing cell by cell, instead of keeping
// every decoded picture until the sheet's height is known, holds one full-size picture
// at a time; the result is the same, since each picture stays inside its cell.
gfx::Image PackIntoCell(const gfx::Image& image) {
  const double w = image.width(), h = image.height();
  const double s = std::min(kBrushCellSize / w, kBrushCellSize / h);
  // w * (256 / w) may round a hair above 256; the picture must not leave its cell.
  const double dw = std::min<double>(kBrushCellSize, w * s);
  const double dh = std::min<double>(kBrushCellSize, h * s);
  const double ox = (kBrushCellSize - dw) / 2, oy = (kBrushCellSize - dh) / 2;
  gfx::Surface cell(kBrushCellSize, kBrushCellSize);
  cell.drawImageRect(image, QRectF(0, 0, w, h), QRectF(ox, oy, dw, dh), gfx::Sampling::Nearest);
  return cell.snapshot();
}

class BrushCollector {
 public:
  BrushCollector(const TBrushLoadLimits& limits, TBrushLoadReport& report)
      : limits_(limits), report_(report) {}

  // True once nothing more may be collected; the caller stops looking.
  bool Full() const { return int(cells_.size()) >= limits_.maxBrushes || stopped_; }

  void AddFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Skip();
    if (!Admit(&file)) return;
    file.close();
    Decode([&] { return gfx::DecodeImageFile(path); });
  }

  void AddArchive(const QString& path) {
    int code = 0;
    std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code));
    if (!archive) {
      if (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS)
        throw gfx::Error(
            QStringLiteral("%1 is not a ZIP archive, or it is damaged").arg(path).toStdString());
      throw gfx::Error(QStringLiteral("Cannot open the archive %1: %2")
                           .arg(path, ZipErrorText(code))
                           .toStdString());
    }
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
      if (Full()) {
        report_.limitReached = true;
        break;
      }
      const char* rawName = zip_get_name(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_GUESS);
      if (!rawName) continue;
      const QString name = QString::fromUtf8(rawName);
      if (LowerExtension(name, true) != QLatin1String(".png")) continue;
      if (IsUnsafeEntryName(name)) {
        Skip();
        continue;
      }
      std::optional<QByteArray> bytes = ReadEntry(archive.get(), zip_uint64_t(i));
      if (!bytes) continue;
      QBuffer buffer(&*bytes);
      buffer.open(QIODevice::ReadOnly);
      if (!Admit(&buffer)) continue;
      Decode([&] { return gfx::DecodeImageData(*bytes); });
    }
  }

  TBrushSheet Finish() {
    TBrushSheet result;
    result.count = int(cells_.size());
    if (result.count == 0) return result;
    const int rows = (result.count + kBrushCellsPerRow - 1) / kBrushCellsPerRow;
    gfx::Surface sheet(kBrushSheetWidth, kBrushCellSize * rows);  // transparent
    for (int i = 0; i < result.count; ++i) {
      const int x0 = kBrushCellSize * (i % kBrushCellsPerRow);
      const int y0 = kBrushCellSize * (i / kBrushCellsPerRow);
      for (int y = 0; y < kBrushCellSize; ++y)
        std::memcpy(sheet.row(y0 + y) + x0, cells_[size_t(i)].row(y),
                    size_t(kBrushCellSize) * sizeof(uint32_t));
      cells_[size_t(i)] = gfx::Image();  // the peak stays one sheet plus what is left
    }
    result.sheet = sheet.snapshot();
    return result;
  }

 private:
  void Skip() { ++report_.skipped; }
  void Stop() {
    stopped_ = true;
    report_.limitReached = true;
  }

  // The entry's bytes, read through our own cap: the sizes in the archive's headers
  // are claims, and the inflater reads on past a claimed size until its stream ends.
  std::optional<QByteArray> ReadEntry(zip_t* archive, zip_uint64_t index) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0) {
      Skip();
      return std::nullopt;
    }
    // Without the password an encrypted entry reads as noise at best.
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
      Skip();
      return std::nullopt;
    }
    const int64_t remaining = limits_.maxTotalEntryBytes - report_.entryBytesRead;
    if (remaining <= 0) {
      Stop();
      return std::nullopt;
    }
    int64_t limit = std::min(limits_.maxEntryBytes, remaining);
    const bool declared = st.valid & ZIP_STAT_SIZE;
    if (declared) {
      if (st.size > zip_uint64_t(limit)) {
        if (st.size > zip_uint64_t(limits_.maxEntryBytes))
          Skip();
        else
          Stop();
        return std::nullopt;
      }
      limit = int64_t(st.size);
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(archive, index, 0));
    if (!file) {
      Skip();
      return std::nullopt;
    }
    QByteArray bytes;
    try {
      // One byte past the limit: the read that comes back empty is also the one at
      // which the archive checks the entry's checksum and size, and a byte more than
      // declared shows the entry lies.
      bytes.reserve(qsizetype(std::min<int64_t>(limit + 1, int64_t(4) << 20)));
      char chunk[1 << 16];
      int64_t total = 0;
      for (;;) {
        const int64_t want = std::min<int64_t>(sizeof chunk, limit + 1 - total);
        const zip_int64_t got = zip_fread(file.get(), chunk, zip_uint64_t(want));
        if (got < 0) {  // damaged data, a checksum or size mismatch
          Skip();
          return std::nullopt;
        }
        if (got == 0) break;
        total += got;
        report_.entryBytesRead += got;
        if (total > limit) {
          if (declared || total > limits_.maxEntryBytes)
            Skip();
          else
            Stop();  // an honest entry of unknown size that the load has no room for
          return std::nullopt;
        }
        bytes.append(chunk, qsizetype(got));
      }
      // The archive does not insist that an entry ends where it says it does.
      if (declared && total != limit) {
        Skip();
        return std::nullopt;
      }
    } catch (const std::bad_alloc&) {
      Skip();
      return std::nullopt;
    }
    return bytes;
  }

  // Checks the size the image declares before anything is decoded. An image that does
  // not declare its size cannot be checked and is not decoded.
  bool Admit(QIODevice* device) {
    QImageReader reader(device);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (!size.isValid() || size.isEmpty()) {
      Skip();
      return false;
    }
    const int64_t pixels = int64_t(size.width()) * size.height();
    if (pixels > limits_.maxImagePixels) {
      Skip();
      return false;
    }
    if (pixels > limits_.maxTotalPixels - totalPixels_) {
      Stop();
      return false;
    }
    totalPixels_ += pixels;
    device->seek(0);
    return true;
  }

  template <typename DecodeFn>
  void Decode(DecodeFn decode) {
    gfx::Image image;
    try {
      image = decode();
    } catch (const gfx::Error&) {
      // Undecodable pictures are skipped without a message, as the user expects of a
      // brush pack with a stray file in it.
      Skip();
      return;
    }
    cells_.push_back(PackIntoCell(image));
  }

  const TBrushLoadLimits& limits_;
  TBrushLoadReport& report_;
  std::vector<gfx::Image> cells_;
  int64_t totalPixels_ = 0;
  bool stopped_ = false;
};

gfx::Image BlankCell() {
  gfx::Surface blank(kBrushCellSize, kBrushCellSize);
  return blank.snapshot();
}

QRect CellRect(int k) {
  return QRect(kBrushCellSize * (k % kBrushCellsPerRow), kBrushCellSize * (k / kBrushCellsPerRow),
               kBrushCellSize, kBrushCellSize);
}

}  // namespace

TBrushSheet BuildBrushSheet(const QStringList& FileNames, const TBrushLoadLimits& limits,
                            TBrushLoadReport* report) {
  TBrushLoadReport scratch;
  TBrushLoadReport& out = report ? *report : scratch;
  out = {};
  BrushCollector collector(limits, out);
  for (const QString& name : FileNames) {
    if (collector.Full()) {
      out.limitReached = true;
      break;
    }
    const QString ext = LowerExtension(QFileInfo(name).fileName(), false);
    if (ext == QLatin1String(".zip"))
      collector.AddArchive(name);
    else if (ext == QLatin1String(".png"))
      collector.AddFile(name);
  }
  return collector.Finish();
}

int LoadBrushesToRepository(const QStringList& FileNames) {
  if (FileNames.isEmpty()) return 0;
  const TBrushSheet sheet = BuildBrushSheet(FileNames);
  if (sheet.count > 0) TForm3::Instance().SetPicture(kWorkingSheet, sheet.sheet);
  return sheet.count;
}

TBrushLoadStatus LoadCustomBrushes(TCustomBrushState& state, int selectedEffect,
                                   const QStringList& FileNames) {
  TBrushLoadStatus status;
  int n = 0;
  try {
    n = LoadBrushesToRepository(FileNames);
  } catch (const gfx::Error& e) {
    status.message = Translate(QStringLiteral("Error loading custom brushes"));
    status.detail = QString::fromStdString(e.what());
    return status;
  }
  state.GlobalBrushCount = n;
  status.count = n;
  if (n <= 0) {
    status.message = Translate(QStringLiteral("Error loading custom brushes"));
    return status;
  }
  status.ok = true;
  const gfx::Image sheet = TForm3::Instance().Picture(kWorkingSheet);
  switch (selectedEffect) {
    case 302:
      state.CustomBrushesOn302 = true;
      state.CustomBrushBitmap302 = sheet;
      break;
    case 303:
      state.CustomBrushesOn303 = true;
      state.CustomBrushBitmap303 = sheet;
      break;
    case 304:
      state.CustomBrushesOn304 = true;
      state.CustomBrushBitmap304 = sheet;
      state.CustomBrushCount304 = n;
      break;
    default:
      break;
  }
  return status;
}

void ResetCustomBrushes(TCustomBrushState& state, int selectedEffect) {
  switch (selectedEffect) {
    case 302:
      state.CustomBrushesOn302 = false;
      break;
    case 303:
      state.CustomBrushesOn303 = false;
      break;
    case 304:
      state.CustomBrushesOn304 = false;
      break;
    default:
      break;
  }
}

void ApplyBrushSetup(int effectId, TCustomBrushState& state) {
  TForm3& holder = TForm3::Instance();
  auto use = [&](const gfx::Image& sheet) { holder.SetPicture(kWorkingSheet, sheet); };
  switch (effectId) {
    case 302:
      use(state.CustomBrushesOn302 ? state.CustomBrushBitmap302
                                   : holder.Picture(QStringLiteral("PastelBrushes")));
      break;
    case 303:
      use(state.CustomBrushesOn303 ? state.CustomBrushBitmap303
                                   : holder.Picture(QStringLiteral("WatercolorBrushes")));
      break;
    case 304:
      if (state.CustomBrushesOn304) {
        state.GlobalBrushCount = state.CustomBrushCount304;
        use(state.CustomBrushBitmap304);
      } else {
        state.GlobalBrushCount = kDefaultBrushCount;
        use(holder.Picture(QStringLiteral("DefaultBrushes")));
      }
      break;
    case 307:
      // With custom brushes active for 304 the working sheet is left as it is; 307
      // itself stamps from the template stroke atlas.
      if (!state.CustomBrushesOn304) use(holder.Picture(QStringLiteral("DefaultBrushes")));
      break;
    default:
      break;
  }
}

std::vector<gfx::Image> ExtractSheetBrushes(const gfx::Image& sheet) {
  std::vector<gfx::Image> brushes;
  if (sheet.isEmpty()) return brushes;
  const int candidates = (sheet.height() / kBrushCellSize) * kBrushCellsPerRow;
  for (int k = 0; k < candidates; ++k) {
    const QRect cell = CellRect(k);
    if (sheet.width() < cell.right() + 1 || sheet.height() < cell.bottom() + 1) break;
    const int x = cell.x() + kBrushCellSize / 2;
    bool brush = false;
    for (int y : {64, 96, 128, 160, 192}) brush = brush || (sheet.row(cell.y() + y)[x] >> 24) > 10;
    // An unscaled copy at whole-pixel offsets is exactly the cell's pixels.
    if (brush) brushes.push_back(sheet.subset(cell));
  }
  return brushes;
}

TBrushSet ExtractCountedBrushes(const gfx::Image& sheet, int count) {
  TBrushSet set;
  if (count <= 0) return set;
  set.images.resize(size_t(count));
  set.angles.resize(size_t(count));
  const QRect bounds = sheet.isEmpty() ? QRect() : QRect(0, 0, sheet.width(), sheet.height());
  const gfx::Image blank = BlankCell();
  // Cells are independent: each band writes only its own slots.
  gfx::ParallelFor(
      count,
      [&](int begin, int end) {
        for (int k = begin; k < end; ++k) {
          const QRect cell = CellRect(k);
          gfx::Image image;
          if (bounds.contains(cell)) {
            image = sheet.subset(cell);
          } else if (bounds.intersects(cell)) {
            gfx::Surface partial(kBrushCellSize, kBrushCellSize);
            partial.drawImageRect(sheet, QRectF(cell), QRectF(0, 0, kBrushCellSize, kBrushCellSize),
                                  gfx::Sampling::Nearest);
            image = partial.snapshot();
          } else {
            image = blank;
          }
          set.angles[size_t(k)] =
              image.uniqueId() == blank.uniqueId() ? 0.0f : ComputeBrushAngle(image);
          set.images[size_t(k)] = std::move(image);
        }
      },
      4);
  return set;
}

float ComputeBrushAngle(const gfx::Image& image, int minAlpha, double minTotalAlpha) {
  if (image.isEmpty()) return 0.0f;
  const int w = image.width(), h = image.height();
  const uint32_t threshold = uint32_t(std::max(1, minAlpha));
  // The first moments in integers are exact, so the centroid is the true one.
  int64_t mass = 0, sumX = 0, sumY = 0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = image.row(y);
    int64_t rowMass = 0, rowX = 0;
    for (int x = 0; x < w; ++x) {
      const uint32_t a = row[x] >> 24;
      if (a < threshold) continue;
      rowMass += a;
      rowX += int64_t(a) * x;
    }
    mass += rowMass;
    sumX += rowX;
    sumY += rowMass * y;
  }
  if (double(mass) < minTotalAlpha || mass == 0) return 0.0f;
  const double cx = double(sumX) / double(mass);
  const double cy = double(sumY) / double(mass);
  double mu20 = 0.0, mu02 = 0.0, mu11 = 0.0;
  for (int y = 0; y < h; ++y) {
    const uint32_t* row = image.row(y);
    const double dy = y - cy;
    for (int x = 0; x < w; ++x) {
      const uint32_t a = row[x] >> 24;
      if (a < threshold) continue;
      const double dx = x - cx;
      mu20 += a * dx * dx;
      mu02 += a * dy * dy;
      mu11 += a * dx * dy;
    }
  }
  return float(0.5 * std::atan2(2.0 * mu11, mu20 - mu02));
}

}  // namespace quillora
