// Image filters of the graphics layer: Gaussian blur, matrix convolution, colour matrix
// and drop shadow, with the semantics of Skia's image filters of the same names.
//
// Common rules:
// - Every filter takes a premultiplied Image and returns a premultiplied Image of the
//   same size; an empty input gives an empty Image. A filter that provably changes
//   nothing may return its input itself (images are immutable, so this is safe).
// - Parameters are checked once, before any pixel is touched; a parameter that cannot be
//   honoured throws Error. Allocation failures throw Error too.
// - Pixel work runs in row bands or column strips on ParallelFor. The arithmetic of a
//   pixel never depends on how the image was split, so results are identical whatever
//   the number of threads. The filters may be called from any thread, concurrently.
#pragma once

#include "gfx/image.h"

#include <QPoint>
#include <QSize>
#include <array>
#include <cstdint>
#include <span>

namespace gfx {

// What a filter sees outside the image.
enum class TileMode {
  Clamp,  // the nearest edge pixel: edges extend outwards
  Decal,  // transparent black
};

// Gaussian blur with standard deviations sigmaX and sigmaY (pixels), each channel of the
// premultiplied pixels blurred alike (so colour never exceeds alpha). The x pass runs
// first and its result is rounded to 8 bits before the y pass.
//
// Per axis:
// - sigma <= 0.03, negative, NaN or infinite: no blur on that axis. Both axes so: the
//   input is returned.
// - sigma < 2: an exact Gaussian kernel of radius ceil(3 sigma), weights in 16-bit fixed
//   point summing to exactly 1, rounded to nearest.
// - sigma >= 2 (capped at 532): three successive box blurs of width
//   d = floor(sigma * 3 * sqrt(2 pi) / 4 + 0.5); for even d two boxes of d shifted by
//   half a pixel either way and one of d + 1, so the result stays centred. The three
//   boxes are summed exactly in integers by running sums and divided once, rounded to
//   nearest. The kernel reaches about 2.8 sigma. Cost per pixel does not depend on sigma
//   (a line of n pixels costs n + 3 d).
// Outside the image the tile mode applies: Clamp repeats the edge pixels, Decal reads
// transparent black (so an opaque image fades at its borders).
Image GaussianBlur(const Image& src, float sigmaX, float sigmaY,
                   TileMode tileMode = TileMode::Clamp);

// Matrix convolution with a kernel of kernelSize.width() x kernelSize.height() float
// values (row-major). With (ox, oy) = kernelOffset, the output pixel (x, y) is
//   sum over i, j of kernel[j * width + i] * P(x + i - ox, y + j - oy)
// per channel, on 0..255 channel values, in single precision; then times gain plus bias,
// where bias is in channel units (0..255: bias 255 adds full intensity), as in Skia's
// raster implementation. Results are rounded to nearest (not truncated, so a flat area
// stays flat under a kernel summing to 1 despite float rounding) and clamped.
// - convolveAlpha true: P is the premultiplied pixel; alpha is clamped to 0..255 and
//   each colour to 0..alpha.
// - convolveAlpha false: P is the unpremultiplied pixel and only colour is convolved;
//   colours are clamped to 0..255, alpha is the source pixel's own, and the result is
//   premultiplied again.
// Samples outside the image follow the tile mode. Cost grows with the number of non-zero
// kernel entries: the 3 x 3 sharpen (0,-q,0 / -q,1+4q,-q / 0,-q,0) reads five pixels.
// Throws Error when a size is below 1, kernel.size() != width * height, the offset is
// outside the kernel, or a kernel value, gain or bias is not finite.
Image MatrixConvolution(const Image& src, QSize kernelSize, std::span<const float> kernel,
                        float gain, float bias, QPoint kernelOffset, TileMode tileMode,
                        bool convolveAlpha);

// A 4 x 5 colour matrix, row-major: rows R, G, B, A; columns multiply R, G, B, A, and the
// fifth column is an offset in units of full intensity (1.0 = 255).
using ColorMatrixValues = std::array<float, 20>;

// Applies `matrix` to each pixel's unpremultiplied colour in 0..1 (single precision, a
// transparent pixel reads as 0, 0, 0, 0), clamps every result to 0..1, premultiplies and
// rounds to nearest. A matrix that lifts alpha makes transparent pixels visible. Per
// pixel, so edges do not matter. Throws Error when a value is not finite.
Image ColorMatrix(const Image& src, const ColorMatrixValues& matrix);

// Drop shadow: the input's alpha blurred with GaussianBlur (sigmaX, sigmaY; transparent
// outside the image, as the shadow of a shape on a transparent layer), moved by (dx, dy),
// and tinted with `argb` (0xAARRGGBB, unpremultiplied; its alpha multiplies the
// shadow's). Fractional offsets are resampled bilinearly (in 1/256 pixel steps); whole
// offsets move pixels exactly. DropShadow draws the input over the shadow (SrcOver);
// DropShadowOnly returns the shadow alone.
// The result keeps the input's size: shadow that falls outside is cut off, and where the
// offset uncovers the image edge the shadow is transparent.
// Throws Error when dx or dy is not finite.
Image DropShadow(const Image& src, float dx, float dy, float sigmaX, float sigmaY, uint32_t argb);
Image DropShadowOnly(const Image& src, float dx, float dy, float sigmaX, float sigmaY,
                     uint32_t argb);

}  // namespace gfx
