// Brushstrokes 2: a loose, fluent painting in long curving strokes of a round brush,
// each one dragged along the forms of the subject and loaded with the colours of the
// spot it starts from, a little lighter or darker bristle by bristle. A thin, quick
// wash of big strokes covers the canvas first; then ever finer brushes go back where
// the painting still strays from the subject, and once the picture has taken shape a
// stroke that does not clearly help is wiped off again. A light sharpening and a touch
// of saturation finish it.
#include "effects/painting/brushstrokes_2.h"

#include "brushes/image_repository.h"
#include "effects/painting/post_processing.h"
#include "engine/effect_host.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/pixel.h"

#include <immintrin.h>

#include <QRectF>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace quillora {

namespace {

constexpr int kTile = 32;
constexpr int kLastIteration = 500;
constexpr int kMaxSteps = 150;
// How far from its bristle a stroke colour may be sampled.
constexpr int kReach = 3;
// Strokes per iteration are counted per this many pixels.
constexpr int64_t kPixelsPerStroke = 48400;

// The generator's state after k steps: state * mul + add (mod 2^32).
struct Jump {
  uint32_t mul, add;
};
constexpr std::array<Jump, 7> MakeJumps() {
  std::array<Jump, 7> j{};
  j[0] = {1u, 0u};
  for (size_t k = 1; k < j.size(); ++k)
    j[k] = {j[k - 1].mul * 134775813u, j[k - 1].add * 134775813u + 1u};
  return j;
}
constexpr std::array<Jump, 7> kJump = MakeJumps();

// The process-wide generator's arithmetic on a private copy of its state: the draws of
// the stroke loops are the effect's hottest sequential chain, and a register beats a
// shared word. The state goes back to the shared generator at every checkpoint and
// when the stream ends, so the sequence is the one the shared generator would give.
class RandomStream {
 public:
  RandomStream() : s_(RandomSeed()) {}
  ~RandomStream() { SetRandomSeed(s_); }
  RandomStream(const RandomStream&) = delete;
  RandomStream& operator=(const RandomStream&) = delete;

  int32_t Next(int32_t n) {
    s_ = s_ * 134775813u + 1u;
    return n <= 0 ? 0 : int32_t((uint64_t(s_) * uint32_t(n)) >> 32);
  }
  double Float() {
    s_ = s_ * 134775813u + 1u;
    return double(s_) / 4294967296.0;
  }
  // The colours of the bristles [tx0, tx1) of tip row ty into out (lighter and darker
  // are scratch of the same length), drawn exactly as
  //   j = Next(tx + ty + 1) % 3 != 0 ? 25 : -Next(20);
  //   centre = Next(150) + cb < level;
  //   unless centre: wide = Next(100) < P3; ox = wide ? Next(7) - 3 : Next(3) - 1; oy alike
  // and colour = (centre ? centreColour : around[oy][tx + ox]) + j per channel, clamped.
  // The draws a bristle takes depend on what it draws, so the generator is one long
  // chain; here every state the bristle may need is reached from its first one in a
  // single multiply-add, and the jitter, a coin toss, is selected rather than branched
  // on.
  void Bristles(const uint32_t* around, int stride, int tx0, int tx1, int ty, int cb, int level,
                int P3, uint32_t centreColour, uint32_t* out, uint32_t* lighter, uint32_t* darker) {
    uint32_t s = s_;
    auto hi = [](uint32_t state, uint32_t n) { return uint32_t((uint64_t(state) * n) >> 32); };
    // Selections by mask: left to itself the compiler branches, and these branches
    // are coin tosses.
    auto pick = [](uint32_t mask, uint32_t yes, uint32_t no) { return no ^ ((yes ^ no) & mask); };
    for (int tx = tx0; tx < tx1; ++tx) {
      uint32_t st[7];
      for (int k = 1; k <= 6; ++k) st[k] = s * kJump[k].mul + kJump[k].add;
      // up: the +25 jitter; otherwise Next(20) took one more state.
      const uint32_t up = -uint32_t(hi(st[1], uint32_t(tx + ty + 1)) % 3 != 0);
      const uint32_t s150 = pick(up, st[2], st[3]), s100 = pick(up, st[3], st[4]);
      const uint32_t sx = pick(up, st[4], st[5]), sy = pick(up, st[5], st[6]);
      // Within one stroke this goes mostly one way, so a branch costs little here.
      if (int(hi(s150, 150)) + cb < level) {
        out[tx] = centreColour;
        s = s150;
      } else {
        const uint32_t wide = uint32_t(int(hi(s100, 100)) < P3);
        const uint32_t range = 3 + 4 * wide;
        const int off = int(1 + 2 * wide);
        const int ox = int(hi(sx, range)) - off, oy = int(hi(sy, range)) - off;
        out[tx] = around[qsizetype(oy) * stride + tx + ox];
        s = sy;
      }
      lighter[tx] = up & (25u * 0x010101u);
      darker[tx] = ~up & (hi(st[2], 20) * 0x010101u);
    }
    // The lift or dip of each bristle, four at a time with saturation.
    int tx = tx0;
    for (; tx + 4 <= tx1; tx += 4) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + tx));
      v = _mm_adds_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lighter + tx)));
      v = _mm_subs_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(darker + tx)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + tx),
                       _mm_or_si128(v, _mm_set1_epi32(int(0xFF000000u))));
    }
    for (; tx < tx1; ++tx) {
      const int j = int(lighter[tx] & 0xFF) - int(darker[tx] & 0xFF);
      const uint32_t c = out[tx];
      out[tx] = gfx::PackArgb(255, uint32_t(Clamp255(int(gfx::RedOf(c)) + j)),
                              uint32_t(Clamp255(int(gfx::GreenOf(c)) + j)),
                              uint32_t(Clamp255(int(gfx::BlueOf(c)) + j)));
    }
    s_ = s;
  }

  // The colours of the under-painting bristles [tx0, tx1] of tip row ty that have
  // coverage, drawn as j = Next(tx + ty + 1) % 3 != 0 ? 15 : -Next(10): shades[10]
  // for +15, shades[r] for -r.
  void Jitters(const uint8_t* cov, int tx0, int tx1, int ty, const uint32_t* shades,
               uint32_t* out) {
    uint32_t s = s_;
    for (int tx = tx0; tx <= tx1; ++tx) {
      if (cov[tx] == 0) continue;
      const uint32_t s1 = s * kJump[1].mul + kJump[1].add, s2 = s * kJump[2].mul + kJump[2].add;
      const bool up = uint32_t((uint64_t(s1) * uint32_t(tx + ty + 1)) >> 32) % 3 != 0;
      const uint32_t r = uint32_t((uint64_t(s2) * 10u) >> 32);
      out[tx] = shades[up ? 10 : r];
      s = up ? s1 : s2;
    }
    s_ = s;
  }

  // Hands the state back around a call that may leave the effect (cancellation,
  // progress) and picks up whatever was drawn meanwhile.
  template <class F>
  void Checkpoint(F&& fn) {
    SetRandomSeed(s_);
    fn();
    s_ = RandomSeed();
  }

 private:
  uint32_t s_;
};

