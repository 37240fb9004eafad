#pragma once

#include "engine/effect_services.h"

#include <cstdint>

namespace quillora {

// Effect 305, "Brushstrokes 2". Draws from the process-wide generator without seeding
// it, so a caller that seeds it first gets the same picture every time.
void Ollivander(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                bool Preview);

// What the five sliders mean.
struct TBrushstrokes2Settings {
  int LengthDivisor = 28;     // D: larger brush sizes give longer strokes
  int BatchMultiplier = 1;    // Bm: strokes per iteration per 48400 pixels
  int SkipLevel = 255;        // Sk: untargeted strokes are dropped when Random(290) < Sk
  int AcceptNumerator = 256;  // 256 Af: a stroke stays when after * this < before * 256
  int Saturation = 0;         // the VibrancePop saturation amount, -100..100
};
TBrushstrokes2Settings Brushstrokes2Settings(int P1, int P2, int P3, int P4, int P5);

// One row of a main-stroke stamp: every pixel i of dst[0, n) with coverage a[i] != 0
// (and, when src is given, whose source pixel src[i] is not fully transparent) moves
// towards the patch colour p[i] by t = (d (255 - a) + p a) div 255, then
// ((255 - op) d + op t) div 255 per colour channel, and becomes opaque. The other
// pixels are left alone. dst holds straight colours; op is 0..255. Uses AVX2 where the
// processor has it.
void BlendStampSpan(uint32_t* dst, const uint8_t* a, const uint32_t* p, const uint32_t* src, int n,
                    int op);
// The same with the baseline (SSE2) vectors, for processors without AVX2, where
// BlendStampSpan uses it.
void BlendStampSpanSse2(uint32_t* dst, const uint8_t* a, const uint32_t* p, const uint32_t* src,
                        int n, int op);
// The same, one pixel at a time: the oracle of the vector versions.
void BlendStampSpanReference(uint32_t* dst, const uint8_t* a, const uint32_t* p,
                             const uint32_t* src, int n, int op);

}  // namespace quillora
