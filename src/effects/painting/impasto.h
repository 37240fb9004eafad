#pragma once

#include "engine/effect_services.h"

#include <cstdint>

namespace quillora {

// Effect 304, "Impasto brushstrokes".
void SystematicPainting(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                        bool Preview);

// The same with an explicit number of band workers (SystematicPainting uses one fewer
// than the processors, at least one). With one band and a seeded generator the
// picture is reproducible; with more, the order of the random draws across bands is
// not.
void SystematicPaintingBands(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                             int P5, bool Preview, int ThreadCount);

// What the five sliders mean for a source of w x h pixels.
struct TImpastoSettings {
  int MinSize = 3, MaxSize = 3;  // brush sizes in source pixels
  int LastPass = 8;              // N: the passes are 0 .. N
  int RefineCount = 2;           // Rf: brushes tried per stroke at large sizes
  int SkipLimit = 65;            // a pixel this close to the source needs no paint
  int DensityLayers = 1;         // grid layers of the grid passes
  int64_t DensityPer10000 = 20;  // strokes per brush area of the scattered passes, / 10000
  float GlobalOpacity = 1.0f;    // the stroke paint's alpha
  int ScaleFactor = 1;           // strokes are chosen on a picture this many times smaller
  int WorkW = 1, WorkH = 1;
  int ScratchSize = 256;  // side of each worker's scratch square
};
TImpastoSettings ImpastoSettings(int w, int h, int P1, int P2, int P3, int P4, int P5);

// The brush and search of pass k.
struct TImpastoPass {
  int CurrentBrushSize = 1;  // in source pixels
  int WorkBrushSize = 1;     // on the work picture
  bool IsStochastic = false;
  int ScanLimit = 0;  // half-extent of the scored window around a stroke
  int Threshold = 0;  // least gain a stroke must bring
  int CheckStep = 1;  // scoring samples every CheckStep-th pixel
  int CurrentRefineCount = 1;
  int CurrentSideSteps = 0;  // angle variations of 5 degrees either way
  int GridStep = 1;
  int DensityLayers = 1;
};
TImpastoPass ImpastoPass(const TImpastoSettings& settings, int k);

}  // namespace quillora
