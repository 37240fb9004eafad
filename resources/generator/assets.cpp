#include "assets.h"

namespace assetgen {

namespace {
const AssetGenerator kGenerators[] = {
    {"PencilTexture", DrawPencilTexture},
};
}  // namespace

std::span<const AssetGenerator> AssetGenerators() { return kGenerators; }

}  // namespace assetgen
