// Smooth painting: the picture laid in again with soft, blended dabs of a broad brush
// and long, thin streaks, each dab placed where its shape fits a patch of even colour
// and turned the way that patch runs, so that the paint follows the forms and melts
// the small detail into smooth, enamel-like passages. Every round repaints the last
// one and smooths it further.
#include "effects/painting/smooth_painting.h"

#include "brushes/image_repository.h"
#include "effects/painting/stroke_stamping.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/filters.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLORA_SMOOTH_AVX2 1
#endif

namespace quillora {

namespace {

constexpr int kAtlasCell = 250;
// Passes per round and the progress budget of a round (contrast 8, matching 40,
// selection 20, sorting 8, drawing 24 per pass; gap filling 20; end of round 10).
constexpr int kPassCount = 4;
constexpr int kWorkPerRound = kPassCount * 100 + 20 + 10;
// The right margin of the reference copy: a footprint row padded to a multiple of 8
// reaches at most 7 pixels past its last footprint pixel.
constexpr int kMargin = 8;

inline int Sum3(uint32_t p) { return int(gfx::RedOf(p) + gfx::GreenOf(p) + gfx::BlueOf(p)); }

inline int ColourDistance(uint32_t p, int mR, int mG, int mB) {
  return std::abs(int(gfx::RedOf(p)) - mR) + std::abs(int(gfx::GreenOf(p)) - mG) +
         std::abs(int(gfx::BlueOf(p)) - mB);
}

// The mean colour (0x00RRGGBB) and the error against it of a footprint wholly inside
// the reference, centred on (x, y). The error stops once it exceeds `best`: the caller
// then only needs to know that it did, since jitter never lowers a sum.
using InsideKernel = int32_t (*)(const smooth_painting::TReference& ref, int x, int y,
                                 const smooth_painting::TOrientedBrush& b, int32_t best,
                                 uint32_t& mean);

int32_t InsideScalar(const smooth_painting::TReference& ref, int x, int y,
                     const smooth_painting::TOrientedBrush& b, int32_t best, uint32_t& mean) {
  const size_t prefixStride = size_t(ref.w) + 1;
  uint32_t sr = 0, sg = 0, sb = 0, sa = 0;
  for (const auto& run : b.runs) {
    const auto* row = ref.prefix.data() + size_t(y + run.dY) * prefixStride;
    const auto& a = row[x + run.dX1 + 1];
    const auto& z = row[x + run.dX0];
    sr += uint16_t(a.r - z.r);
    sg += uint16_t(a.g - z.g);
    sb += uint16_t(a.b - z.b);
    sa += uint16_t(a.a - z.a);
  }
  const uint32_t k = uint32_t(b.BrushPixelCount);
  const int mR = int(sr / k), mG = int(sg / k), mB = int(sb / k);
  mean = gfx::PackArgb(sa / k, uint32_t(mR), uint32_t(mG), uint32_t(mB));

  const uint32_t* c = ref.row(y) + x;
  int32_t sum = 0;
  for (const auto& row : b.rows) {
    const uint32_t* p = c + ptrdiff_t(row.dY) * ref.stride + row.dX0;
    const uint32_t* wt = b.weights.data() + row.weightStart;
    for (int j = 0; j < row.length; ++j)
      sum += (ColourDistance(p[j], mR, mG, mB) * int(wt[j] & 0xFFFF)) >> 5;
    if (sum > best) return sum;
  }
  return sum;
}

#ifdef QUILLORA_SMOOTH_AVX2
// The run sums four lanes at a time; the error eight pixels at a time: the byte-wise
// absolute differences summed per pixel and weighted in one multiply-add (blue + green
// and red, each times the alpha held in both halves of the weight word), then shifted
// per pixel as the scalar loop does.
__attribute__((target("avx2"))) int32_t InsideAvx2(const smooth_painting::TReference& ref, int x,
                                                   int y, const smooth_painting::TOrientedBrush& b,
                                                   int32_t best, uint32_t& mean) {
  const size_t prefixStride = size_t(ref.w) + 1;
  __m128i sums = _mm_setzero_si128();
  for (const auto& run : b.runs) {
    const auto* row = ref.prefix.data() + size_t(y + run.dY) * prefixStride;
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x + run.dX1 + 1));
    const __m128i z = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + x + run.dX0));
    sums = _mm_add_epi32(sums, _mm_cvtepu16_epi32(_mm_sub_epi16(a, z)));
  }
  const uint64_t rec = b.countReciprocal;
  const uint32_t mB = uint32_t((uint64_t(uint32_t(_mm_cvtsi128_si32(sums))) * rec) >> 32);
  const uint32_t mG = uint32_t((uint64_t(uint32_t(_mm_extract_epi32(sums, 1))) * rec) >> 32);
  const uint32_t mR = uint32_t((uint64_t(uint32_t(_mm_extract_epi32(sums, 2))) * rec) >> 32);
  const uint32_t mA = uint32_t((uint64_t(uint32_t(_mm_extract_epi32(sums, 3))) * rec) >> 32);
  mean = gfx::PackArgb(mA, mR, mG, mB);

  const __m256i m = _mm256_set1_epi32(int(mean & 0x00FFFFFFu));
  const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i ones = _mm256_set1_epi32(0x00010101);
  const uint32_t* c = ref.row(y) + x;
  int32_t sum = 0;
  for (const auto& row : b.rows) {
    const uint32_t* p = c + ptrdiff_t(row.dY) * ref.stride + row.dX0;
    const uint32_t* wt = b.weights.data() + row.weightStart;
    __m256i acc = _mm256_setzero_si256();
    for (int j = 0; j < row.length; j += 8) {
      const __m256i px =
          _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + j)), rgb);
      const __m256i ad = _mm256_or_si256(_mm256_subs_epu8(px, m), _mm256_subs_epu8(m, px));
      const __m256i pairs = _mm256_maddubs_epi16(ad, ones);
      const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wt + j));
      acc = _mm256_add_epi32(acc, _mm256_srli_epi32(_mm256_madd_epi16(pairs, w), 5));
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    sum += _mm_cvtsi128_si32(s);
    if (sum > best) return sum;
  }
  return sum;
}

