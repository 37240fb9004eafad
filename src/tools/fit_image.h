// Padding or cropping a picture to a given size without scaling it, for gallery images
// that become the source or the result beside an image of another size.
#pragma once

#include "gfx/image.h"

namespace quillora {

// `image` itself when it already is width x height. Otherwise a new width x height
// image of opaque white with `image` drawn unscaled and centred at
// ((width - image width) / 2, (height - image height) / 2), so a larger image is cropped
// equally on both sides and a smaller one is framed in white. An odd difference leaves
// the extra pixel on the right (or bottom), as the division truncates toward zero.
// A null image gives a white canvas. Throws gfx::Error for a size that cannot be
// allocated (including width or height <= 0). Any thread.
gfx::Image FitImageToSize(const gfx::Image& image, int width, int height);

}  // namespace quillora
