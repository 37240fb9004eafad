#include "brushes/image_repository.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <algorithm>

// The resources live in a static library; naming their initialiser keeps the linker
// from dropping them and registers them before the first picture is read.
static void InitAssetResources() { Q_INIT_RESOURCE(assets); }

namespace quillora {

namespace {

const QString kRoot = QStringLiteral(":/assets");

// The texture list has an order of its own (the selector's second item is the
// default); other lists are ordered by number, then by name.
const QStringList kTextureListOrder = {QStringLiteral("Canvas"),     QStringLiteral("Paper"),
                                       QStringLiteral("Impasto"),    QStringLiteral("watercolor"),
                                       QStringLiteral("cardboard"), QStringLiteral("fabric")};

bool ListItemBefore(const QString& list, const QString& a, const QString& b) {
  if (list == QLatin1String("TextureList")) {
    const auto ia = kTextureListOrder.indexOf(a), ib = kTextureListOrder.indexOf(b);
    if (ia != ib) return (ia < 0 ? 1000 : ia) < (ib < 0 ? 1000 : ib);
  }
  bool na = false, nb = false;
  const int va = a.toInt(&na), vb = b.toInt(&nb);
  if (na && nb && va != vb) return va < vb;
  if (na != nb) return na;
  return a < b;
}

QString ResourceFor(const QString& component) {
  for (const char* ext : {".png", ".jpg"}) {
    const QString path = kRoot + QLatin1Char('/') + component + QLatin1String(ext);
    if (QFileInfo::exists(path)) return path;
  }
  return QString();
}

}  // namespace

TForm3& TForm3::Instance() {
  static TForm3 holder = [] {
    InitAssetResources();
    return TForm3();
  }();
  return holder;
}

QStringList TForm3::PictureNames() {
  Instance();
  QStringList names;
  for (const QFileInfo& f : QDir(kRoot).entryInfoList(QDir::Files, QDir::Name))
    names << f.completeBaseName();
  // The working brush sheet is a component too, drawn as the default sheet.
  if (names.contains(QLatin1String("DefaultBrushes"))) names << QStringLiteral("Brushes");
  names.sort();
  return names;
}

QStringList TForm3::ImageListNames() {
  Instance();
  return QDir(kRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

gfx::Image TForm3::Decode(const QString& resource) {
  if (resource.isEmpty()) return gfx::Image();
  const QImage decoded(resource);
  return decoded.isNull() ? gfx::Image() : gfx::Image::FromQImage(decoded);
}

gfx::Image TForm3::Picture(const QString& componentName) {
  std::unique_lock lock(mutex_);
  auto it = cache_.find(componentName);
  if (it != cache_.end()) return it->second;
  if (componentName == QLatin1String("Brushes")) {
    lock.unlock();
    return Picture(QStringLiteral("DefaultBrushes"));
  }
  const gfx::Image image = Decode(ResourceFor(componentName));
  cache_[componentName] = image;
  return image;
}

void TForm3::SetPicture(const QString& componentName, const gfx::Image& image) {
  std::lock_guard lock(mutex_);
  cache_[componentName] = image;
}

void TForm3::RestoreBuiltinPicture(const QString& componentName) {
  std::lock_guard lock(mutex_);
  cache_.erase(componentName);
}

std::vector<NamedImage> TForm3::ImageList(const QString& listName) {
  std::lock_guard lock(mutex_);
  auto it = lists_.find(listName);
  if (it == lists_.end()) {
    std::vector<NamedImage> items;
    const QDir dir(kRoot + QLatin1Char('/') + listName);
    QStringList names;
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files)) names << f.completeBaseName();
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return ListItemBefore(listName, a, b); });
    for (const QString& name : names)
      items.push_back({name, Decode(dir.filePath(name + QStringLiteral(".png")))});
    it = lists_.emplace(listName, std::move(items)).first;
  }
  return it->second;
}

void TForm3::AppendToImageList(const QString& listName, const QString& itemName,
                               const gfx::Image& image) {
  ImageList(listName);  // the built-in items come first
  std::lock_guard lock(mutex_);
  lists_[listName].push_back({itemName, image});
}

gfx::Image TForm3::DefaultImage() { return Picture(QStringLiteral("DefaultImage")); }
gfx::Image TForm3::PencilTexture() { return Picture(QStringLiteral("PencilTexture")); }

}  // namespace quillora