__attribute__((target("avx2"), always_inline)) inline __m256i BlendTinted(__m256i colour, __m256i a,
                                                                          __m256i d) {
  // TintPixel: Round(colour x a / 255); BlendStroke: y = d (255 - alpha of the tinted
  // pixel), (y + y / 128) / 256.
  const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(colour, a), _mm256_set1_epi16(128));
  const __m256i p = _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
  const __m256i alpha = _mm256_shuffle_epi8(
      p, _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7, 6, 7,
                          6, 7, 14, 15, 14, 15, 14, 15, 14, 15));
  const __m256i y = _mm256_mullo_epi16(d, _mm256_sub_epi16(_mm256_set1_epi16(255), alpha));
  const __m256i q = _mm256_srli_epi16(_mm256_add_epi16(y, _mm256_srli_epi16(y, 7)), 8);
  return _mm256_add_epi16(p, q);
}

// Eight pixels of one stamp row, [from, to) with to - from a multiple of 8, in the
// premultiplied colour `colour`: what the scalar loop does, in 16-bit lanes.
__attribute__((target("avx2"))) void StampRowAvx2(uint32_t* d, const uint8_t* a, int from, int to,
                                                  uint32_t colour) {
  const __m256i c16 = _mm256_cvtepu8_epi16(_mm_set1_epi32(int(colour)));
  const __m128i spread = _mm_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  for (int j = from; j < to; j += 8) {
    uint64_t a8;
    std::memcpy(&a8, a + j, 8);
    if (a8 == 0) continue;
    const __m128i av = _mm_cvtsi64_si128(int64_t(a8));
    const __m256i alo = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(av, spread));
    const __m256i ahi = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(_mm_srli_si128(av, 4), spread));
    const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + j));
    const __m256i dlo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(dv));
    const __m256i dhi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(dv, 1));
    const __m256i r = _mm256_packus_epi16(BlendTinted(c16, alo, dlo), BlendTinted(c16, ahi, dhi));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j), _mm256_permute4x64_epi64(r, 0xD8));
  }
}
#endif

