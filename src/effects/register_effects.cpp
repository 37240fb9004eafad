#include "effects/register_effects.h"

#include "effects/sketch/pencil_sketch.h"
#include "engine/effect_registry.h"

namespace quillora {

void RegisterBuiltinEffects() {
  RegisterEffect(100, &PencilSketch);
}

}  // namespace quillora
