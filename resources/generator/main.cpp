// quillora-assetgen OUTDIR [NAME...]: draws the built-in pictures as OUTDIR/NAME.png.
// An item of an image list is named LIST/ITEM and written as OUTDIR/LIST/ITEM.png.
//
// Runs at build time. Without names it draws every picture it knows. The output depends
// only on the generator's code, never on the clock or the machine's random state, so
// a rebuild reproduces the same files byte for byte.
#include "assets.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QString>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const assetgen::AssetGenerator* Find(const char* name) {
  for (const auto& generator : assetgen::AssetGenerators())
    if (std::strcmp(generator.name, name) == 0) return &generator;
  return nullptr;
}

// Writes through a temporary file, so an interrupted build never leaves a truncated
// picture that looks up to date.
bool Write(const QImage& image, const QString& path) {
  QSaveFile file(path);
  QString error;
  if (file.open(QIODevice::WriteOnly)) {
    QImageWriter writer(&file, "png");
    // Fixed settings, so the encoded bytes do not depend on Qt's defaults. Qt's PNG
    // writer takes the compression on a 0..100 scale (9 would store almost raw).
    writer.setCompression(100);
    if (writer.write(image) && file.commit()) return true;
    error =
        writer.error() != QImageWriter::UnknownError ? writer.errorString() : file.errorString();
  } else {
    error = file.errorString();
  }
  std::fprintf(stderr, "quillora-assetgen: cannot write %s: %s\n", qPrintable(path),
               qPrintable(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quillora-assetgen OUTDIR [NAME...]\nnames:");
    for (const auto& generator : assetgen::AssetGenerators())
      std::fprintf(stderr, " %s", generator.name);
    std::fprintf(stderr, "\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "quillora-assetgen: cannot create %s\n", argv[1]);
    return 1;
  }

  std::vector<const assetgen::AssetGenerator*> chosen;
  if (argc == 2) {
    for (const auto& generator : assetgen::AssetGenerators()) chosen.push_back(&generator);
  } else {
    for (int i = 2; i < argc; ++i) {
      const auto* generator = Find(argv[i]);
      if (!generator) {
        std::fprintf(stderr, "quillora-assetgen: no picture named %s\n", argv[i]);
        return 2;
      }
      chosen.push_back(generator);
    }
  }

  for (const auto* generator : chosen) {
    const QImage image = generator->draw();
    if (image.isNull()) {
      std::fprintf(stderr, "quillora-assetgen: %s produced no picture\n", generator->name);
      return 1;
    }
    // Names of list items ("TextureList/Canvas") go into a folder of the list's name.
    const QString path =
        outDir + QLatin1Char('/') + QLatin1String(generator->name) + QStringLiteral(".png");
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !Write(image, path)) return 1;
  }
  return 0;
}