bool HasAvx2() {
#ifdef QUILLORA_SMOOTH_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

InsideKernel FastKernel() {
#ifdef QUILLORA_SMOOTH_AVX2
  if (HasAvx2()) return &InsideAvx2;
#endif
  return &InsideScalar;
}

void StampRowScalar(uint32_t* d, const uint8_t* a, int from, int to, uint32_t colour) {
  for (int j = from; j < to; ++j)
    if (a[j] != 0) d[j] = BlendStroke(TintPixel(colour, a[j]), d[j]);
}

// The footprint and stamp forms of one turned brush picture.
void BuildFootprint(smooth_painting::TOrientedBrush& b, int S, int64_t srcRowBytes) {
  const int H = S / 2;
  const Image& img = b.BrushImage;
  for (int r = 0; r < S; ++r) {
    const uint32_t* line = img.row(r);
    int first = -1, last = -1, firstAny = -1, lastAny = -1;
    for (int c = 0; c < S; ++c) {
      const uint32_t a = gfx::AlphaOf(line[c]);
      if (a > 0) {
        if (firstAny < 0) firstAny = c;
        lastAny = c;
      }
      if (a > 9) {
        b.Offsets.push_back({int64_t(r - H) * srcRowBytes + int64_t(c - H) * 4, int16_t(c - H),
                             int16_t(r - H), uint8_t(a)});
        if (first < 0) first = c;
        last = c;
      }
    }
    if (first >= 0) {
      const int length = (last - first + 1 + 7) / 8 * 8;
      b.rows.push_back({r - H, first - H, length, int(b.weights.size())});
      for (int c = first; c < first + length; ++c) {
        const uint32_t a = c <= last ? gfx::AlphaOf(line[c]) : 0;
        b.weights.push_back(a > 9 ? (a | a << 16) : 0u);
      }
      for (int c = first; c <= last;) {
        if (gfx::AlphaOf(line[c]) <= 9) {
          ++c;
          continue;
        }
        int e = c;
        while (e + 1 <= last && gfx::AlphaOf(line[e + 1]) > 9) ++e;
        b.runs.push_back({r - H, c - H, e - H});
        c = e + 1;
      }
    }
    if (firstAny >= 0) {
      const int length = (lastAny - firstAny + 1 + 7) / 8 * 8;
      b.stampRows.push_back({r, firstAny, length, int(b.stampAlpha.size())});
      for (int c = firstAny; c < firstAny + length; ++c)
        b.stampAlpha.push_back(c <= lastAny ? uint8_t(gfx::AlphaOf(line[c])) : uint8_t(0));
    }
  }
  b.BrushPixelCount = int(b.Offsets.size());
  // With e = M k - 2^32 < k <= 2^12 and sums n < 2^20, n e < 2^32: the product's
  // error never reaches the next integer.
  if (b.BrushPixelCount > 0)
    b.countReciprocal =
        ((uint64_t(1) << 32) + uint64_t(b.BrushPixelCount) - 1) / uint64_t(b.BrushPixelCount);
}

// The matching of rows [y0, y1) with the given error loop for footprints inside the
// picture; footprints that reach over the border take the checked path.
void MatchRowsWith(InsideKernel kernel, const smooth_painting::TReference& ref,
                   const std::vector<uint8_t>& ContrastMap,
                   const smooth_painting::TSmoothBrushes& brushes, uint32_t passSeed, int y0,
                   int y1, smooth_painting::TMatchTable& table) {
  using namespace smooth_painting;
  const int w = ref.w, h = ref.h, H = brushes.HalfSize;
  const size_t prefixStride = size_t(w) + 1;
  for (int y = y0; y < y1; ++y) {
    RowJitter rng(passSeed, y);
    const uint32_t* line = ref.row(y);
    const bool rowInside = H <= y && y < h - H;
    for (int x = 0; x < w; ++x) {
      const size_t idx = size_t(y) * size_t(w) + size_t(x);
      if (gfx::AlphaOf(line[x]) <= 9) {
        table.Score[idx] = kNoMatch;
        table.A[idx] = 0;
        continue;
      }
      const int c = ContrastMap[idx];
      // Only a contrasted pixel needs its dominant orientation.
      const int dominant = c > 30 ? DominantOrientation(ref, x, y) : -1;
      int candidates[kNumOrientations];
      int count = 0;
      if (c > 30 && dominant >= 0) {
        for (int k = -2; k <= 2; ++k) candidates[count++] = (dominant + k + kNumOrientations) % 7;
      } else if (c > 15) {
        for (int o : {0, 2, 4, 6}) candidates[count++] = o;
      } else {
        for (int o = 0; o < kNumOrientations; ++o) candidates[count++] = o;
      }
      const bool inside = rowInside && H <= x && x < w - H;

      int32_t best = kNoMatch;
      int bestO = 0;
      uint32_t bestColour = 0;
      for (int ci = 0; ci < count; ++ci) {
        const int o = candidates[ci];
        const TOrientedBrush& b = brushes.brush[o];
        if (b.BrushPixelCount <= 0) continue;
        int32_t sum = 0;
        uint32_t mean = 0;
        int k = b.BrushPixelCount;
        if (inside) {
          sum = kernel(ref, x, y, b, best, mean);
        } else {
          // Only the footprint pixels inside the picture count for the mean; those
          // outside add their full weight to the error.
          uint32_t sr = 0, sg = 0, sb = 0, sa = 0;
          k = 0;
          for (const auto& run : b.runs) {
            const int yy = y + run.dY;
            if (yy < 0 || yy >= h) continue;
            const int c0 = std::max(0, x + run.dX0), c1 = std::min(w - 1, x + run.dX1);
            if (c0 > c1) continue;
            const auto& a = ref.prefix[size_t(yy) * prefixStride + size_t(c1 + 1)];
            const auto& z = ref.prefix[size_t(yy) * prefixStride + size_t(c0)];
            sr += uint16_t(a.r - z.r);
            sg += uint16_t(a.g - z.g);
            sb += uint16_t(a.b - z.b);
            sa += uint16_t(a.a - z.a);
            k += c1 - c0 + 1;
          }
          if (k == 0) continue;
          const int mR = int(sr / uint32_t(k)), mG = int(sg / uint32_t(k)),
                    mB = int(sb / uint32_t(k));
          mean = gfx::PackArgb(sa / uint32_t(k), uint32_t(mR), uint32_t(mG), uint32_t(mB));
          for (const TBrushPixelOffset& f : b.Offsets) {
            const int px = x + f.dX, py = y + f.dY;
            if (px >= 0 && px < w && py >= 0 && py < h)
              sum += (ColourDistance(ref.at(px, py), mR, mG, mB) * f.Alpha) >> 5;
            else
              sum += (int(f.Alpha) * 255) >> 5;
            if (sum > best) break;
          }
        }
        sum += rng.Random(std::max(1, sum >> 4));
        if (sum >= best) continue;
        best = sum;
        bestO = o;
        bestColour = mean;
        if (sum < 12 * k) break;
      }
      table.BrushAngle[idx] = uint8_t(bestO);
      table.Score[idx] = best;
      table.Colour[idx] = bestColour;
      table.A[idx] = 255;
    }
  }
}

}  // namespace

TSmoothPaintingSettings SmoothPaintingSettings(int P1, int P2) {
  TSmoothPaintingSettings s;
  s.BrushSize = std::min(50, std::max(8, P1 / 2));
  s.HalfSize = s.BrushSize / 2;
  s.RoundCount = std::min(5, std::max(1, P2 / 20));
  s.GridStep = std::max(1, s.BrushSize / 10);
  return s;
}

int SmoothPaintingKeepCount(int n) { return RoundEven(double(n) * double(0.95f)); }

