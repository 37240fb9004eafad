#include "assets.h"

namespace assetgen {

namespace {
const AssetGenerator kGenerators[] = {
    {"PencilTexture", DrawPencilTexture},
    {"DefaultBrushes", DrawDefaultBrushes},
    {"WatercolorBrushes", DrawWatercolorBrushes},
    {"PastelBrushes", DrawPastelBrushes},
    {"TemplateMatchingBrushes", DrawTemplateMatchingBrushes},
    {"PaintBrushSim", DrawPaintBrushSim},
    {"PaintBrushSim2", DrawPaintBrushSim2},
    {"PaintBrushSim3", DrawPaintBrushSim3},
    {"VCLwatercolortexture", DrawWatercolorGrain},
    {"OldFilmTexture", DrawOldFilmTexture},
    {"TextureList/Canvas", DrawCanvasTexture},
    {"TextureList/Paper", DrawPaperTexture},
    {"TextureList/Impasto", DrawImpastoTexture},
    {"TextureList/watercolor", DrawWatercolorTexture},
    {"TextureList/cardboard", DrawCardboardTexture},
    {"TextureList/fabric", DrawFabricTexture},
    {"FrameList/1", DrawFrame1},
    {"FrameList/2", DrawFrame2},
    {"FrameList/3", DrawFrame3},
    {"FrameList/4", DrawFrame4},
    {"FrameList/5", DrawFrame5},
    {"FrameList/6", DrawFrame6},
    {"FrameList/7", DrawFrame7},
    // The frame tool starts with the gilt frame.
    {"Frame", DrawFrame2},
};
}  // namespace

std::span<const AssetGenerator> AssetGenerators() { return kGenerators; }

}  // namespace assetgen
