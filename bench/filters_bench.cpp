// Image filters on a 12-megapixel picture (4000 x 3000), with the global thread pool as
// the effects see it. Blur timings should stay flat across sigma: from sigma 2 on the box
// passes cost the same per pixel whatever the sigma, and below it the kernel has at most
// 13 taps.
#include "gfx/filters.h"

#include "gfx/pixel.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// A deterministic opaque picture with smooth gradients and some noise; the filters'
// cost does not depend on the content, but a flat image would hide bugs in the output.
const gfx::Image& Picture() {
  static const gfx::Image image = [] {
    const int w = 4000, h = 3000;
    std::vector<uint32_t> words(size_t(w) * h);
    uint32_t s = 12345;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        s = s * 1664525u + 1013904223u;
        const uint32_t noise = s >> 28;
        words[size_t(y) * w + x] = gfx::PackArgb(
            255, (x * 255 / w + noise) & 0xFF, (y * 255 / h) & 0xFF, ((x + y) / 31 + noise) & 0xFF);
      }
    return gfx::Image::FromPixels(words.data(), w, h, qsizetype(w) * 4,
                                  gfx::AlphaType::Premultiplied);
  }();
  return image;
}

void SetPixels(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * int64_t(Picture().width()) * Picture().height());
}

void BM_GaussianBlur(benchmark::State& state) {
  const float sigma = float(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(gfx::GaussianBlur(Picture(), sigma, sigma));
  SetPixels(state);
}
BENCHMARK(BM_GaussianBlur)
    ->Arg(1)
    ->Arg(2)
    ->Arg(10)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The sharpen of the painting finish (colour only) and of the photo adjustments (alpha
// convolved too), amount 0.4.
void BM_Sharpen(benchmark::State& state) {
  const bool convolveAlpha = state.range(0) != 0;
  const float q = 0.4f;
  const std::vector<float> kernel = {0, -q, 0, -q, 1 + 4 * q, -q, 0, -q, 0};
  for (auto _ : state)
    benchmark::DoNotOptimize(gfx::MatrixConvolution(Picture(), {3, 3}, kernel, 1, 0, {1, 1},
                                                    gfx::TileMode::Clamp, convolveAlpha));
  SetPixels(state);
}
BENCHMARK(BM_Sharpen)
    ->ArgName("convolveAlpha")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ColorMatrix(benchmark::State& state) {
  const gfx::ColorMatrixValues m = {1.04f, 0, 0,     0, -0.01f, 0, 1.04f, 0, 0, -0.01f,
                                    0,     0, 1.04f, 0, -0.01f, 0, 0,     0, 1, 0};
  for (auto _ : state) benchmark::DoNotOptimize(gfx::ColorMatrix(Picture(), m));
  SetPixels(state);
}
BENCHMARK(BM_ColorMatrix)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DropShadow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(gfx::DropShadow(Picture(), 5, 5, 3, 3, 0xBF000000));
  SetPixels(state);
}
BENCHMARK(BM_DropShadow)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