namespace smooth_painting {

TReference MakeReference(const Image& image) {
  TReference ref;
  if (image.isEmpty()) return ref;
  ref.w = image.width();
  ref.h = image.height();
  ref.stride = (ref.w + kMargin + 7) / 8 * 8;
  ref.px.assign(size_t(ref.stride) * size_t(ref.h), 0u);
  ref.prefix.resize(size_t(ref.w + 1) * size_t(ref.h));
  gfx::ParallelFor(
      ref.h,
      [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
          const uint32_t* src = image.row(y);
          uint32_t* dst = ref.px.data() + size_t(y) * size_t(ref.stride);
          std::memcpy(dst, src, size_t(ref.w) * 4);
          TReference::RunSums* sums = ref.prefix.data() + size_t(y) * size_t(ref.w + 1);
          TReference::RunSums acc{0, 0, 0, 0};
          sums[0] = acc;
          for (int x = 0; x < ref.w; ++x) {
            acc.b = uint16_t(acc.b + gfx::BlueOf(dst[x]));
            acc.g = uint16_t(acc.g + gfx::GreenOf(dst[x]));
            acc.r = uint16_t(acc.r + gfx::RedOf(dst[x]));
            acc.a = uint16_t(acc.a + gfx::AlphaOf(dst[x]));
            sums[x + 1] = acc;
          }
        }
      },
      8);
  return ref;
}

float BrushRotationDegrees(int i) { return float(i) * (180.0f / 7.0f) + 90.0f; }

namespace {

using TurnedBrushes = std::array<Image, kNumOrientations>;

TurnedBrushes TurnCell(const Image& atlas, const QRect& cellRect, int S) {
  TurnedBrushes turned;
  // White, with 1 - luminance as coverage: the dark stroke becomes paint, the paper
  // disappears.
  const gfx::ColorMatrixValues coverage = {0, 0, 0, 0, 1, 0,       0,       0,       0, 1,
                                           0, 0, 0, 0, 1, -0.299f, -0.587f, -0.114f, 0, 1};
  const Image cell = gfx::ColorMatrix(atlas.subset(cellRect), coverage);
  // A 250-pixel cell shrinks to a few pixels: sampled directly, the bristle streaks
  // would alias into speckle and leave a footprint full of holes. Averaged down to
  // twice the brush first, the cubic only has to halve it.
  const Image reduced = ScaleImageMedium(cell, 2 * S, 2 * S);
  for (int i = 0; i < kNumOrientations; ++i) {
    Surface s(S, S);
    s.clear(0);
    s.save();
    s.translate(S / 2.0, S / 2.0);
    s.rotate(BrushRotationDegrees(i));
    s.translate(-S / 2.0, -S / 2.0);
    s.drawImageRect(reduced, QRectF(0, 0, reduced.width(), reduced.height()), QRectF(0, 0, S, S),
                    gfx::Sampling::Cubic);
    s.restore();
    turned[size_t(i)] = s.snapshot();
  }
  return turned;
}

// The turned pictures depend only on the atlas (an immutable picture), the cell and
// the size; every round of every run shares them, which spares small previews most of
// their time.
TurnedBrushes TurnedCell(const Image& atlas, const QRect& cellRect, int S) {
  struct Key {
    uint64_t atlas;
    int top, S;
    bool operator<(const Key& o) const {
      return std::tie(atlas, top, S) < std::tie(o.atlas, o.top, o.S);
    }
  };
  static std::mutex mutex;
  static std::map<Key, TurnedBrushes> cache;
  const Key key{atlas.uniqueId(), cellRect.top(), S};
  {
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
  }
  TurnedBrushes turned = TurnCell(atlas, cellRect, S);
  std::lock_guard lock(mutex);
  // Two cells of 43 sizes of one atlas; a replaced atlas starts afresh.
  if (!cache.empty() && cache.begin()->first.atlas != key.atlas) cache.clear();
  cache.emplace(key, turned);
  return turned;
}

}  // namespace

TSmoothBrushes PrepareBrushes(const Image& atlas, int cellRow, int S, int64_t srcRowBytes) {
  TSmoothBrushes set;
  set.S = S;
  set.HalfSize = S / 2;
  const QRect cellRect(kAtlasCell, kAtlasCell * cellRow, kAtlasCell, kAtlasCell);
  if (atlas.isEmpty() || S <= 0 || !QRect(0, 0, atlas.width(), atlas.height()).contains(cellRect))
    return set;
  const TurnedBrushes turned = TurnedCell(atlas, cellRect, S);
  for (int i = 0; i < kNumOrientations; ++i) {
    TOrientedBrush& b = set.brush[i];
    b.BrushImage = turned[size_t(i)];
    BuildFootprint(b, S, srcRowBytes);
  }
  return set;
}

void BuildContrastMap(const TReference& ref, std::vector<uint8_t>& ContrastMap) {
  const int w = ref.w, h = ref.h;
  ContrastMap.resize(size_t(w) * size_t(h), 0);
  if (w < 3 || h < 3) return;
  gfx::ParallelFor(
      h - 2,
      [&](int b0, int b1) {
        for (int y = b0 + 1; y < b1 + 1; ++y) {
          const uint32_t* t = ref.row(y - 1);
          const uint32_t* m = ref.row(y);
          const uint32_t* d = ref.row(y + 1);
          uint8_t* out = ContrastMap.data() + size_t(y) * size_t(w);
          for (int x = 1; x <= w - 2; ++x) {
            if (gfx::AlphaOf(m[x]) < 10) {
              out[x] = 0;
              continue;
            }
            const uint32_t n[8] = {t[x - 1], t[x],     t[x + 1], m[x - 1],
                                   m[x + 1], d[x - 1], d[x],     d[x + 1]};
            int sr = 0, sg = 0, sb = 0;
            for (uint32_t p : n) {
              sr += int(gfx::RedOf(p));
              sg += int(gfx::GreenOf(p));
              sb += int(gfx::BlueOf(p));
            }
            out[x] = uint8_t(std::min(255, ColourDistance(m[x], sr >> 3, sg >> 3, sb >> 3) / 3));
          }
        }
      },
      16);
}

