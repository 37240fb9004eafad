#pragma once

#include "engine/effect_services.h"

namespace quillora {

// Effect 101, "Pencil Sketch 2". Draws from the process-wide random generator without
// reseeding it, so two runs differ unless the caller seeds it.
void Pencil6(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
             bool Preview);

namespace pencil6 {

// The number of stroke iterations less one (the loop runs s = 0..N): a full render
// scales the slider's count with the picture's area, a preview takes it as it is.
int StrokeIterations(int width, int height, int P3, bool preview);
// q, the quality level 0..250 that sets how many candidates a stroke gets.
int Quality(int P5);
// The candidates tried for each stroke less one, at pct per cent of the loop.
int CandidatesPerStroke(int pct, int q);
// The strokes placed in iteration s of N less one.
int StrokeGroups(int s, int N);

}  // namespace pencil6

}  // namespace quillora
