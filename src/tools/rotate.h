// Quarter turns of a picture, pixel by pixel (no resampling): a W x H image becomes
// H x W. Clockwise, source pixel (x, y) goes to (H - 1 - y, x); counter-clockwise to
// (y, W - 1 - x). An empty image stays empty.
#pragma once

#include "gfx/image.h"

namespace quillora {

gfx::Image RotateImage90(const gfx::Image& image, bool clockwise);

}  // namespace quillora
