// The texture overlay: gives a finished picture the grain of paper, canvas or fabric
// by shifting the brightness of every pixel after a tiled greyscale texture. Used by
// the texture selector, the "Add texture" switch (through the runner), the manual
// brush and scripts.
#pragma once

#include "gfx/image.h"

#include <QString>

namespace quillora {

// `image` with `texture` laid over it: the texture is tiled from a random offset
// (drawn once per call from the process-wide generator, so two applications rarely
// line up), stretched by `scale` (2 doubles its size on the image) and sampled
// bilinearly; a texel darker than the texture's mean luminance brightens the pixel,
// a lighter one darkens it, by `strength` percent of the difference. The shift goes
// onto the premultiplied colour bytes, held within 0..alpha; alpha is unchanged and
// fully transparent pixels are left alone.
//
// Returns `image` itself when it or `texture` is empty. Throws gfx::Error when the
// scale is not greater than 0 (the texture coordinates divide by it) and when memory
// runs out. Any thread; the rows are spread over the global pool, and the result does
// not depend on how.
gfx::Image ApplyTexture(const gfx::Image& image, const gfx::Image& texture, int strength,
                        float scale);

// Makes ApplyTexture the overlay the effect runner applies when "Add texture" is on.
// Once at start-up.
void InstallTextureOverlay();

// The texture a user names: a built-in texture ("Canvas", "Paper", ... in any letter
// case, and any custom texture appended to the list), or else an image file. Throws
// gfx::Error with a one-line message when it is neither. On the interface thread,
// since it reads the image holder's list.
gfx::Image ResolveTexture(const QString& nameOrFile);

}  // namespace quillora
