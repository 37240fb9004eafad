// The pictures the generator can draw, by the component name the program knows them by.
#pragma once

#include <QImage>
#include <span>

namespace assetgen {

struct AssetGenerator {
  // The component name, or LIST/ITEM for an item of an image list (TextureList/Canvas);
  // the picture is written as <name>.png.
  const char* name;
  QImage (*draw)();
};

// Every picture, in a fixed order.
std::span<const AssetGenerator> AssetGenerators();

// 512 x 166 opaque greyscale tone strip of pencil hatching, dark at the left.
QImage DrawPencilTexture();

}  // namespace assetgen