void TMatchTable::Resize(int width, int height) {
  w = width;
  h = height;
  const size_t n = size_t(width) * size_t(height);
  Score.assign(n, kNoMatch);
  Colour.assign(n, 0u);
  A.assign(n, 0);
  BrushAngle.assign(n, 0);
}

RowJitter::RowJitter(uint32_t passSeed, int y) {
  // A mix of the pass seed and the row, so that neighbouring rows do not start from
  // neighbouring states.
  uint32_t v = passSeed ^ (uint32_t(y) * 0x9E3779B9u);
  v ^= v >> 16;
  v *= 0x85EBCA6Bu;
  v ^= v >> 13;
  v *= 0xC2B2AE35u;
  v ^= v >> 16;
  state_ = v;
}

int DominantOrientation(const TReference& ref, int x, int y) {
  if (x <= 0 || y <= 0 || x >= ref.w - 1 || y >= ref.h - 1) return -1;
  const int Gx = Sum3(ref.at(x + 1, y)) - Sum3(ref.at(x - 1, y));
  const int Gy = Sum3(ref.at(x, y + 1)) - Sum3(ref.at(x, y - 1));
  if (std::abs(Gx) <= 5 && std::abs(Gy) <= 5) return -1;
  constexpr float kPiF = 3.14159265358979323846f;
  float theta = std::atan2(float(Gy), float(Gx)) + kPiF / 2.0f;
  if (theta < 0.0f) theta += 2.0f * kPiF;
  if (theta >= 2.0f * kPiF) theta -= 2.0f * kPiF;
  const float q = theta * 7.0f / kPiF;
  return int(std::nearbyint(q)) % kNumOrientations;
}

void MatchRows(const TReference& ref, const std::vector<uint8_t>& ContrastMap,
               const TSmoothBrushes& brushes, uint32_t passSeed, int y0, int y1,
               TMatchTable& table) {
  MatchRowsWith(FastKernel(), ref, ContrastMap, brushes, passSeed, y0, y1, table);
}

void MatchRowsScalar(const TReference& ref, const std::vector<uint8_t>& ContrastMap,
                     const TSmoothBrushes& brushes, uint32_t passSeed, int y0, int y1,
                     TMatchTable& table) {
  MatchRowsWith(&InsideScalar, ref, ContrastMap, brushes, passSeed, y0, y1, table);
}

std::vector<TScoredStroke> SelectStrokes(TMatchTable& table, int HalfSize, int GridStep) {
  std::vector<TScoredStroke> strokes;
  const int w = table.w, h = table.h, H = HalfSize, d = std::max(1, GridStep);
  if (w <= 0 || h <= 0) return strokes;
  strokes.reserve(size_t(w) * size_t(h) / size_t(d * d) + 16);
  // The window minimum, scanning rows then columns and keeping the first of equal
  // scores, is the minimum of (score, row, column). Per grid row every column's
  // minimum of (score, row) over the window's rows is kept; a window then only
  // compares its columns, and taking an entry only recomputes its column.
  std::vector<int32_t> colScore(static_cast<size_t>(w));
  std::vector<int32_t> colRow(static_cast<size_t>(w));
  const int32_t* score = table.Score.data();
  auto columnMin = [&](int x, int r0, int r1) {
    int32_t best = score[size_t(r0) * size_t(w) + size_t(x)];
    int32_t row = r0;
    for (int r = r0 + 1; r <= r1; ++r) {
      const int32_t s = score[size_t(r) * size_t(w) + size_t(x)];
      if (s < best) {
        best = s;
        row = r;
      }
    }
    colScore[size_t(x)] = best;
    colRow[size_t(x)] = row;
  };
  for (int gy = -(H / d); gy <= (h + H) / d; ++gy) {
    const int cy = gy * d;
    const int r0 = std::max(0, cy - H), r1 = std::min(h - 1, cy + H);
    if (r0 > r1) continue;
    {
      const int32_t* first = score + size_t(r0) * size_t(w);
      std::copy_n(first, w, colScore.data());
      std::fill(colRow.begin(), colRow.end(), r0);
      for (int r = r0 + 1; r <= r1; ++r) {
        const int32_t* line = score + size_t(r) * size_t(w);
        int32_t* cs = colScore.data();
        int32_t* cr = colRow.data();
        for (int x = 0; x < w; ++x) {
          const bool lower = line[x] < cs[x];
          cs[x] = lower ? line[x] : cs[x];
          cr[x] = lower ? r : cr[x];
        }
      }
    }
    for (int gx = -(H / d); gx <= (w + H) / d; ++gx) {
      const int cx = gx * d;
      const int c0 = std::max(0, cx - H), c1 = std::min(w - 1, cx + H);
      if (c0 > c1) continue;
      uint64_t bestKey = uint64_t(kNoMatch) << 32;
      int bx = -1;
      for (int x = c0; x <= c1; ++x) {
        const uint64_t key =
            uint64_t(uint32_t(colScore[size_t(x)])) << 32 | uint32_t(colRow[size_t(x)]);
        if (key < bestKey) {
          bestKey = key;
          bx = x;
        }
      }
      if (bx < 0) continue;
      const int by = colRow[size_t(bx)];
      const size_t idx = size_t(by) * size_t(w) + size_t(bx);
      if (table.A[idx] < 5) continue;
      strokes.push_back(
          {bx - H, by - H, table.Score[idx], table.Colour[idx], table.BrushAngle[idx]});
      table.Score[idx] = kNoMatch;
      columnMin(bx, r0, r1);
    }
  }
  return strokes;
}

