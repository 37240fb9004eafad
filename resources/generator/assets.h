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

// Brush sheets, black with coverage in alpha, brushes in 256 x 256 cells 8 to a row.
// 2048 x 1536, 40 dry oil-paint strokes and dabs in cells 0-39.
QImage DrawDefaultBrushes();
// 2048 x 768, 21 watercolour blotches, washes and spatters in cells 0-20.
QImage DrawWatercolorBrushes();
// 2048 x 512, 13 grainy pastel patches and hatchings in cells 0-12.
QImage DrawPastelBrushes();
// 1250 x 2000 opaque: dark strokes on white in 250 x 250 cells 5 to a row, cells 0-37
// strokes, 38 and 39 plain white.
QImage DrawTemplateMatchingBrushes();
// Round brush tips, black with coverage in alpha: 80 x 80, 54 x 56 and 38 x 39.
QImage DrawPaintBrushSim();
QImage DrawPaintBrushSim2();
QImage DrawPaintBrushSim3();

}  // namespace assetgen
