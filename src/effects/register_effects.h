#pragma once

namespace quillora {

// Registers the routine of every built-in effect with the runner. Called once at
// start-up by each program before any effect runs.
void RegisterBuiltinEffects();

}  // namespace quillora
