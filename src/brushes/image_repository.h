// The image holder: every picture the program ships with, by component name.
//
// Pictures are decoded from the embedded resources on first use and then shared.
// Other layers read them on the interface thread (effects copy what they need through
// SynchronizeUi); the holder itself is safe to read from any thread.
#pragma once

#include "gfx/image.h"

#include <QString>
#include <map>
#include <mutex>

namespace quillora {

class TForm3 {
 public:
  static TForm3& Instance();

  // 960 x 1440 opaque colour photograph, the sample picture.
  gfx::Image DefaultImage();
  // 512 x 166 opaque pencil cross-hatching tone strip, dark at the left.
  gfx::Image PencilTexture();

  // A picture by component name; an empty image when there is none.
  gfx::Image Picture(const QString& componentName);

  // Replaces a picture (the brush loader replaces the working sheet this way). An
  // empty image makes the picture missing, which every user of it must survive.
  void SetPicture(const QString& componentName, const gfx::Image& image);
  // Forgets replacements: the next read decodes the built-in picture again.
  void RestoreBuiltinPicture(const QString& componentName);

  // Every built-in picture's component name.
  static QStringList PictureNames();

 private:
  TForm3() = default;
  std::mutex mutex_;
  std::map<QString, gfx::Image> cache_;
};

}  // namespace quillora
