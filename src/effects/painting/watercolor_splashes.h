#pragma once

#include "engine/effect_services.h"

#include <cstdint>

namespace quillora {

// Effect 303, "Watercolor splashes": blotches, washes and spatter from the working
// brush sheet, laid large to small along the forms and kept only where they bring the
// painting closer to the photo. Draws from the process-wide random generator without
// seeding it. A cancellation ends it quietly, with the splashes laid so far.
void NewDirectionalStrokesgood(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                               int P5, bool Preview);

// What the five sliders mean (values are held to 0..100 first).
struct TSplashSettings {
  int MinSize = 3, MaxSize = 3;  // splash sizes in pixels
  float GridDivisor = 1.0f;      // q: the grid step of the first passes is the size / q
  int LastPass = 10;             // N: the passes are 0 .. N
  int Attempts = 1;              // A0: brushes tried per splash
  int SeedSamples = 10;          // points sampled for the seed of a scattered splash
  bool EarlyStop = true;         // stop trying once a try is clearly good enough
  bool LowerThreshold = false;   // seed threshold 10 lower
  float Opacity = 1.0f;          // the paint's alpha
};
// paintOver: "Erase background" off, the splashes go over the current picture.
TSplashSettings SplashSettings(int P1, int P2, int P3, int P4, int P5, bool paintOver);

// Pass k of the settings.
struct TSplashPass {
  int Size = 3;            // s
  bool Grid = true;        // on a jittered grid, else scattered where the painting is off
  int GridStep = 1;        // g
  int HalfExtent = 2;      // e: the scored and composited window around the scratch centre
  int Attempts = 1;        // A
  int SeedThreshold = 2;   // T: how far off a spot must be for a splash
  int64_t Acceptance = 0;  // L: how much a splash must improve the painting
  int SampleStep = 2;      // st: tries are scored on every st-th row and column
  int Strokes = 0;         // K: splashes of a scattered pass
};
TSplashPass SplashPass(const TSplashSettings& settings, int k, bool paintOver, int w, int h);

}  // namespace quillora
