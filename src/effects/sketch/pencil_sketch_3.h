#pragma once

#include "engine/effect_services.h"

namespace quillora {

// Effect 102, "Pencil Sketch 3". Draws from the process-wide random generator without
// reseeding it, so two runs differ unless the caller seeds it.
void DynamicPencil(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                   bool Preview);

namespace dynamic_pencil {

// The strokes of a run less one (the loop runs k = 0..S): grows with the picture's
// area, each side counting up to 7000 pixels.
int StrokeCount(int width, int height, int P1);
// How many start points a stroke may try before the paper is taken as offering none.
constexpr int kStartTries = 1 << 14;

}  // namespace dynamic_pencil

}  // namespace quillora