// A brush tip's coverage, and per row the columns that hold any: the round tips leave
// their corners empty, and stamping skips them. Rows are `stride` apart and padded with
// empty coverage, so that a stamp row can be blended a whole vector at a time.
struct Tip {
  int W = 0, H = 0, stride = 0;
  std::vector<uint8_t> cov;
  std::vector<int> lo, hi;  // per row; lo > hi for an empty row
  uint8_t at(int x, int y) const { return cov[size_t(y) * size_t(stride) + size_t(x)]; }
};

constexpr int kStampVector = 8;  // pixels per step of the widest stamp kernel

// The alpha of a tip picture; a missing picture becomes a soft 32 x 32 disc, so the
// effect still paints.
Tip MakeTip(const Image& picture) {
  Tip t;
  const bool missing = picture.isEmpty();
  t.W = missing ? 32 : picture.width();
  t.H = missing ? 32 : picture.height();
  t.stride = (t.W + kStampVector - 1) / kStampVector * kStampVector + kStampVector;
  t.cov.assign(size_t(t.stride) * size_t(t.H), 0);
  for (int y = 0; y < t.H; ++y) {
    uint8_t* row = &t.cov[size_t(y) * size_t(t.stride)];
    if (missing) {
      for (int x = 0; x < t.W; ++x) {
        const double r = std::hypot(double(x - 16), double(y - 16));
        if (r < 16.0) row[x] = uint8_t(RoundEven(255.0 * (1.0 - r / 16.0)));
      }
    } else {
      const uint32_t* px = picture.row(y);
      for (int x = 0; x < t.W; ++x) row[x] = uint8_t(px[x] >> 24);
    }
  }
  t.lo.assign(size_t(t.H), t.W);
  t.hi.assign(size_t(t.H), -1);
  for (int y = 0; y < t.H; ++y)
    for (int x = 0; x < t.W; ++x)
      if (t.at(x, y) != 0) {
        t.lo[size_t(y)] = std::min(t.lo[size_t(y)], x);
        t.hi[size_t(y)] = x;
      }
  return t;
}

bool HasTransparency(const Image& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uint32_t* r = image.row(y);
    for (int x = 0; x < image.width(); ++x)
      if ((r[x] >> 24) != 255) return true;
  }
  return false;
}

inline int ColourError(uint32_t a, uint32_t b) {
  return std::abs(int(gfx::RedOf(a)) - int(gfx::RedOf(b))) +
         std::abs(int(gfx::GreenOf(a)) - int(gfx::GreenOf(b))) +
         std::abs(int(gfx::BlueOf(a)) - int(gfx::BlueOf(b)));
}

// Σ |ΔR| + |ΔG| + |ΔB| between painting d and source s over [0, n), leaving out the
// pixels whose source is fully transparent (no stroke can paint them) and, when
// `touched` is given, those whose byte in it is 0. `count` gets the pixels counted.
int64_t SpanError(const uint32_t* d, const uint32_t* s, const uint8_t* touched, int n, int& count) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  __m128i sum = zero;
  int counted = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    __m128i skip = _mm_cmpeq_epi32(_mm_and_si128(sv, alpha), zero);
    if (touched) {
      int32_t t4;
      std::memcpy(&t4, touched + i, 4);
      __m128i tv = _mm_cvtsi32_si128(t4);
      tv = _mm_unpacklo_epi8(tv, tv);
      tv = _mm_unpacklo_epi16(tv, tv);
      skip = _mm_or_si128(skip, _mm_cmpeq_epi32(tv, zero));
    }
    // Alpha is set equal on both sides so that only colour counts.
    const __m128i a = _mm_andnot_si128(skip, _mm_or_si128(dv, alpha));
    const __m128i b = _mm_andnot_si128(skip, _mm_or_si128(sv, alpha));
    sum = _mm_add_epi64(sum, _mm_sad_epu8(a, b));
    static constexpr int8_t kKept[16] = {4, 3, 3, 2, 3, 2, 2, 1, 3, 2, 2, 1, 2, 1, 1, 0};
    counted += kKept[_mm_movemask_ps(_mm_castsi128_ps(skip))];
  }
  int64_t total = _mm_cvtsi128_si64(sum) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sum, sum));
  for (; i < n; ++i) {
    if ((s[i] >> 24) == 0 || (touched && touched[i] == 0)) continue;
    total += ColourError(d[i], s[i]);
    ++counted;
  }
  count += counted;
  return total;
}

}  // namespace

