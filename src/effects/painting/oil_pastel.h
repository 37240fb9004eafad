#pragma once

#include "engine/effect_services.h"

#include <cstdint>
#include <vector>

namespace quillora {

// Effect 302, "Oil Pastel": grainy crayon marks from the working brush sheet, laid from
// large to small wherever the drawing still differs most from the photo.
void NewRandomStrokes_BestOfN(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                              int P5, bool Preview);

// The parts of the routine's schedule that follow from the sliders alone, for tests.

struct TOilPastelSizes {
  int MinSize = 0;
  int MaxSize = 0;
};
// Brush sizes in pixels; in paint-over mode the largest marks are a third smaller.
TOilPastelSizes OilPastelSizes(int P1, int P2, bool paintOver);

struct TOilPastelRoundPlan {
  int seedBudget = 0;   // B: seed candidates per round, before the grouping by ten
  int step = 1;         // st: attempts are scored on every step-th row and column
  int extraRounds = 0;  // X: rounds beyond the first per repeat
  int repeats = 0;      // Rp: repeats beyond the first per iteration
  int attempts = 0;     // brush and angle tries per seed
};
TOilPastelRoundPlan OilPastelRoundPlan(int s, int MaxSize, int P3, int P4);

// The brush size of iteration a (1000 down to 0) on a w x h picture. Draws one random
// number below a = 951.
int OilPastelBrushSize(int a, int MinSize, int MaxSize, int w, int h);

// How much a mark of size s must improve the drawing in iteration a to be kept.
int64_t OilPastelAcceptLevel(int s, int a, bool paintOver);

// The millisecond (0..999) of the wall clock each run seeds the random generator with.
// Tests replace it to repeat a run; nullptr restores the clock.
using MillisecondSource = int (*)();
void SetOilPastelMillisecondSource(MillisecondSource source);

// The coverage (alpha, row by row) of one mark on a square of side `side`: the brush
// picture `brush` (a 256 x 256 cell) drawn into the square (-s/2, -s/2) - (s/2, s/2)
// turned by theta radians about the centre (side div 2), at `opacity`, exactly as the
// routine renders it. For tests, which hold it against the graphics layer's cubic draw.
std::vector<uint8_t> OilPastelMarkCoverage(const Image& brush, int s, double theta, int side,
                                           float opacity);

}  // namespace quillora
