#include "tools/fit_image.h"

#include "gfx/surface.h"

namespace quillora {

gfx::Image FitImageToSize(const gfx::Image& image, int width, int height) {
  if (!image.isEmpty() && image.width() == width && image.height() == height) return image;
  gfx::Surface canvas(width, height);
  canvas.clear(0xFFFFFFFF);
  if (!image.isEmpty()) {
    // Integer offsets keep the draw an exact pixel copy whatever the sampling.
    const int x = (width - image.width()) / 2;
    const int y = (height - image.height()) / 2;
    canvas.drawImage(image, x, y, gfx::Sampling::Cubic);
  }
  return canvas.snapshot();
}

}  // namespace quillora
