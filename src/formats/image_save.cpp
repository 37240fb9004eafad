#include "formats/image_save.h"

#include "formats/resolution_writers.h"
#include "gfx/codec.h"

#include <QFileInfo>
#include <QSaveFile>
#include <optional>

namespace quillora {

namespace {

[[noreturn]] void CannotWrite(const QString& path, const QString& reason) {
  throw gfx::Error(QStringLiteral("Cannot write %1: %2").arg(path, reason).toStdString());
}

std::optional<gfx::FileFormat> FormatForSuffix(const QString& lowerSuffix) {
  if (lowerSuffix == QLatin1String("jpg") || lowerSuffix == QLatin1String("jpeg"))
    return gfx::FileFormat::Jpeg;
  if (lowerSuffix == QLatin1String("png")) return gfx::FileFormat::Png;
  if (lowerSuffix == QLatin1String("webp")) return gfx::FileFormat::WebP;
  return std::nullopt;
}

}  // namespace

void SaveImageFile(const gfx::Image& image, const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  const auto format = FormatForSuffix(suffix);
  if (!format) throw gfx::Error("Invalid extension");

  QByteArray bytes = gfx::EncodeImage(image, *format, 80);
  if (suffix == QLatin1String("jpg"))
    bytes = SetJPEGDPITo300(bytes);
  else if (suffix == QLatin1String("png"))
    bytes = InsertPngDPI300(bytes);
  WriteFileAtomically(path, bytes);
}

void WriteFileAtomically(const QString& path, const QByteArray& bytes) {
  if (QFileInfo(path).isDir()) CannotWrite(path, QStringLiteral("it is a folder"));
  QSaveFile file(path);
  // Without the direct-write fallback: in a folder we may not create files in, writing
  // straight into an existing file could leave it half written.
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) CannotWrite(path, file.errorString());
  if (file.write(bytes) != bytes.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    CannotWrite(path, reason);
  }
  // commit() flushes, syncs and renames; a full disk shows up here at the latest, and
  // the temporary file is removed.
  if (!file.commit()) CannotWrite(path, file.errorString());
}

SaveProposal ProposedSaveName(const QString& sourceFileName) {
  if (sourceFileName.isEmpty()) return {QString(), QStringLiteral("Quillora_image.png"), 2};
  const QFileInfo source(sourceFileName);
  QString suffix = source.suffix().toLower();
  if (!FormatForSuffix(suffix)) suffix = QStringLiteral("png");
  const bool jpeg = suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
  return {source.absolutePath(), source.completeBaseName() + QStringLiteral("_QL.") + suffix,
          jpeg ? 1 : 2};
}

}  // namespace quillora
