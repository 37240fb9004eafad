#pragma once

#include "engine/effect_services.h"

namespace quillora {

// Effect 400, "Orton filter".
void OrtonFilter(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                 bool Preview);

}  // namespace quillora