void SortStrokes(std::vector<TScoredStroke>& strokes) {
  // Scores lie in 0 .. kNoMatch - 1 < 2^30: two stable counting passes of 15 bits on
  // the reversed score sort largest first and keep equal scores in order.
  constexpr uint32_t kTop = (1u << 30) - 1;
  auto key = [](const TScoredStroke& s) {
    return kTop - uint32_t(std::clamp<int32_t>(s.Score, 0, int32_t(kTop)));
  };
  std::vector<TScoredStroke> tmp(strokes.size());
  std::vector<uint32_t> count(1u << 15);
  for (int shift = 0; shift < 30; shift += 15) {
    std::fill(count.begin(), count.end(), 0u);
    for (const TScoredStroke& s : strokes) ++count[(key(s) >> shift) & 0x7FFF];
    uint32_t total = 0;
    for (uint32_t& c : count) {
      const uint32_t n = c;
      c = total;
      total += n;
    }
    for (const TScoredStroke& s : strokes) tmp[count[(key(s) >> shift) & 0x7FFF]++] = s;
    strokes.swap(tmp);
  }
}

namespace {

using StampRowFn = void (*)(uint32_t* d, const uint8_t* a, int from, int to, uint32_t colour);

// Strokes come in score order, scattered over the picture: each of their rows would
// wait for memory. Asking for the rows of a stroke some way ahead hides that wait.
constexpr size_t kPrefetchAhead = 6;

void PrefetchStroke(const TScoredStroke& s, const TSmoothBrushes& brushes, const uint32_t* pixels,
                    int stride, int w, int h) {
  if (s.brushIdx >= kNumOrientations) return;
  for (const auto& row : brushes.brush[s.brushIdx].stampRows) {
    const int y = s.Y + row.row;
    if (y < 0 || y >= h) continue;
    const int x0 = std::clamp(s.X + row.col0, 0, w - 1);
    const int x1 = std::clamp(s.X + row.col0 + row.length - 1, 0, w - 1);
    const uint32_t* line = pixels + ptrdiff_t(y) * stride;
    __builtin_prefetch(line + x0, 1);
    __builtin_prefetch(line + x1, 1);
  }
}

void DrawStrokesWith(StampRowFn vectorRow, const std::vector<TScoredStroke>& strokes, size_t first,
                     size_t last, const TSmoothBrushes& brushes, uint32_t* pixels, int stride,
                     int w, int h) {
  last = std::min(last, strokes.size());
  for (size_t i = first; i < last; ++i) {
    if (i + kPrefetchAhead < strokes.size())
      PrefetchStroke(strokes[i + kPrefetchAhead], brushes, pixels, stride, w, h);
    const TScoredStroke& s = strokes[i];
    if (s.brushIdx >= kNumOrientations) continue;
    const TOrientedBrush& b = brushes.brush[s.brushIdx];
    const uint32_t colour = s.Color;
    for (const auto& row : b.stampRows) {
      const int y = s.Y + row.row;
      if (y < 0 || y >= h) continue;
      const int x0 = s.X + row.col0;
      const int from = std::max(0, -x0), to = std::min(row.length, w - x0);
      if (from >= to) continue;
      uint32_t* d = pixels + ptrdiff_t(y) * stride + x0;
      const uint8_t* a = b.stampAlpha.data() + row.alphaStart;
      // Whole groups of eight inside the picture go to the vector loop.
      const int vectorEnd = vectorRow ? from + (to - from) / 8 * 8 : from;
      if (vectorEnd > from) vectorRow(d, a, from, vectorEnd, colour);
      StampRowScalar(d, a, vectorEnd, to, colour);
    }
  }
}

}  // namespace

void DrawStrokes(const std::vector<TScoredStroke>& strokes, size_t first, size_t last,
                 const TSmoothBrushes& brushes, uint32_t* pixels, int stride, int w, int h) {
  StampRowFn vectorRow = nullptr;
#ifdef QUILLORA_SMOOTH_AVX2
  if (HasAvx2()) vectorRow = &StampRowAvx2;
#endif
  DrawStrokesWith(vectorRow, strokes, first, last, brushes, pixels, stride, w, h);
}

void DrawStrokesScalar(const std::vector<TScoredStroke>& strokes, size_t first, size_t last,
                       const TSmoothBrushes& brushes, uint32_t* pixels, int stride, int w, int h) {
  DrawStrokesWith(nullptr, strokes, first, last, brushes, pixels, stride, w, h);
}

