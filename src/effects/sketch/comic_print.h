#pragma once

#include "engine/effect_services.h"

#include <cstdint>
#include <vector>

namespace quillora {

// Effect 203, "Comic print": a four-colour comic-book print with ink contours.
void ComicPrintHalftone(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview);

// The contour ink of the comic print, one byte per pixel of `Blurred` in raster order
// (0 none, 255 full ink): the strong edges of `Blurred` (the source blurred with sigma
// P5 / 100 + 1) for the cell size C (4..40) and the contour slider P5 (1..100). A
// separate routine so that the tests can hold it against a direct computation.
std::vector<uint8_t> ComicContourInk(const Image& Blurred, int P5, int C);

}  // namespace quillora
