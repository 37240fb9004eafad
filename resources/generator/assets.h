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

// Opaque greyscale surfaces. 1024 x 768 cold-press paper grain for the wash painting.
QImage DrawWatercolorGrain();
// 2904 x 2064 flat grey film overlay with scratches, dust and hairs, wrapping round.
QImage DrawOldFilmTexture();
// 1024 x 1024 light textures that tile without a seam.
QImage DrawCanvasTexture();
QImage DrawPaperTexture();
QImage DrawImpastoTexture();
QImage DrawWatercolorTexture();
QImage DrawCardboardTexture();
QImage DrawFabricTexture();

// Frames: an opaque border round a fully transparent middle of about four fifths of
// the picture. 2225 x 2196 walnut, 2244 x 2424 gilt (also the working frame),
// 1122 x 1212 oak, 816 x 1456 silver, 2260 x 3000 black with a white mat,
// 1100 x 1100 barn wood, 2024 x 2416 dark wood with a double mat.
QImage DrawFrame1();
QImage DrawFrame2();
QImage DrawFrame3();
QImage DrawFrame4();
QImage DrawFrame5();
QImage DrawFrame6();
QImage DrawFrame7();

}  // namespace assetgen
