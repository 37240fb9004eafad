// Image draws on a 12-megapixel picture: the turned draw that Pencil Sketch 1 makes
// twice per render, in each sampling.
#include "gfx/pixel.h"
#include "gfx/surface.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

const gfx::Image& Picture() {
  static const gfx::Image image = [] {
    const int w = 4000, h = 3000;
    std::vector<uint32_t> words(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        words[size_t(y) * w + x] = gfx::PackArgb(255, (x * 7) & 0xFF, (y * 3) & 0xFF, (x ^ y) & 0xFF);
    return gfx::Image::FromPixels(words.data(), w, h, qsizetype(w) * 4,
                                  gfx::AlphaType::Premultiplied);
  }();
  return image;
}

void TurnedDraw(benchmark::State& state, gfx::Sampling sampling) {
  const gfx::Image& src = Picture();
  const int w = int(std::ceil(src.width() * 0.866 + src.height() * 0.5));
  const int h = int(std::ceil(src.width() * 0.5 + src.height() * 0.866));
  gfx::Surface surface(w, h);
  for (auto _ : state) {
    surface.clear(0);
    surface.save();
    surface.translate(w / 2.0, h / 2.0);
    surface.rotate(30);
    surface.drawImage(src, -src.width() / 2.0, -src.height() / 2.0, sampling);
    surface.restore();
    benchmark::DoNotOptimize(surface.bits());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(src.width()) * src.height());
}

void BM_TurnedCubic(benchmark::State& s) { TurnedDraw(s, gfx::Sampling::Cubic); }
void BM_TurnedLinear(benchmark::State& s) { TurnedDraw(s, gfx::Sampling::Linear); }
void BM_TurnedNearest(benchmark::State& s) { TurnedDraw(s, gfx::Sampling::Nearest); }

BENCHMARK(BM_TurnedCubic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TurnedLinear)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TurnedNearest)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
