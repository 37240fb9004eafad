#pragma once

#include "engine/effect_services.h"

namespace quillora {

// Effect 201, "Stippling": the photo as black and white dots of ink.
void Stippling(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
               bool Preview);

}  // namespace quillora