void FillWhitePixels(const TReference& ref, uint32_t* pixels, int stride) {
  const int w = ref.w, h = ref.h;
  if (w <= 0 || h <= 0) return;
  enum : uint8_t { kMarked = 1, kVisited = 2 };
  std::vector<uint8_t> flags(size_t(w) * size_t(h), 0);
  for (int y = 0; y < h; ++y) {
    const uint32_t* r = ref.row(y);
    const uint32_t* d = pixels + ptrdiff_t(y) * stride;
    for (int x = 0; x < w; ++x) {
      if (gfx::AlphaOf(r[x]) < 10) continue;
      // Markedly lighter than the reference: typically the white base showing.
      if (Sum3(d[x]) / 3 - Sum3(r[x]) / 3 > 15) flags[size_t(y) * size_t(w) + size_t(x)] = kMarked;
    }
  }
  struct Point {
    int x, y;
  };
  std::vector<Point> stack, region;
  for (int sy = 0; sy < h; ++sy)
    for (int sx = 0; sx < w; ++sx) {
      uint8_t& seed = flags[size_t(sy) * size_t(w) + size_t(sx)];
      if (seed != kMarked) continue;
      seed |= kVisited;
      stack.assign(1, {sx, sy});
      region.clear();
      while (!stack.empty()) {
        const Point p = stack.back();
        stack.pop_back();
        region.push_back(p);
        const Point next[4] = {{p.x - 1, p.y}, {p.x + 1, p.y}, {p.x, p.y - 1}, {p.x, p.y + 1}};
        for (const Point& n : next) {
          if (n.x < 0 || n.y < 0 || n.x >= w || n.y >= h) continue;
          uint8_t& f = flags[size_t(n.y) * size_t(w) + size_t(n.x)];
          if (f != kMarked) continue;
          const int dx = n.x - sx, dy = n.y - sy;
          if (dx * dx + dy * dy > 625) continue;  // left for a later seed
          f |= kVisited;
          stack.push_back(n);
        }
      }
      int64_t sr = 0, sg = 0, sb = 0, sa = 0, n = 0;
      for (const Point& p : region) {
        const uint32_t c = ref.at(p.x, p.y);
        if (gfx::AlphaOf(c) <= 10) continue;
        sr += gfx::RedOf(c);
        sg += gfx::GreenOf(c);
        sb += gfx::BlueOf(c);
        sa += gfx::AlphaOf(c);
        ++n;
      }
      if (n == 0) continue;
      // The mean pixel, premultiplied: opaque where the reference is.
      const uint32_t colour =
          gfx::PackArgb(uint32_t(sa / n), uint32_t(sr / n), uint32_t(sg / n), uint32_t(sb / n));
      for (const Point& p : region) pixels[ptrdiff_t(p.y) * stride + p.x] = colour;
    }
}

void RemoveBrightSpecks(uint32_t* pixels, int stride, int w, int h) {
  for (int y = 1; y <= h - 2; ++y) {
    uint32_t* t = pixels + ptrdiff_t(y - 1) * stride;
    uint32_t* m = pixels + ptrdiff_t(y) * stride;
    uint32_t* b = pixels + ptrdiff_t(y + 1) * stride;
    for (int x = 1; x <= w - 2; ++x) {
      const uint32_t p = m[x];
      if (gfx::AlphaOf(p) < 10) continue;
      const int v = Sum3(p) / 3;
      // No neighbour can be more than 30 darker than a pixel this dark.
      if (v <= 30) continue;
      const uint32_t n[8] = {t[x - 1], t[x],     t[x + 1], m[x - 1],
                             m[x + 1], b[x - 1], b[x],     b[x + 1]};
      int count = 0, darker = 0, sr = 0, sg = 0, sb = 0, sa = 0;
      for (uint32_t q : n) {
        if (gfx::AlphaOf(q) < 10) continue;
        ++count;
        sa += int(gfx::AlphaOf(q));
        sr += int(gfx::RedOf(q));
        sg += int(gfx::GreenOf(q));
        sb += int(gfx::BlueOf(q));
        if (v - Sum3(q) / 3 > 30) ++darker;
      }
      if (count > 0 && darker >= 6)
        m[x] = gfx::PackArgb(uint32_t(sa / count), uint32_t(sr / count), uint32_t(sg / count),
                             uint32_t(sb / count));
    }
  }
}

}  // namespace smooth_painting

using namespace smooth_painting;