TBrushstrokes2Settings Brushstrokes2Settings(int P1, int P2, int P3, int P4, int P5) {
  (void)P5;
  P1 = std::clamp(P1, 0, 100);
  P2 = std::clamp(P2, 0, 100);
  P3 = std::clamp(P3, 0, 100);
  TBrushstrokes2Settings s;
  s.LengthDivisor = std::max(1, 28 - P1 / 10);
  s.BatchMultiplier = (2 * P2) / 25 + 1;
  s.SkipLevel = 255 - 2 * P2;
  // Af = 1 + P3 / 256 is a multiple of 1/256: comparing after * (256 + P3) with
  // before * 256 in integers is the exact comparison.
  s.AcceptNumerator = 256 + P3;
  s.Saturation = std::clamp(2 * P4 - 100, -100, 100);
  return s;
}

void BlendStampSpanReference(uint32_t* dst, const uint8_t* a, const uint32_t* p,
                             const uint32_t* src, int n, int op) {
  for (int i = 0; i < n; ++i) {
    const uint32_t cov = a[i];
    if (cov == 0 || (src && (src[i] >> 24) == 0)) continue;
    const uint32_t d = dst[i], c = p[i];
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
      const uint32_t dc = (d >> shift) & 0xFF, pc = (c >> shift) & 0xFF;
      const uint32_t t = (dc * (255 - cov) + pc * cov) / 255;
      out |= (((255 - uint32_t(op)) * dc + uint32_t(op) * t) / 255) << shift;
    }
    dst[i] = out;
  }
}

void BlendStampSpanSse2(uint32_t* dst, const uint8_t* a, const uint32_t* p, const uint32_t* src,
                        int n, int op) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c255 = _mm_set1_epi16(255), one = _mm_set1_epi16(1);
  const __m128i vop = _mm_set1_epi16(int16_t(op)), vinv = _mm_set1_epi16(int16_t(255 - op));
  const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
  // floor(x / 255) for 0 <= x <= 255 * 255, which fits the 16-bit lanes.
  auto div255 = [one](__m128i x) {
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
  };
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    int32_t a4;
    std::memcpy(&a4, a + i, 4);
    if (a4 == 0) continue;
    __m128i av = _mm_cvtsi32_si128(a4);
    av = _mm_unpacklo_epi8(av, av);
    av = _mm_unpacklo_epi16(av, av);  // each coverage byte four times: one per channel
    __m128i keep = _mm_cmpeq_epi32(av, zero);
    if (src)
      keep = _mm_or_si128(
          keep,
          _mm_cmpeq_epi32(
              _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)), opaque),
              zero));
    const __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i P = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i alo = _mm_unpacklo_epi8(av, zero), ahi = _mm_unpackhi_epi8(av, zero);
    const __m128i dlo = _mm_unpacklo_epi8(D, zero), dhi = _mm_unpackhi_epi8(D, zero);
    const __m128i plo = _mm_unpacklo_epi8(P, zero), phi = _mm_unpackhi_epi8(P, zero);
    const __m128i tlo = div255(
        _mm_add_epi16(_mm_mullo_epi16(dlo, _mm_sub_epi16(c255, alo)), _mm_mullo_epi16(plo, alo)));
    const __m128i thi = div255(
        _mm_add_epi16(_mm_mullo_epi16(dhi, _mm_sub_epi16(c255, ahi)), _mm_mullo_epi16(phi, ahi)));
    const __m128i nlo =
        div255(_mm_add_epi16(_mm_mullo_epi16(dlo, vinv), _mm_mullo_epi16(tlo, vop)));
    const __m128i nhi =
        div255(_mm_add_epi16(_mm_mullo_epi16(dhi, vinv), _mm_mullo_epi16(thi, vop)));
    const __m128i painted = _mm_or_si128(_mm_packus_epi16(nlo, nhi), opaque);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_or_si128(_mm_and_si128(keep, D), _mm_andnot_si128(keep, painted)));
  }
  BlendStampSpanReference(dst + i, a + i, p + i, src ? src + i : nullptr, n - i, op);
}

namespace {

// floor(x / 255) for 0 <= x <= 255 * 255 in 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i Div255x16(__m256i x) {
  return _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_add_epi16(x, _mm256_set1_epi16(1)), _mm256_srli_epi16(x, 8)), 8);
}

__attribute__((target("avx2"))) void BlendStampSpanAvx2(uint32_t* dst, const uint8_t* a,
                                                        const uint32_t* p, const uint32_t* src,
                                                        int n, int op) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i c255 = _mm256_set1_epi16(255);
  const __m256i vop = _mm256_set1_epi16(int16_t(op)), vinv = _mm256_set1_epi16(int16_t(255 - op));
  const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
  // Each pixel's coverage byte into all four bytes of its word.
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0, 0,
                                          0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    int64_t a8;
    std::memcpy(&a8, a + i, 8);
    if (a8 == 0) continue;
    const __m256i av = _mm256_shuffle_epi8(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(a8)), spread);
    __m256i keep = _mm256_cmpeq_epi32(av, zero);
    if (src)
      keep = _mm256_or_si256(
          keep, _mm256_cmpeq_epi32(
                    _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)),
                                     opaque),
                    zero));
    const __m256i D = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    const __m256i P = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    // The unpacks and the pack below work within each 128-bit half alike, so every
    // pixel meets its own coverage and colour and comes back to its place.
    const __m256i alo = _mm256_unpacklo_epi8(av, zero), ahi = _mm256_unpackhi_epi8(av, zero);
    const __m256i dlo = _mm256_unpacklo_epi8(D, zero), dhi = _mm256_unpackhi_epi8(D, zero);
    const __m256i plo = _mm256_unpacklo_epi8(P, zero), phi = _mm256_unpackhi_epi8(P, zero);
    const __m256i tlo = Div255x16(_mm256_add_epi16(
        _mm256_mullo_epi16(dlo, _mm256_sub_epi16(c255, alo)), _mm256_mullo_epi16(plo, alo)));
    const __m256i thi = Div255x16(_mm256_add_epi16(
        _mm256_mullo_epi16(dhi, _mm256_sub_epi16(c255, ahi)), _mm256_mullo_epi16(phi, ahi)));
    const __m256i nlo =
        Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(dlo, vinv), _mm256_mullo_epi16(tlo, vop)));
    const __m256i nhi =
        Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(dhi, vinv), _mm256_mullo_epi16(thi, vop)));
    const __m256i painted = _mm256_or_si256(_mm256_packus_epi16(nlo, nhi), opaque);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_blendv_epi8(painted, D, keep));
  }
  BlendStampSpanSse2(dst + i, a + i, p + i, src ? src + i : nullptr, n - i, op);
}

