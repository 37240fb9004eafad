// The image holder: every picture the program ships with, by component name.
//
// Pictures live in the embedded resources as :/assets/<Component>.png (the sample
// photo as .jpg); the items of an image list as :/assets/<List>/<Item>.png. They are
// decoded on first use and then shared, so start-up decodes nothing. Other layers read
// them on the interface thread (effects copy what they need through SynchronizeUi);
// the holder itself is safe to use from any thread.
#pragma once

#include "gfx/image.h"

#include <QString>
#include <QStringList>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace quillora {

struct NamedImage {
  QString name;
  gfx::Image image;
};

class TForm3 {
 public:
  static TForm3& Instance();

  // 960 x 1440 opaque colour photograph, the sample picture.
  gfx::Image DefaultImage();
  // 512 x 166 opaque pencil cross-hatching tone strip, dark at the left.
  gfx::Image PencilTexture();

  // A picture by component name; an empty image when there is none. "Brushes", the
  // working brush sheet, is the picture of "DefaultBrushes" until something replaces it.
  gfx::Image Picture(const QString& componentName);

  // Replaces a picture (the brush loader replaces the working sheet this way). An
  // empty image makes the picture missing, which every user of it must survive.
  void SetPicture(const QString& componentName, const gfx::Image& image);
  // Forgets a replacement: the next read gives the built-in picture again.
  void RestoreBuiltinPicture(const QString& componentName);

  // The items of an image list ("FrameList", "TextureList") in list order, built-in
  // items first, then those appended.
  std::vector<NamedImage> ImageList(const QString& listName);
  // Appends an item (a custom texture or frame) until the program ends.
  void AppendToImageList(const QString& listName, const QString& itemName,
                         const gfx::Image& image);

  // The component names of the built-in pictures, and of the built-in image lists.
  static QStringList PictureNames();
  static QStringList ImageListNames();

 private:
  TForm3() = default;
  gfx::Image Decode(const QString& resource);
  std::mutex mutex_;
  std::map<QString, gfx::Image> cache_;
  std::map<QString, std::vector<NamedImage>> lists_;
};

}  // namespace quillora