void TemplateMatching(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                      bool Preview) {
  (void)P3;
  (void)P4;
  (void)P5;
  // The run's own notion of "stop": the cancel flag for a full render, a newer request
  // for a preview (previews never reset the cancel flag, so after one Escape it would
  // stop every later preview half-painted).
  if (EffectCancelled()) return;
  Image AtlasImage;
  bool hostExists = false;
  if (!SynchronizeUi([&] {
        hostExists = CurrentHost() != nullptr;
        AtlasImage = TForm3::Instance().Picture(QStringLiteral("TemplateMatchingBrushes"));
      }))
    return;
  if (AtlasImage.isEmpty() || Source.isEmpty()) return;
  const int w = std::min(Source.width(), Dest.width()),
            h = std::min(Source.height(), Dest.height());
  if (w <= 0 || h <= 0) return;

  const TSmoothPaintingSettings set = SmoothPaintingSettings(P1, P2);
  const int S = set.BrushSize, H = set.HalfSize;
  const int64_t WorkTotal = int64_t(set.RoundCount) * kWorkPerRound;
  int64_t WorkDone = 0;
  uint32_t lastDisplay = TickCount();

  uint32_t* dest = nullptr;
  int destStride = int(Dest.bytesPerLine() / 4);
  // Every snapshot shares Dest's pixels until Dest is written through its own
  // interface; the pointer is fetched again after each, so that a picture on show is
  // never painted over.
  auto fetchDest = [&] { dest = reinterpret_cast<uint32_t*>(Dest.bits()); };

  auto UpdateProgress = [&](int64_t p) {
    const int percent = int(std::clamp<int64_t>(p, 0, 101));
    if (Preview) {
      SafeUpdatePreview(Dest, percent);
    } else if (!EffectCancelled()) {
      SynchronizeUi([percent] {
        if (EffectHost* host = CurrentHost()) host->UpdateProgress(percent);
      });
    }
    fetchDest();
  };
  auto Percent = [&] { return RoundRatio(100 * WorkDone, WorkTotal); };
  auto UpdateDisplay = [&](bool forced) {
    if (Preview) return;
    const uint32_t now = TickCount();
    if (!forced && uint32_t(now - lastDisplay) <= 1000) return;
    Dest.flush();
    const Image snap = Dest.snapshot();
    SynchronizeUi([&] {
      if (!CancelRequested()) ShowIntermediateImage(snap, -1);
    });
    lastDisplay = now;
    fetchDest();
  };

  TMatchTable table;
  table.Resize(w, h);
  std::vector<uint8_t> ContrastMap;
  UpdateProgress(0);

  Image reference =
      Source.width() == w && Source.height() == h ? Source : Source.subset(QRect(0, 0, w, h));
  for (int round = 1; round <= set.RoundCount; ++round) {
    if (EffectCancelled()) break;
    const TReference ref = MakeReference(reference);
    if (ref.w != w || ref.h != h) return;

    // The white base: white wherever the reference has alpha.
    fetchDest();
    for (int y = 0; y < Dest.height(); ++y) {
      uint32_t* d = dest + ptrdiff_t(y) * destStride;
      for (int x = 0; x < Dest.width(); ++x)
        d[x] = (x < w && y < h) ? gfx::AlphaOf(ref.at(x, y)) * 0x01010101u : 0u;
    }
    UpdateDisplay(true);

    TSmoothBrushes brushes;
    for (int pass = 1; pass <= kPassCount; ++pass) {
      if (EffectCancelled()) break;
      if (pass == 2) {
        fetchDest();
        FillWhitePixels(ref, dest, destStride);
        WorkDone += 10;
        UpdateProgress(Percent());
        WorkDone += 10;
        UpdateProgress(Percent());
        UpdateDisplay(true);
      }
      // A broad, wedge-shaped dab blocks the picture in; a thin streak refines it.
      if (pass == 1) brushes = PrepareBrushes(AtlasImage, 5, S, int64_t(ref.stride) * 4);
      if (pass == 2) brushes = PrepareBrushes(AtlasImage, 7, S, int64_t(ref.stride) * 4);

      // ---- RunPass ----
      BuildContrastMap(ref, ContrastMap);
      WorkDone += 8;
      UpdateProgress(Percent());

      const uint32_t passSeed = uint32_t(Random(0x7FFFFFFF));
      std::atomic<bool> stop{false};
      gfx::ParallelFor(
          h,
          [&](int y0, int y1) {
            for (int y = y0; y < y1; ++y) {
              // Only the effect's thread can see the run's state; it tells the others.
              if (stop.load(std::memory_order_relaxed)) return;
              if (EffectCancelled()) {
                stop.store(true, std::memory_order_relaxed);
                return;
              }
              MatchRows(ref, ContrastMap, brushes, passSeed, y, y + 1, table);
            }
          },
          4);
      WorkDone += 40;
      UpdateProgress(Percent());
      // A cancelled pass draws nothing, so the half-filled table is not used.
      if (stop.load() || EffectCancelled()) break;

      std::vector<TScoredStroke> strokes = SelectStrokes(table, H, set.GridStep);
      WorkDone += 20;
      UpdateProgress(Percent());
      SortStrokes(strokes);
      WorkDone += 8;
      UpdateProgress(Percent());

      // The worst five per cent of the matches are left out.
      const int n = int(strokes.size());
      const int keep = SmoothPaintingKeepCount(n);
      const size_t firstKept = keep < n ? size_t(n - keep) : 0;
      const int64_t nKept = int64_t(strokes.size() - firstKept);
      const int64_t interval = std::max<int64_t>(200, nKept / 10);
      fetchDest();
      for (int64_t k = 1; k <= nKept; ++k) {
        if (EffectCancelled()) break;
        const size_t i = firstKept + size_t(k - 1);
        DrawStrokes(strokes, i, i + 1, brushes, dest, destStride, w, h);
        if (k % interval == 0) {
          UpdateProgress(RoundRatio(100 * (WorkDone * nKept + 24 * k), nKept * WorkTotal));
          Dest.flush();
          UpdateDisplay(false);
        }
      }
      WorkDone += 24;
      UpdateProgress(Percent());
      Dest.flush();
      UpdateDisplay(true);

      if (Preview && hostExists) {
        const Image snap = Dest.snapshot();
        const int percent = int(Percent());
        SynchronizeUi([&] {
          EffectHost* host = CurrentHost();
          if (!host || EffectCancelled()) return;
          const PreviewPaneInfo pane = host->PreviewPane();
          if (pane.width <= 0 || pane.height <= 0) return;
          Surface bitmap(pane.width, pane.height);
          bitmap.clear(0);
          bitmap.drawImage(snap, 0, 0, gfx::Sampling::Nearest);
          host->SetPreviewBitmap(bitmap.snapshot(), percent);
        });
        fetchDest();
      }
    }

    fetchDest();
    RemoveBrightSpecks(dest, destStride, w, h);
    WorkDone += 10;
    UpdateProgress(Percent());
    if (round < set.RoundCount) {
      Dest.flush();
      reference = Dest.snapshot();
      fetchDest();
    }
  }

  if (!hostExists) return;
  if (!Preview) UpdateDisplay(true);
  if (Preview) {
    SafeUpdatePreview(Dest, 101);
  } else {
    // Also after a cancel: the progress bar must not stay on show.
    SynchronizeUi([] {
      if (EffectHost* host = CurrentHost()) host->UpdateProgress(101);
    });
  }
}

}  // namespace quillora