using StampKernel = void (*)(uint32_t*, const uint8_t*, const uint32_t*, const uint32_t*, int, int);

StampKernel BestStampKernel() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &BlendStampSpanAvx2 : &BlendStampSpanSse2;
}

}  // namespace

void BlendStampSpan(uint32_t* dst, const uint8_t* a, const uint32_t* p, const uint32_t* src, int n,
                    int op) {
  static const StampKernel kernel = BestStampKernel();
  kernel(dst, a, p, src, n, op);
}

void Ollivander(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4, int P5,
                bool Preview) {
  if (Source.isEmpty() || Dest.width() <= 0 || Dest.height() <= 0) return;
  CheckCancellation();
  const int w = Source.width(), h = Source.height();
  if (Dest.width() != w || Dest.height() != h) return;
  P3 = std::clamp(P3, 0, 100);
  P5 = std::clamp(P5, 0, 100);
  const TBrushstrokes2Settings set = Brushstrokes2Settings(P1, P2, P3, P4, P5);
  const bool HasAlpha = HasTransparency(Source);

  // The canvas: transparent for a preview; for a full render white (transparent when
  // the photo has transparency) with "Erase background" on, else the current picture.
  bool DoClear = true;
  if (Preview) {
    Dest.clear(0);
  } else {
    Image base;
    bool erase = true;
    if (!SynchronizeUi([&] {
          EffectHost* host = CurrentHost();
          if (!host) return;
          erase = host->EraseBackgroundChecked();
          if (!erase && !host->ResultImage().isEmpty()) {
            base = host->ManualBrushBaseImage();
            if (base.isEmpty()) base = host->ResultImage();
          }
        }))
      return;
    DoClear = erase;
    if (erase) {
      Dest.clear(HasAlpha ? 0u : 0xFFFFFFFFu);
    } else if (!base.isEmpty()) {
      Dest.clear(0);
      Dest.drawImage(base, 0, 0, gfx::Sampling::Nearest);
    }
  }
  Dest.flush();

  auto finish = [&] {
    if (Preview) {
      LastUiUpdateTick.store(0);
      SafeUpdatePreview(Dest, 101);
    } else {
      SafeUpdateProgress(101);
    }
  };
  // Too small to hold a stroke: the canvas is the picture (never a blank result for a
  // full render).
  if (w <= 9 || h <= 9) {
    finish();
    return;
  }

  // Colours are sampled and compared as straight (unpremultiplied) colour: the
  // painting is opaque until the end, when it takes the source's alpha.
  const uint32_t* src = Source.row(0);
  qsizetype srcStride = Source.bytesPerLine() / 4;
  std::vector<uint32_t> straight;
  if (HasAlpha) {
    straight.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
      const uint32_t* r = Source.row(y);
      for (int x = 0; x < w; ++x)
        straight[size_t(y) * size_t(w) + size_t(x)] = gfx::Unpremultiply(r[x]);
    }
    src = straight.data();
    srcStride = w;
  }
  auto S = [&](int x, int y) { return src[qsizetype(y) * srcStride + x]; };

  uint32_t* dest = nullptr;
  qsizetype destStride = 0;
  auto retakeDest = [&] {
    dest = reinterpret_cast<uint32_t*>(Dest.bits());
    destStride = Dest.bytesPerLine() / 4;
  };
  retakeDest();
  if (!DoClear && HasAlpha) {
    // The picture painted over is opaque colour too, so that strokes mix with its
    // colour rather than with its premultiplied (darkened) bytes.
    for (int y = 0; y < h; ++y) {
      uint32_t* r = dest + qsizetype(y) * destStride;
      for (int x = 0; x < w; ++x)
        if ((r[x] >> 24) != 0) r[x] = gfx::Unpremultiply(r[x]) | 0xFF000000u;
    }
  }

  auto progress = [&](int p) {
    if (Preview)
      SafeUpdatePreview(Dest, p);
    else
      SafeUpdateProgress(p);
    // A picture sent on shares the pixels until the surface is written again.
    retakeDest();
  };
  auto showIntermediate = [&](int percent) {
    if (Preview) return;
    const Image shown = Dest.snapshot();
    QueueUi([shown, percent] {
      if (!CancelRequested()) ShowIntermediateImage(shown, percent);
    });
    retakeDest();
  };

  RandomStream rng;

  // The direction field: across the strongest colour gradient (Scharr), so that strokes
  // run along the edges; where the picture is flat, any direction.
  std::vector<uint8_t> Length(size_t(w) * size_t(h), 0);
  std::vector<float> Angle(size_t(w) * size_t(h), 0.0f);
  for (int y = 1; y <= h - 2; ++y) {
    if (y % 64 == 0)
      rng.Checkpoint([&] {
        CheckCancellation();
        progress(int(RoundRatio(5 * int64_t(y), h)));
      });
    const uint32_t* T = Source.row(y - 1);
    const uint32_t* M = Source.row(y);
    const uint32_t* B = Source.row(y + 1);
    for (int x = 1; x <= w - 2; ++x) {
      int gxBest = 0, gyBest = 0;
      for (int shift = 16; shift >= 0; shift -= 8) {  // red, green, blue
        auto c = [shift](uint32_t p) { return int((p >> shift) & 0xFF); };
        const int tl = c(T[x - 1]), tc = c(T[x]), tr = c(T[x + 1]);
        const int ml = c(M[x - 1]), mr = c(M[x + 1]);
        const int bl = c(B[x - 1]), bc = c(B[x]), br = c(B[x + 1]);
        const int gy = 3 * tl + 10 * tc + 3 * tr - 3 * bl - 10 * bc - 3 * br;
        const int gx = 3 * tl + 10 * ml + 3 * bl - 3 * tr - 10 * mr - 3 * br;
        if (shift == 16 || std::abs(gy) > std::abs(gyBest)) gyBest = gy;
        if (shift == 16 || std::abs(gx) > std::abs(gxBest)) gxBest = gx;
      }
      const size_t at = size_t(y) * size_t(w) + size_t(x);
      const int len = (std::abs(gxBest) + std::abs(gyBest)) / 32;
      Length[at] = uint8_t(len);
      Angle[at] = len > 4 ? float(std::atan2(double(gyBest), double(gxBest)) + 1.5707)
                          : float(6.28 * rng.Float());
    }
  }
  auto interior = [w, h](int x, int y) { return x >= 1 && x <= w - 2 && y >= 1 && y <= h - 2; };
  auto inside = [w, h](int x, int y) { return x >= 0 && x < w && y >= 0 && y < h; };

  rng.Checkpoint([] { CheckCancellation(); });
  Image tipPictures[3];
  if (!SynchronizeUi([&] {
        TForm3& holder = TForm3::Instance();
        tipPictures[0] = holder.Picture(QStringLiteral("PaintBrushSim"));
        tipPictures[1] = holder.Picture(QStringLiteral("PaintBrushSim2"));
        tipPictures[2] = holder.Picture(QStringLiteral("PaintBrushSim3"));
      }))
    return;
  const Tip tips[3] = {MakeTip(tipPictures[0]), MakeTip(tipPictures[1]), MakeTip(tipPictures[2])};
  for (Image& picture : tipPictures) picture = Image();
  rng.Checkpoint([] { CheckCancellation(); });
  const Tip* tip = &tips[0];

  // The under-painting: big, thin strokes of the largest tip on a half-size canvas.
  if (DoClear) {
    int hw = w / 2, hh = h / 2;
    if (hw < 10 || hh < 10) {
      hw = w;
      hh = h;
    }
    std::vector<uint32_t> canvas(size_t(hw) * size_t(hh), 0xFFFFFFFFu);
    const int W = tip->W, H = tip->H;
    const int blockRows = hh / 40, blockCols = hw / 40;
    std::vector<uint8_t> reach(size_t(tip->stride), 0);
    std::vector<uint32_t> wash(size_t(tip->stride), 0u);
    for (int by = 0; by <= blockRows; ++by) {
      if (by % 4 == 0)
        rng.Checkpoint([&] {
          CheckCancellation();
          progress(5 + int(RoundRatio(15 * int64_t(by), blockRows + 1)));
        });
      for (int bx = 0; bx <= blockCols; ++bx) {
        rng.Checkpoint([] { CheckCancellation(); });
        // The direction is read where the colour is, at the stroke's start.
        const int sx = std::clamp(2 * (W / 2 + 40 * bx), 0, w - 1);
        const int sy = std::clamp(2 * (H / 2 + 40 * by), 0, h - 1);
        const int ax = std::clamp(sx, 1, w - 2), ay = std::clamp(sy, 1, h - 2);
        double phi = interior(ax, ay) ? double(Angle[size_t(ay) * size_t(w) + size_t(ax)])
                                      : 6.28 * rng.Float();
        double delta = 0.005 * rng.Float() - 0.0025;
        const int op = std::clamp(rng.Next(P5 / 10) + 15, 0, 255);
        const uint32_t C = S(sx, sy);
        if (HasAlpha && (C >> 24) == 0) continue;
        const int n = rng.Next((hw + hh) / 128) + rng.Next(20) + 11;
        // The block's colour with every jitter a bristle can give it: -9..0, then +15.
        uint32_t shades[11];
        for (int r = 0; r <= 10; ++r) {
          const int j = r == 10 ? 15 : -r;
          shades[r] = gfx::PackArgb(255, uint32_t(Clamp255(int(gfx::RedOf(C)) + j)),
                                    uint32_t(Clamp255(int(gfx::GreenOf(C)) + j)),
                                    uint32_t(Clamp255(int(gfx::BlueOf(C)) + j)));
        }
        for (int s = 0; s < n; ++s) {
          const int px = 40 * bx + int(std::floor(double(s) * std::cos(phi)));
          const int py = 40 * by + int(std::floor(double(s) * std::sin(phi)));
          if (rng.Next(100) > 74) delta += 0.003 * rng.Float() - 0.0015;
          phi += delta;
          for (int ty = 0; ty < H; ++ty) {
            const int cy = py + ty;
            if (cy < 0 || cy >= hh) continue;
            const int t0 = std::max(tip->lo[size_t(ty)], -px);
            const int t1 = std::min(tip->hi[size_t(ty)], hw - 1 - px);
            if (t0 > t1) continue;
            const int len =
                std::min((t1 - t0 + kStampVector) / kStampVector * kStampVector, hw - (px + t0));
            const uint8_t* covRow = &tip->cov[size_t(ty) * size_t(tip->stride)];
            if (HasAlpha) {
              // No paint where the photo is transparent.
              const uint32_t* srow = src + qsizetype(std::clamp(2 * cy, 0, h - 1)) * srcStride;
              for (int tx = t0; tx < t0 + len; ++tx)
                reach[size_t(tx)] =
                    (srow[std::clamp(2 * (px + tx), 0, w - 1)] >> 24) != 0 ? covRow[tx] : 0;
              covRow = reach.data();
            }
            rng.Jitters(covRow, t0, t1, ty, shades, wash.data());
            BlendStampSpan(&canvas[size_t(cy) * size_t(hw) + size_t(px + t0)], covRow + t0,
                           wash.data() + t0, nullptr, len, op);
          }
        }
      }
    }
    rng.Checkpoint([] { CheckCancellation(); });
    const Image under =
        Image::FromPixels(canvas.data(), hw, hh, qsizetype(hw) * 4, gfx::AlphaType::Premultiplied);
    canvas = {};
    Dest.drawImageRect(under, QRectF(0, 0, hw, hh), QRectF(0, 0, w, h), gfx::Sampling::Linear);
    Dest.flush();
    retakeDest();
    showIntermediate(20);
  }

  // The main strokes.
  rng.Checkpoint([] { CheckCancellation(); });
  const int tilesX = (w + kTile - 1) / kTile, tilesY = (h + kTile - 1) / kTile;
  const int tileCount = tilesX * tilesY;
  std::vector<int64_t> tileError(size_t(tileCount), 0), prefix(size_t(tileCount), 0);
  std::vector<int> visits(size_t(tileCount), 0);
  auto recomputeTileErrors = [&] {
    std::fill(tileError.begin(), tileError.end(), 0);
    for (int y = 0; y < h; ++y) {
      const uint32_t* d = dest + qsizetype(y) * destStride;
      const uint32_t* s = src + qsizetype(y) * srcStride;
      int64_t* row = &tileError[size_t(y / kTile) * size_t(tilesX)];
      int unused = 0;
      for (int tx = 0; tx < tilesX; ++tx) {
        const int x0 = tx * kTile;
        row[tx] += SpanError(d + x0, s + x0, nullptr, std::min(kTile, w - x0), unused);
      }
    }
  };
  recomputeTileErrors();

  // Per-stroke buffers, sized for the longest stroke of the largest tip: nothing is
  // allocated inside the loop.
  int maxW = 0, maxH = 0, maxStride = 0;
  for (const Tip& t : tips) {
    maxW = std::max(maxW, t.W);
    maxStride = std::max(maxStride, t.stride);
    maxH = std::max(maxH, t.H);
  }
  const int boxW = maxStride + 2 * kMaxSteps + 2, boxH = maxH + 2 * kMaxSteps + 2;
  std::vector<uint32_t> patch(size_t(maxStride) * size_t(maxH), 0u);
  std::vector<uint32_t> lighter(size_t(maxW), 0u), darker(size_t(maxW), 0u);
  std::vector<uint32_t> around(size_t(maxW + 2 * kReach) * size_t(maxH + 2 * kReach));
  std::vector<uint32_t> backup(size_t(boxW) * size_t(boxH));
  std::vector<uint8_t> touched(size_t(boxW) * size_t(boxH), 0);
  std::vector<int> spanLo(size_t(boxH), 0), spanHi(size_t(boxH), 0);
  struct Step {
    int x, y;
  };
  std::vector<Step> steps(size_t(kMaxSteps) + 1);
  const int boxTiles = (std::max(boxW, boxH) + kTile - 1) / kTile + 1;
  std::vector<int64_t> tileBefore(size_t(boxTiles) * size_t(boxTiles)),
      tileAfter(size_t(boxTiles) * size_t(boxTiles));

  bool evaluating = !DoClear;
  int batchFactor = 1;
  const int D = set.LengthDivisor;
  const int sampleLevel = P3 / 5 + 80;
  const int64_t M = int64_t(w) * h * set.BatchMultiplier / kPixelsPerStroke;

  for (int i = 0; i <= kLastIteration; ++i) {
    if (i == 50) tip = &tips[1];
    if (i == 400) {
      tip = &tips[2];
      batchFactor = 12;
    }
    if (i == 5 || i == 10 || i == 15 || i == 50 || i == 200 || i == 400) recomputeTileErrors();
    if (i == 15) evaluating = true;
    int64_t total = 0;
    for (int t = 0; t < tileCount; ++t) {
      int64_t weight = tileError[size_t(t)];
      if (visits[size_t(t)] > 20) weight /= visits[size_t(t)] / 20 + 1;
      total += std::max<int64_t>(1, weight);
      prefix[size_t(t)] = total;
    }
    const int W = tip->W, H = tip->H;
    const int64_t strokes = M * batchFactor + 1;

    for (int64_t k = 0; k < strokes; ++k) {
      if (k % 25 == 0) rng.Checkpoint([] { CheckCancellation(); });
      if (i % 5 == 0 && k == 0)
        rng.Checkpoint([&] {
          const int p = int(RoundRatio(80 * int64_t(i), 500)) + 20;
          progress(p);
          if (i % 10 == 0) showIntermediate(p);
        });

      // Where: mostly where the painting is still furthest from the photo.
      int x0, y0;
      const bool targeted = rng.Next(100) < 90;
      if (targeted) {
        int t;
        if (total > 0) {
          const int64_t a = int64_t(std::trunc(rng.Float() * double(total)));
          t = int(std::lower_bound(prefix.begin(), prefix.end(), a) - prefix.begin());
          t = std::min(t, tileCount - 1);
        } else {
          t = rng.Next(tileCount);
        }
        x0 = rng.Next(kTile) + kTile * (t % tilesX) - W / 2;
        y0 = rng.Next(kTile) + kTile * (t / tilesX) - H / 2;
      } else {
        x0 = rng.Next(w - 1) - W / 2;
        y0 = rng.Next(h - 1) - H / 2;
      }
      const int cx = x0 + W / 2, cy = y0 + H / 2;
      const bool centreInside = inside(cx, cy);
      const int centreLength = centreInside ? Length[size_t(cy) * size_t(w) + size_t(cx)] : 0;
      // Late strokes keep to the detail: flat spots drop most of them.
      if (targeted) {
        if (i > 50 && centreInside && centreLength < rng.Next(i / 8)) continue;
      } else {
        if (rng.Next(290) < set.SkipLevel) continue;
        if (i > 50 && (!centreInside || centreLength < rng.Next(i / 4))) continue;
      }

      double phi = interior(cx, cy) ? double(Angle[size_t(cy) * size_t(w) + size_t(cx)])
                                    : 6.28 * rng.Float();
      const int cb = rng.Next(100) < 70 ? -50 : 100;
      double delta = 0.009 * rng.Float() - 0.0045;
      const int n = !centreInside
                        ? 10
                        : std::clamp(rng.Next((500 - i) / D) + 2 * centreLength / D, 8, kMaxSteps);
      const int op = std::clamp(rng.Next(P5 / 2 + i / 30) + P5 / 8, 1, 255);

      // The load of the brush: the colour at the centre or close to each bristle, a
      // little lighter or darker bristle by bristle.
      const uint32_t centreColour = S(std::clamp(cx, 0, w - 1), std::clamp(cy, 0, h - 1));
      // The source around the tip, 3 pixels wider on every side and clamped to the
      // picture, read row by row up front: sampled bristle by bristle at random
      // offsets, the picture itself would stall on every new row.
      const int aw = W + 2 * kReach;
      for (int r = 0; r < H + 2 * kReach; ++r) {
        const uint32_t* srow = src + qsizetype(std::clamp(y0 - kReach + r, 0, h - 1)) * srcStride;
        uint32_t* arow = &around[size_t(r) * size_t(aw)];
        const int c0 = std::clamp(-(x0 - kReach), 0, aw),
                  c1 = std::clamp(w - (x0 - kReach), c0, aw);
        for (int c = 0; c < c0; ++c) arow[c] = srow[0];
        if (c1 > c0) std::memcpy(arow + c0, srow + (x0 - kReach + c0), size_t(c1 - c0) * 4);
        for (int c = c1; c < aw; ++c) arow[c] = srow[w - 1];
      }
      const int txIn0 = std::clamp(-x0, 0, W), txIn1 = std::clamp(w - x0, txIn0, W);
      for (int ty = 0; ty < H; ++ty) {
        const int iy = y0 + ty;
        uint32_t* patchRow = &patch[size_t(ty) * size_t(tip->stride)];
        const uint32_t* arow = &around[size_t(ty + kReach) * size_t(aw) + kReach];
        // A bristle that starts off the picture may walk onto it: it carries the
        // colour of the nearest edge pixel, not what an earlier stroke left.
        if (iy < 0 || iy >= h) {
          for (int tx = 0; tx < W; ++tx) patchRow[tx] = arow[tx] | 0xFF000000u;
          continue;
        }
        for (int tx = 0; tx < txIn0; ++tx) patchRow[tx] = arow[tx] | 0xFF000000u;
        for (int tx = txIn1; tx < W; ++tx) patchRow[tx] = arow[tx] | 0xFF000000u;
        rng.Bristles(arow, aw, txIn0, txIn1, ty, cb, sampleLevel, P3, centreColour, patchRow,
                     lighter.data(), darker.data());
      }

      // The path: a ray from the start whose direction turns a little at every step.
      for (int s = 0; s <= n; ++s) {
        steps[size_t(s)] = {x0 + int(std::floor(double(s) * std::cos(phi))),
                            y0 + int(std::floor(double(s) * std::sin(phi)))};
        if (evaluating) {
          if (rng.Next(100) > 80) delta += 0.003 * rng.Float() - 0.0015;
        } else {
          if (rng.Next(100) > 85) delta += 0.002 * rng.Float() - 0.001;
        }
        phi += delta;
      }

      // The pixels the stroke can reach, row by row, clipped to the picture; kept in
      // a box around the start that holds any path.
      const int bx0 = x0 - kMaxSteps - 1, by0 = y0 - kMaxSteps - 1;
      int rowFirst = 0, rowLast = -1;
      if (evaluating) {
        int yMin = steps[0].y, yMax = steps[0].y;
        for (int s = 1; s <= n; ++s) {
          yMin = std::min(yMin, steps[size_t(s)].y);
          yMax = std::max(yMax, steps[size_t(s)].y);
        }
        rowFirst = std::max(0, yMin) - by0;
        rowLast = std::min(h - 1, yMax + H - 1) - by0;
        for (int r = rowFirst; r <= rowLast; ++r) {
          spanLo[size_t(r)] = w;
          spanHi[size_t(r)] = -1;
        }
        bool any = false;
        for (int s = 0; s <= n; ++s) {
          const Step st = steps[size_t(s)];
          for (int ty = 0; ty < H; ++ty) {
            const int iy = st.y + ty;
            if (iy < 0 || iy >= h) continue;
            const int lo = std::max(0, st.x + tip->lo[size_t(ty)]);
            const int hi = std::min(w - 1, st.x + tip->hi[size_t(ty)]);
            if (lo > hi) continue;
            const size_t r = size_t(iy - by0);
            spanLo[r] = std::min(spanLo[r], lo);
            spanHi[r] = std::max(spanHi[r], hi);
            any = true;
          }
        }
        if (!any) continue;  // touches nothing
        for (int r = rowFirst; r <= rowLast; ++r) {
          const int lo = spanLo[size_t(r)], hi = spanHi[size_t(r)];
          if (lo > hi) continue;
          std::memcpy(&backup[size_t(r) * size_t(boxW) + size_t(lo - bx0)],
                      dest + qsizetype(r + by0) * destStride + lo, size_t(hi - lo + 1) * 4);
        }
      }

      // Dragging the brush.
      const uint32_t* alphaGuard = nullptr;
      for (int s = 0; s <= n; ++s) {
        const Step st = steps[size_t(s)];
        for (int ty = 0; ty < H; ++ty) {
          const int iy = st.y + ty;
          if (iy < 0 || iy >= h) continue;
          const int t0 = std::max(tip->lo[size_t(ty)], -st.x);
          const int t1 = std::min(tip->hi[size_t(ty)], w - 1 - st.x);
          if (t0 > t1) continue;
          const int ix = st.x + t0;
          // Whole vectors where the picture allows: the tip's padding has no coverage.
          const int len = std::min((t1 - t0 + kStampVector) / kStampVector * kStampVector, w - ix);
          if (HasAlpha) alphaGuard = src + qsizetype(iy) * srcStride + ix;
          const size_t at = size_t(ty) * size_t(tip->stride) + size_t(t0);
          const uint8_t* covRow = &tip->cov[at];
          BlendStampSpan(dest + qsizetype(iy) * destStride + ix, covRow, &patch[at], alphaGuard,
                         len, op);
          if (evaluating) {
            uint8_t* mark = &touched[size_t(iy - by0) * size_t(boxW) + size_t(ix - bx0)];
            for (int q = 0; q < len; ++q) mark[q] |= covRow[q];
          }
        }
      }
      if (!evaluating) continue;

      // Keep the stroke only if it brings its pixels clearly closer to the photo.
      const int tx0 = std::max(0, bx0) / kTile, ty0 = std::max(0, by0) / kTile;
      const int64_t localTiles = int64_t(boxTiles) * boxTiles;
      std::fill_n(tileBefore.begin(), localTiles, 0);
      std::fill_n(tileAfter.begin(), localTiles, 0);
      int64_t before = 0, after = 0;
      int count = 0;
      for (int r = rowFirst; r <= rowLast; ++r) {
        const int lo = spanLo[size_t(r)], hi = spanHi[size_t(r)];
        if (lo > hi) continue;
        const int iy = r + by0;
        const uint32_t* srow = src + qsizetype(iy) * srcStride;
        const uint32_t* drow = dest + qsizetype(iy) * destStride;
        const uint32_t* brow = &backup[size_t(r) * size_t(boxW)] - bx0;
        const uint8_t* mrow = &touched[size_t(r) * size_t(boxW)] - bx0;
        const size_t lt0 = size_t(iy / kTile - ty0) * size_t(boxTiles);
        for (int x = lo; x <= hi;) {
          const int end = std::min(hi + 1, (x / kTile + 1) * kTile);
          const size_t lt = lt0 + size_t(x / kTile - tx0);
          const int64_t b = SpanError(brow + x, srow + x, mrow + x, end - x, count);
          int unused = 0;
          const int64_t a = SpanError(drow + x, srow + x, mrow + x, end - x, unused);
          tileBefore[lt] += b;
          tileAfter[lt] += a;
          before += b;
          after += a;
          x = end;
        }
      }
      const int centreTile = centreInside ? (cy / kTile) * tilesX + cx / kTile : -1;
      if (count > 0) {
        if (after * set.AcceptNumerator >= before * 256) {
          for (int r = rowFirst; r <= rowLast; ++r) {
            const int lo = spanLo[size_t(r)], hi = spanHi[size_t(r)];
            if (lo > hi) continue;
            std::memcpy(dest + qsizetype(r + by0) * destStride + lo,
                        &backup[size_t(r) * size_t(boxW) + size_t(lo - bx0)],
                        size_t(hi - lo + 1) * 4);
          }
          if (centreTile >= 0) ++visits[size_t(centreTile)];
        } else {
          const int tx1 = std::min(w - 1, bx0 + boxW - 1) / kTile;
          const int ty1 = std::min(h - 1, by0 + boxH - 1) / kTile;
          for (int ty = ty0; ty <= ty1; ++ty)
            for (int tx = tx0; tx <= tx1; ++tx) {
              const size_t lt = size_t(ty - ty0) * size_t(boxTiles) + size_t(tx - tx0);
              int64_t& e = tileError[size_t(ty) * size_t(tilesX) + size_t(tx)];
              e = std::max<int64_t>(0, e + tileAfter[lt] - tileBefore[lt]);
            }
          if (centreTile >= 0) visits[size_t(centreTile)] = 0;
        }
      }
      for (int r = rowFirst; r <= rowLast; ++r) {
        const int lo = spanLo[size_t(r)], hi = spanHi[size_t(r)];
        if (lo <= hi)
          std::memset(&touched[size_t(r) * size_t(boxW) + size_t(lo - bx0)], 0,
                      size_t(hi - lo + 1));
      }
    }
  }

  rng.Checkpoint([] { CheckCancellation(); });
  Dest.flush();
  SharpenSurface(nullptr, Dest, DoClear ? 40 : 10);
  if (set.Saturation != 0) VibrancePop(Dest.snapshot(), Dest, 0, set.Saturation, 0, 0, 100, false);
  if (HasAlpha) {
    // The painting takes the photo's outline: the source's alpha over the painted
    // colour, premultiplied as every picture is.
    Dest.flush();
    retakeDest();
    for (int y = 0; y < h; ++y) {
      uint32_t* r = dest + qsizetype(y) * destStride;
      const uint32_t* s = Source.row(y);
      for (int x = 0; x < w; ++x)
        r[x] = gfx::Premultiply((r[x] & 0x00FFFFFFu) | (s[x] & 0xFF000000u));
    }
  }
  Dest.flush();
  finish();
}

}  // namespace quillora
