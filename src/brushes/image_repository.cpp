#include "brushes/image_repository.h"

#include <QImage>

// The resources live in a static library; naming their initialiser keeps the linker
// from dropping them and registers them before the first picture is read.
static void InitAssetResources() { Q_INIT_RESOURCE(assets); }

namespace quillora {

namespace {
struct PictureResource {
  const char* component;
  const char* resource;
};

const PictureResource kPictures[] = {
    {"DefaultImage", ":/assets/default_image.jpg"},
    {"PencilTexture", ":/assets/PencilTexture.png"},
};
}  // namespace

TForm3& TForm3::Instance() {
  static TForm3 holder = [] {
    InitAssetResources();
    return TForm3();
  }();
  return holder;
}

QStringList TForm3::PictureNames() {
  QStringList names;
  for (const auto& p : kPictures) names << QString::fromLatin1(p.component);
  return names;
}

gfx::Image TForm3::Picture(const QString& componentName) {
  std::lock_guard lock(mutex_);
  auto it = cache_.find(componentName);
  if (it != cache_.end()) return it->second;
  gfx::Image image;
  for (const auto& p : kPictures) {
    if (componentName == QLatin1String(p.component)) {
      const QImage decoded(QString::fromLatin1(p.resource));
      if (!decoded.isNull()) image = gfx::Image::FromQImage(decoded);
      break;
    }
  }
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

gfx::Image TForm3::DefaultImage() { return Picture(QStringLiteral("DefaultImage")); }
gfx::Image TForm3::PencilTexture() { return Picture(QStringLiteral("PencilTexture")); }

}  // namespace quillora
