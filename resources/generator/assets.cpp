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
};
}  // namespace

std::span<const AssetGenerator> AssetGenerators() { return kGenerators; }

}  // namespace assetgen
