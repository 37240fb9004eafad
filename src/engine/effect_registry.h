// Which routine draws each catalogue effect. The effect libraries register their
// routines (RegisterBuiltinEffects in the effects layer); the runner looks them up.
#pragma once

#include "engine/effect_services.h"

#include <vector>

namespace quillora {

// Registers `proc` for a catalogue identifier; other identifiers are ignored.
void RegisterEffect(int id, TEffectProc proc);
// nullptr when nothing is registered for `id`.
TEffectProc EffectProcFor(int id);
// The registered identifiers in ascending order.
std::vector<int> RegisteredEffects();

// The texture overlay the runner applies when "Add texture" is on (installed by the
// finishing tools); without one the result is left as it is.
using TextureOverlayProc = Image (*)(const Image& image, const Image& texture, int strength,
                                     float scale);
void SetTextureOverlayProc(TextureOverlayProc proc);
TextureOverlayProc GetTextureOverlayProc();

}  // namespace quillora
