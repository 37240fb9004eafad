// Finishing passes the painting effects run after their strokes are laid: an
// edge-preserving smoothing, a colour lift that spares skin tones, an edge-hatching
// layer and its blended overlay, and a 3 x 3 sharpening.
//
// All work on premultiplied BGRA8888 pixels and run on the caller's thread; only the
// smoothing spreads its rows over worker threads, and its result does not depend on
// how many there are. None of them reports progress or tests for cancellation on its
// own: that is the calling effect's business (the smoothing hands it a callback).
#pragma once

#include "gfx/image.h"
#include "gfx/surface.h"

#include <functional>

namespace quillora {

// Smooths `Surface` in place, `Iterations` times. Each pixel becomes the weighted mean
// of the pixels within `Radius` whose guide colour lies within `ColorThreshold`
// (Euclidean, on the premultiplied bytes) of its own guide colour; the weights are a
// spatial Gaussian of sigma SpatialSigma (raised to Radius / 2.5, at least 0.5, when
// smaller) times, with UseRangeWeights, a range Gaussian of RangeSigma over the largest
// channel difference, widened by 20 % with every further iteration. The guide is
// `Guide` when it is given and has the surface's size, otherwise the pixels being
// smoothed. Fully transparent pixels are kept as they are and never contribute; alpha
// is never changed, and a mean that would exceed a translucent pixel's alpha is held
// at it.
//
// Rows run on a private pool of at most ThreadCount threads when ThreadCount > 0,
// otherwise on the global pool. OnProgress (optional) is called on the calling
// thread before every iteration with n / Iterations; an exception it throws stops
// the smoothing and leaves the surface as it was.
void SimilaritySmoothSurface_MT(gfx::Surface& Surface, const gfx::Image* Guide, int Radius,
                                int ColorThreshold, int Iterations, bool UseRangeWeights,
                                float SpatialSigma, float RangeSigma, int ThreadCount,
                                const std::function<void(float)>& OnProgress);

// Writes a colour-adjusted copy of `Source` into `Dest`: Vibrance lifts dull colours
// more than vivid ones, Saturation scales all colour, Contrast stretches luminance
// around mid-grey (those three -100..100), SkinProtect (0..100) holds back the change
// on orange-brown hues near 35 degrees, and Mix (0..100) blends the adjusted colour
// with the original. Values outside the ranges are clamped. The copy into `Dest` and
// a redraw of the main view happen on the interface thread. `Preview` is not used.
void VibrancePop(const gfx::Image& Source, gfx::Surface& Dest, int Vibrance, int Saturation,
                 int Contrast, int SkinProtect, int Mix, bool Preview);

// Draws an edge-hatching layer of `Source` into `Dest` (same size, cleared first):
// short dark strokes along the edges whose Sobel magnitude reaches EdgeThreshold,
// longer and darker with StrokeScale and Darkness, on opaque white, or on transparency
// when any source pixel is not opaque. EdgeThreshold < 1 means 24, StrokeScale < 1
// means 60, Darkness is clamped to 0..255. Sources of width or height 2 or less leave
// `Dest` cleared.
void SobelEffectSource(const gfx::Image& Source, gfx::Surface& Dest, int EdgeThreshold,
                       int Darkness, int StrokeScale);

// Draws the edge-hatching layer of `Source` over `Dest` in blend mode Multiply
// (Mode 0 and any unknown value), Darken (1) or Overlay (2) at Opacity percent
// (clamped to 0..100), through `Dest`'s current matrix.
void BlendSobelEdges(const gfx::Image& Source, gfx::Surface& Dest, int EdgeThreshold, int Darkness,
                     int StrokeScale, int Mode, int Opacity);

// Replaces `Surface` by `Image` (or, when that is null or empty, by the surface's own
// pixels) sharpened with the 3 x 3 kernel 0,-s,0 / -s,1+4s,-s / 0,-s,0, where
// s = Amount / 100 clamped to 0..1; colour only, edges clamped, alpha kept.
void SharpenSurface(const gfx::Image* Image, gfx::Surface& Surface, int Amount);

}  // namespace quillora
