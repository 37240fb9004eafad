#include "gfx/filters.h"

#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <QString>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace gfx {

namespace {

// ---------------------------------------------------------------------------------------
// Planes of 8-bit samples: BGRA words (4 bytes per pixel) or an alpha mask (1 byte). The
// code that walks a plane knows which.

struct PlaneView {
  const uint8_t* data = nullptr;
  qsizetype stride = 0;
  int width = 0;
  int height = 0;
};

struct MutablePlaneView {
  uint8_t* data = nullptr;
  qsizetype stride = 0;
  int width = 0;
  int height = 0;
  operator PlaneView() const { return {data, stride, width, height}; }
};

class OwnedPlane {
 public:
  OwnedPlane(int width, int height, int channels) {
    const size_t bytes = size_t(width) * size_t(height) * size_t(channels);
    try {
      pixels_ = std::make_unique_for_overwrite<uint8_t[]>(bytes);
    } catch (const std::bad_alloc&) {
      throw Error(QStringLiteral("Not enough memory to filter an image of %1 x %2 pixels")
                      .arg(width)
                      .arg(height)
                      .toStdString());
    }
    view_ = {pixels_.get(), qsizetype(width) * channels, width, height};
  }
  const MutablePlaneView& view() const { return view_; }

 private:
  std::unique_ptr<uint8_t[]> pixels_;
  MutablePlaneView view_;
};

PlaneView ViewOf(const Image& image) {
  return {reinterpret_cast<const uint8_t*>(image.row(0)), image.bytesPerLine(), image.width(),
          image.height()};
}

// bits() is taken once here, on the calling thread: QImage::scanLine() on a shared
// non-const image may detach, which must not happen inside parallel bands.
MutablePlaneView ViewOf(QImage& image) {
  return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
}

uint32_t* RowOf(const MutablePlaneView& p, int y) {
  return reinterpret_cast<uint32_t*>(p.data + qsizetype(y) * p.stride);
}

// Scratch vectors grow inside parallel bands; report exhaustion like every other
// allocation failure of the layer.
template <typename T>
void Resize(std::vector<T>& v, size_t n) {
  try {
    v.resize(n);
  } catch (const std::bad_alloc&) {
    throw Error("Not enough memory for the filter's working buffers");
  }
}

// ---------------------------------------------------------------------------------------
// Exact rounding division by a constant d: floor((n + d / 2) / d) for every n up to
// maxSum, as one multiplication and one shift. With N = n + d / 2,
// magic = floor(2^shift / d) + 1 and e = magic * d - 2^shift (0 < e <= d), the product
// N * magic / 2^shift exceeds N / d by N * e / (d * 2^shift). The fraction of N / d is
// at most 1 - 1 / d, so the floor is exact whenever N * e < 2^shift; init picks the
// smallest shift that proves this for the largest N.

using u128 = unsigned __int128;

struct RoundingDivider {
  uint64_t half = 0;
  uint64_t magic = 0;
  int shift = 0;

  // `productBits` is 64 (32-bit sums, magic below 2^32) or 128 (64-bit sums).
  bool init(uint64_t divisor, uint64_t maxSum, int productBits) {
    half = divisor / 2;
    const u128 maxN = u128(maxSum) + half;
    const int magicBits = productBits / 2;
    if (maxN >> magicBits) return false;
    for (int s = magicBits; s < productBits; ++s) {
      const u128 pow = u128(1) << s;
      const u128 m = pow / divisor + 1;
      if (m >> magicBits) return false;
      if (maxN * (m * divisor - pow) < pow) {
        magic = uint64_t(m);
        shift = s;
        return true;
      }
    }
    return false;
  }
};

// The divider applied to one sum. Copied by value into the line loops: the loops store
// bytes, which may alias anything, so fields read through a pointer would be reloaded
// for every lane and block vectorisation.
struct Divide32 {
  uint32_t half, magic;
  int shift;
  explicit Divide32(const RoundingDivider& d)
      : half(uint32_t(d.half)), magic(uint32_t(d.magic)), shift(d.shift) {}
  uint32_t operator()(uint32_t n) const {
    return uint32_t((uint64_t(n + half) * uint64_t(magic)) >> shift);
  }
};

struct Divide64 {
  uint64_t half, magic;
  int shift;
  explicit Divide64(const RoundingDivider& d) : half(d.half), magic(d.magic), shift(d.shift) {}
  uint32_t operator()(uint64_t n) const { return uint32_t((u128(n + half) * magic) >> shift); }
};

// ---------------------------------------------------------------------------------------
// One axis of a blur.

constexpr float kIdentitySigma = 0.03f;  // below this no weight off the centre survives
constexpr float kBoxSigma = 2.0f;        // from here three boxes approximate the Gaussian
constexpr float kMaxSigma = 532.0f;      // box width 1000: far beyond any picture's detail
constexpr int kWeightShift = 16;

struct AxisBlur {
  enum class Kind { Identity, Gaussian, Box } kind = Kind::Identity;
  int radius = 0;  // pixels reached on either side
  // Gaussian: 2 radius + 1 weights summing to exactly 1 << kWeightShift.
  std::vector<uint32_t> weights;
  // Box: the three widths and the divider by their product.
  int box[3] = {1, 1, 1};
  bool wideSums = false;  // 64-bit running sums (box widths above ~200)
  RoundingDivider divider;
};

AxisBlur MakeAxisBlur(float sigma) {
  AxisBlur f;
  if (!std::isfinite(sigma) || sigma <= kIdentitySigma) return f;
  sigma = std::min(sigma, kMaxSigma);
  if (sigma < kBoxSigma) {
    f.kind = AxisBlur::Kind::Gaussian;
    f.radius = int(std::ceil(3.0f * sigma));
    const int taps = 2 * f.radius + 1;
    std::vector<double> g(taps);
    double total = 0;
    for (int i = 0; i < taps; ++i) {
      const double t = i - f.radius;
      g[i] = std::exp(-t * t / (2.0 * double(sigma) * double(sigma)));
      total += g[i];
    }
    f.weights.resize(taps);
    uint32_t sum = 0;
    for (int i = 0; i < taps; ++i) {
      f.weights[i] = uint32_t(std::lround(g[i] / total * (1 << kWeightShift)));
      sum += f.weights[i];
    }
    // The centre takes the rounding remainder, so a flat area stays exactly flat and
    // the kernel stays symmetric.
    f.weights[f.radius] += (1u << kWeightShift) - sum;
    if (f.weights[f.radius] == (1u << kWeightShift)) f = AxisBlur();
    return f;
  }
  const double pi = 3.14159265358979323846;
  const int d = std::max(1, int(std::floor(double(sigma) * 3.0 * std::sqrt(2.0 * pi) / 4.0 + 0.5)));
  f.kind = AxisBlur::Kind::Box;
  f.box[0] = d;
  f.box[1] = d;
  f.box[2] = (d % 2 == 0) ? d + 1 : d;
  f.radius = (f.box[0] + f.box[1] + f.box[2] - 3) / 2;
  const uint64_t divisor = uint64_t(f.box[0]) * uint64_t(f.box[1]) * uint64_t(f.box[2]);
  const uint64_t maxSum = divisor * 255;
  if (!f.divider.init(divisor, maxSum, 64)) {
    f.wideSums = true;
    if (!f.divider.init(divisor, maxSum, 128)) throw Error("Blur radius out of range");
  }
  return f;
}

// ---------------------------------------------------------------------------------------
// Line filters. Both passes filter 64 independent byte lanes at a time, one cache line
// per element, so the inner loops are wide and vectorise: the vertical pass takes a strip
// of 16 BGRA (or 64 mask) columns, element i being row i of the strip; the horizontal
// pass takes a bundle of 16 (or 64) rows, element i being pixel i of every row,
// transposed into place. Lanes past the image edge in the last strip or bundle stay zero
// and are never written back. Each line sits in a contiguous buffer together with its
// extension outside the image, so the inner loops carry no bounds tests.

constexpr int kLanes = 64;

struct LineScratch {
  std::vector<uint8_t> buf;     // the line with its extension
  std::vector<uint8_t> result;  // the filtered line, kLanes bytes per element
  std::vector<uint32_t> rings32;
  std::vector<uint64_t> rings64;
};

// Buffer layout: `zeros` transparent elements (the box filter's empty history), `pad`
// elements of extension, the n elements of the line, `pad` elements of extension.
int ZerosOf(const AxisBlur& f) { return f.kind == AxisBlur::Kind::Box ? f.box[0] : 0; }

// Sizes the buffers for a line of n elements and returns where element 0 goes. A line
// that will not fill every lane is cleared first.
uint8_t* PrepareLine(const AxisBlur& f, int n, bool partial, LineScratch& s) {
  const int zeros = ZerosOf(f), pad = f.radius;
  Resize(s.buf, size_t(zeros + 2 * pad + n) * kLanes);
  Resize(s.result, size_t(n) * kLanes);
  uint8_t* line = s.buf.data() + size_t(zeros + pad) * kLanes;
  if (partial) std::memset(line, 0, size_t(n) * kLanes);
  return line;
}

// buf holds the line from element -radius on. Weights and pair sums are 16-bit values
// (only the centre weight of a near-identity kernel could reach 1 << 16, and such a
// kernel is the identity), so the products use the widening 16 x 16 -> 32 bit multiply.
void GaussianLine(const uint8_t* buf, int n, const AxisBlur& f, uint8_t* out) {
  const int r = f.radius;
  uint16_t w[16];  // radius <= 6 below kBoxSigma
  for (int t = 0; t <= r; ++t) w[t] = uint16_t(f.weights[t]);
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = buf + size_t(i) * kLanes;
    uint32_t acc[kLanes];
    const uint16_t wc = w[r];
    for (int c = 0; c < kLanes; ++c)
      acc[c] = (1u << (kWeightShift - 1)) + uint32_t(wc) * uint16_t(p[r * kLanes + c]);
    // Symmetric weights: one multiplication for each pair of mirrored taps.
    for (int t = 0; t < r; ++t) {
      const uint8_t* lo = p + t * kLanes;
      const uint8_t* hi = p + (2 * r - t) * kLanes;
      const uint16_t wt = w[t];
      for (int c = 0; c < kLanes; ++c)
        acc[c] += uint32_t(wt) * uint16_t(uint16_t(lo[c]) + uint16_t(hi[c]));
    }
    uint8_t* o = out + size_t(i) * kLanes;
    for (int c = 0; c < kLanes; ++c) o[c] = uint8_t(acc[c] >> kWeightShift);
  }
}

// buf holds box[0] zero elements, then the line from element -radius on, through
// n - 1 + radius. Three cascaded running sums: s0 over box[0] inputs, s1 over box[1]
// values of s0, s2 over box[2] values of s1; the rings keep the s0 and s1 values that
// leave the windows. s2 after feeding element k is the composite kernel centred on
// element k - radius. The zero prefix makes "nothing before the first fed element"
// true for the window of s0, so the sums are exact from the first step.
template <typename Sum, typename Divide>
void BoxLine(const uint8_t* buf, int n, const AxisBlur& f, const Divide div, Sum* ring1, Sum* ring2,
             uint8_t* out) {
  const int w0 = f.box[0], w1 = f.box[1], w2 = f.box[2];
  const int warmup = 2 * f.radius;
  Sum s0[kLanes] = {}, s1[kLanes] = {}, s2[kLanes] = {};
  std::fill(ring1, ring1 + size_t(w1) * kLanes, Sum(0));
  std::fill(ring2, ring2 + size_t(w2) * kLanes, Sum(0));
  const uint8_t* trail = buf;
  const uint8_t* lead = buf + size_t(w0) * kLanes;
  int i1 = 0, i2 = 0;
  auto step = [&]() {
    Sum* r1 = ring1 + size_t(i1) * kLanes;
    Sum* r2 = ring2 + size_t(i2) * kLanes;
    for (int c = 0; c < kLanes; ++c) {
      // Unsigned wrap-around cancels exactly: every sum is a true non-negative total.
      s0[c] += Sum(lead[c]) - Sum(trail[c]);
      s1[c] += s0[c] - r1[c];
      r1[c] = s0[c];
      s2[c] += s1[c] - r2[c];
      r2[c] = s1[c];
    }
    lead += kLanes;
    trail += kLanes;
    if (++i1 == w1) i1 = 0;
    if (++i2 == w2) i2 = 0;
  };
  for (int k = 0; k < warmup; ++k) step();
  for (int i = 0; i < n; ++i) {
    step();
    uint8_t result[kLanes];
    for (int c = 0; c < kLanes; ++c) result[c] = uint8_t(div(s2[c]));
    std::memcpy(out + size_t(i) * kLanes, result, kLanes);
  }
}

// Extends the prepared line (elements 0 .. n - 1 already in place) and filters it into
// s.result.
void FilterLine(const AxisBlur& f, TileMode tile, int n, LineScratch& s) {
  const int zeros = ZerosOf(f), pad = f.radius;
  uint8_t* buf = s.buf.data();
  uint8_t* left = buf + size_t(zeros) * kLanes;
  uint8_t* line = left + size_t(pad) * kLanes;
  uint8_t* right = line + size_t(n) * kLanes;
  std::memset(buf, 0, size_t(zeros) * kLanes);
  if (tile == TileMode::Decal) {
    std::memset(left, 0, size_t(pad) * kLanes);
    std::memset(right, 0, size_t(pad) * kLanes);
  } else {
    for (int i = 0; i < pad; ++i) {
      std::memcpy(left + size_t(i) * kLanes, line, kLanes);
      std::memcpy(right + size_t(i) * kLanes, line + size_t(n - 1) * kLanes, kLanes);
    }
  }
  if (f.kind == AxisBlur::Kind::Gaussian) {
    GaussianLine(buf, n, f, s.result.data());
    return;
  }
  const size_t ring1 = size_t(f.box[1]) * kLanes, ring2 = size_t(f.box[2]) * kLanes;
  if (f.wideSums) {
    Resize(s.rings64, ring1 + ring2);
    BoxLine<uint64_t>(buf, n, f, Divide64(f.divider), s.rings64.data(), s.rings64.data() + ring1,
                      s.result.data());
  } else {
    Resize(s.rings32, ring1 + ring2);
    BoxLine<uint32_t>(buf, n, f, Divide32(f.divider), s.rings32.data(), s.rings32.data() + ring1,
                      s.result.data());
  }
}

template <int Channels>
void BlurAxis(const PlaneView& src, const MutablePlaneView& dst, const AxisBlur& f, TileMode tile,
              bool vertical) {
  constexpr int group = kLanes / Channels;  // rows per bundle, columns per strip
  if (!vertical) {
    const int bundles = (src.height + group - 1) / group;
    ParallelFor(
        bundles,
        [&](int b0, int b1) {
          LineScratch scratch;
          for (int b = b0; b < b1; ++b) {
            const int y0 = b * group, rows = std::min(group, src.height - y0);
            uint8_t* line = PrepareLine(f, src.width, rows < group, scratch);
            for (int k = 0; k < rows; ++k) {
              const uint8_t* row = src.data + (y0 + k) * src.stride;
              for (int x = 0; x < src.width; ++x)
                std::memcpy(line + size_t(x) * kLanes + k * Channels, row + x * Channels, Channels);
            }
            FilterLine(f, tile, src.width, scratch);
            for (int k = 0; k < rows; ++k) {
              uint8_t* row = dst.data + (y0 + k) * dst.stride;
              for (int x = 0; x < src.width; ++x)
                std::memcpy(row + x * Channels,
                            scratch.result.data() + size_t(x) * kLanes + k * Channels, Channels);
            }
          }
        },
        1);
    return;
  }
  const int strips = (src.width + group - 1) / group;
  ParallelFor(
      strips,
      [&](int s0, int s1) {
        LineScratch scratch;
        for (int s = s0; s < s1; ++s) {
          const int x0 = s * group;
          const size_t bytes = size_t(std::min(group, src.width - x0)) * Channels;
          const bool partial = bytes < kLanes;
          // Copies of a constant kLanes bytes compile to a few moves; only the last strip
          // pays for a library call per row.
          auto copy = [partial, bytes](uint8_t* to, const uint8_t* from) {
            if (partial)
              std::memcpy(to, from, bytes);
            else
              std::memcpy(to, from, kLanes);
          };
          uint8_t* line = PrepareLine(f, src.height, partial, scratch);
          for (int y = 0; y < src.height; ++y)
            copy(line + size_t(y) * kLanes, src.data + y * src.stride + x0 * Channels);
          FilterLine(f, tile, src.height, scratch);
          for (int y = 0; y < src.height; ++y)
            copy(dst.data + y * dst.stride + x0 * Channels,
                 scratch.result.data() + size_t(y) * kLanes);
        }
      },
      1);
}

bool IsIdentity(const AxisBlur& f) { return f.kind == AxisBlur::Kind::Identity; }

// At least one axis must blur. x runs first, into a temporary plane when y follows.
template <int Channels>
void BlurPlaneInto(const PlaneView& src, const MutablePlaneView& dst, const AxisBlur& fx,
                   const AxisBlur& fy, TileMode tile) {
  if (!IsIdentity(fx) && !IsIdentity(fy)) {
    OwnedPlane tmp(src.width, src.height, Channels);
    BlurAxis<Channels>(src, tmp.view(), fx, tile, false);
    BlurAxis<Channels>(tmp.view(), dst, fy, tile, true);
  } else if (!IsIdentity(fx)) {
    BlurAxis<Channels>(src, dst, fx, tile, false);
  } else {
    BlurAxis<Channels>(src, dst, fy, tile, true);
  }
}

// ---------------------------------------------------------------------------------------
// Pixel vectors: four channels at once, in the word's memory order B, G, R, A, with GCC
// vector extensions. GCC scalarises conversions between bytes and wider lanes, so on x86 those
// few go through SSE2 unpack and pack instructions; elsewhere the generic form is used.
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));
typedef uint8_t Byte4 __attribute__((vector_size(4)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint8_t Byte8 __attribute__((vector_size(8)));

Float4 LoadPixel(const uint8_t* p) {
#if defined(__SSE2__)
  int32_t word;
  std::memcpy(&word, p, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
  return Float4(_mm_cvtepi32_ps(v));
#else
  Byte4 b;
  std::memcpy(&b, p, 4);
  return __builtin_convertvector(__builtin_convertvector(b, Int4), Float4);
#endif
}

// v holds 0..255 in every lane.
uint32_t PackPixel(Int4 v) {
#if defined(__SSE2__)
  __m128i w = __m128i(v);
  w = _mm_packs_epi32(w, w);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(w, w)));
#else
  const Byte4 b = __builtin_convertvector(v, Byte4);
  uint32_t word;
  std::memcpy(&word, &b, 4);
  return word;
#endif
}

// Two pixels (8 bytes) to 16-bit lanes and back; values stay within 0..255 on the way out.
U16x8 LoadPixelPair(const uint8_t* p) {
#if defined(__SSE2__)
  return U16x8(
      _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128()));
#else
  Byte8 b;
  std::memcpy(&b, p, 8);
  return __builtin_convertvector(b, U16x8);
#endif
}

void StorePixelPair(uint8_t* p, U16x8 v) {
#if defined(__SSE2__)
  const __m128i w = __m128i(v);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(w, w));
#else
  const Byte8 b = __builtin_convertvector(v, Byte8);
  std::memcpy(p, &b, 8);
#endif
}

Float4 Splat(float v) { return Float4{v, v, v, v}; }

// Clamps to lo..hi and rounds to nearest; NaN (from overflowing kernels) lands on lo.
Int4 RoundClamp(Float4 v, Float4 lo, Float4 hi) {
  v = v > lo ? v : lo;
  v = v < hi ? v : hi;
  return __builtin_convertvector(v + 0.5f, Int4);
}

// ---------------------------------------------------------------------------------------
// Matrix convolution.

struct Tap {
  int row;  // kernel row j
  int col;  // kernel column i
  float k;
};

struct ConvolutionPlan {
  int kw = 0, kh = 0, ox = 0, oy = 0;
  std::vector<Tap> taps;  // the non-zero entries, row-major
  float gain = 1, bias = 0;
  TileMode tile = TileMode::Clamp;
  bool convolveAlpha = true;
};

// Converts source row `sy` to floats (unpremultiplied unless alpha is convolved), with
// kw - 1 columns of extension, so that padded index x + i is source column x + i - ox.
void LoadConvolutionRow(const PlaneView& src, const ConvolutionPlan& plan, int sy, Float4* out) {
  const int padded = src.width + plan.kw - 1;
  if (plan.tile == TileMode::Decal && (sy < 0 || sy >= src.height)) {
    std::fill(out, out + padded, Splat(0));
    return;
  }
  sy = std::clamp(sy, 0, src.height - 1);
  const uint32_t* row = reinterpret_cast<const uint32_t*>(src.data + sy * src.stride);
  Float4* line = out + plan.ox;
  if (plan.convolveAlpha) {
    for (int x = 0; x < src.width; ++x)
      line[x] = LoadPixel(reinterpret_cast<const uint8_t*>(row + x));
  } else {
    for (int x = 0; x < src.width; ++x) {
      // Opaque pixels, the usual case, are their own unpremultiplied colour.
      const uint32_t p = AlphaOf(row[x]) == 255 ? row[x] : Unpremultiply(row[x]);
      line[x] = LoadPixel(reinterpret_cast<const uint8_t*>(&p));
    }
  }
  const bool decal = plan.tile == TileMode::Decal;
  const Float4 left = decal ? Splat(0) : line[0];
  const Float4 right = decal ? Splat(0) : line[src.width - 1];
  for (int i = 0; i < plan.ox; ++i) out[i] = left;
  for (int i = plan.ox + src.width; i < padded; ++i) out[i] = right;
}

// One output row. N > 0 fixes the tap count at compile time, so the taps live in
// registers (the 3 x 3 sharpen has five); N = 0 loops over any number.
// The sums use the same single-precision operations, in the same row-major order, as the
// dense definition: a skipped zero tap would only have added +0.
template <int N>
void ConvolveRow(const ConvolutionPlan& plan, const Float4* const* rows, int width,
                 const uint32_t* alphaRow, uint32_t* out) {
  constexpr int kMaxTaps = N > 0 ? N : 1;
  const int count = N > 0 ? N : int(plan.taps.size());
  const Float4* base[kMaxTaps];
  float k[kMaxTaps];
  if constexpr (N > 0) {
    for (int t = 0; t < N; ++t) {
      base[t] = rows[plan.taps[t].row] + plan.taps[t].col;
      k[t] = plan.taps[t].k;
    }
  }
  const Float4 gain = Splat(plan.gain), bias = Splat(plan.bias);
  const Float4 zero = Splat(0), full = Splat(255);
  const bool convolveAlpha = plan.convolveAlpha;
  for (int x = 0; x < width; ++x) {
    Float4 sum = zero;
    if constexpr (N > 0) {
      for (int t = 0; t < N; ++t) sum += base[t][x] * k[t];
    } else {
      for (int t = 0; t < count; ++t) {
        const Tap& tap = plan.taps[t];
        sum += rows[tap.row][x + tap.col] * tap.k;
      }
    }
    const Float4 v = sum * gain + bias;
    Int4 q = RoundClamp(v, zero, full);
    if (convolveAlpha) {
      // Colour may not exceed the convolved alpha (lane 3 bounds itself).
      const Int4 a = Int4{q[3], q[3], q[3], q[3]};
      q = q < a ? q : a;
    } else {
      // Premultiply by the source alpha, rounded to nearest as Premultiply does. In float
      // this is exact: c * alpha is exact, and c * alpha / 255 is never within float error
      // of a tie (its distance from k + 1/2 is at least 1/510). Lane 3 becomes alpha.
      const float alpha = float(AlphaOf(alphaRow[x]));
      const Float4 c = __builtin_convertvector(q, Float4);
      q = __builtin_convertvector(
          c * Float4{alpha, alpha, alpha, 0} / 255.0f + Float4{0.5f, 0.5f, 0.5f, alpha}, Int4);
    }
    out[x] = PackPixel(q);
  }
}

void ConvolveRows(const PlaneView& src, const MutablePlaneView& dst, const ConvolutionPlan& plan,
                  int y0, int y1) {
  const int padded = src.width + plan.kw - 1;
  std::vector<Float4> ringStore;
  Resize(ringStore, size_t(padded) * plan.kh);
  // Ring slot sy mod kh holds source row sy; each row is converted once per band.
  std::vector<int> loaded(plan.kh, INT_MIN);
  std::vector<const Float4*> rows(plan.kh);
  using RowFn =
      void (*)(const ConvolutionPlan&, const Float4* const*, int, const uint32_t*, uint32_t*);
  static constexpr RowFn kFixed[] = {ConvolveRow<0>, ConvolveRow<1>, ConvolveRow<2>, ConvolveRow<3>,
                                     ConvolveRow<4>, ConvolveRow<5>, ConvolveRow<6>, ConvolveRow<7>,
                                     ConvolveRow<8>, ConvolveRow<9>};
  const size_t taps = plan.taps.size();
  const RowFn convolve = taps < std::size(kFixed) ? kFixed[taps] : ConvolveRow<0>;
  for (int y = y0; y < y1; ++y) {
    for (int j = 0; j < plan.kh; ++j) {
      const int sy = y - plan.oy + j;
      const int slot = ((sy % plan.kh) + plan.kh) % plan.kh;
      Float4* r = ringStore.data() + size_t(slot) * padded;
      if (loaded[slot] != sy) {
        LoadConvolutionRow(src, plan, sy, r);
        loaded[slot] = sy;
      }
      rows[j] = r;
    }
    convolve(plan, rows.data(), src.width,
             reinterpret_cast<const uint32_t*>(src.data + y * src.stride), RowOf(dst, y));
  }
}

}  // namespace

// -----------------------------------------------------------------------------------------

Image GaussianBlur(const Image& src, float sigmaX, float sigmaY, TileMode tileMode) {
  if (src.isEmpty()) return Image();
  const AxisBlur fx = MakeAxisBlur(sigmaX);
  const AxisBlur fy = MakeAxisBlur(sigmaY);
  if (IsIdentity(fx) && IsIdentity(fy)) return src;
  QImage out = AllocateImage(src.width(), src.height());
  BlurPlaneInto<4>(ViewOf(src), ViewOf(out), fx, fy, tileMode);
  return Image::FromQImage(out);
}

Image MatrixConvolution(const Image& src, QSize kernelSize, std::span<const float> kernel,
                        float gain, float bias, QPoint kernelOffset, TileMode tileMode,
                        bool convolveAlpha) {
  const int kw = kernelSize.width(), kh = kernelSize.height();
  if (kw < 1 || kh < 1)
    throw Error(
        QStringLiteral("Invalid convolution kernel size %1 x %2").arg(kw).arg(kh).toStdString());
  if (kernel.size() != size_t(kw) * size_t(kh))
    throw Error(QStringLiteral("A %1 x %2 convolution kernel needs %3 values, not %4")
                    .arg(kw)
                    .arg(kh)
                    .arg(qint64(kw) * kh)
                    .arg(qint64(kernel.size()))
                    .toStdString());
  if (kernelOffset.x() < 0 || kernelOffset.x() >= kw || kernelOffset.y() < 0 ||
      kernelOffset.y() >= kh)
    throw Error(QStringLiteral("Convolution kernel offset (%1, %2) lies outside the kernel")
                    .arg(kernelOffset.x())
                    .arg(kernelOffset.y())
                    .toStdString());
  if (!std::isfinite(gain) || !std::isfinite(bias) ||
      !std::all_of(kernel.begin(), kernel.end(), [](float k) { return std::isfinite(k); }))
    throw Error("Convolution kernel, gain and bias must be finite numbers");
  if (src.isEmpty()) return Image();

  ConvolutionPlan plan;
  plan.kw = kw;
  plan.kh = kh;
  plan.ox = kernelOffset.x();
  plan.oy = kernelOffset.y();
  plan.gain = gain;
  plan.bias = bias;
  plan.tile = tileMode;
  plan.convolveAlpha = convolveAlpha;
  for (int j = 0; j < kh; ++j)
    for (int i = 0; i < kw; ++i)
      if (const float k = kernel[size_t(j) * kw + i]; k != 0.0f) plan.taps.push_back({j, i, k});

  const PlaneView in = ViewOf(src);
  QImage out = AllocateImage(src.width(), src.height());
  const MutablePlaneView dst = ViewOf(out);
  // Bands of at least 32 rows keep the kh - 1 rows each band converts twice cheap.
  ParallelFor(
      src.height(), [&](int y0, int y1) { ConvolveRows(in, dst, plan, y0, y1); }, 32);
  return Image::FromQImage(out);
}

Image ColorMatrix(const Image& src, const ColorMatrixValues& m) {
  if (!std::all_of(m.begin(), m.end(), [](float v) { return std::isfinite(v); }))
    throw Error("Colour matrix values must be finite numbers");
  if (src.isEmpty()) return Image();
  // Column c of the matrix as it acts on the output lanes B, G, R, A.
  auto column = [&m](int c) { return Float4{m[10 + c], m[5 + c], m[c], m[15 + c]}; };
  const Float4 byR = column(0), byG = column(1), byB = column(2), byA = column(3),
               offset = column(4);
  // The unpremultiplying factor 1 / alpha (alpha in 0..1) for every alpha byte; a
  // transparent pixel reads as transparent black.
  float unpremul[256];
  for (int a = 0; a < 256; ++a) {
    const float af = float(a) * (1.0f / 255.0f);
    unpremul[a] = a == 0 ? 0.0f : 1.0f / af;
  }
  QImage out = AllocateImage(src.width(), src.height());
  const MutablePlaneView dst = ViewOf(out);
  ParallelFor(src.height(), [&](int y0, int y1) {
    // Local copies: the loop's stores could otherwise alias the captured values.
    const Float4 r = byR, g = byG, b = byB, a = byA, o = offset;
    const Float4 zero = Splat(0), one = Splat(1);
    const int width = src.width();
    for (int y = y0; y < y1; ++y) {
      const uint8_t* s = reinterpret_cast<const uint8_t*>(src.row(y));
      uint32_t* d = RowOf(dst, y);
      for (int x = 0; x < width; ++x) {
        const Float4 level = LoadPixel(s + x * 4) * (1.0f / 255.0f);
        const Float4 c = level * unpremul[s[x * 4 + 3]];  // unpremultiplied colour
        Float4 v = r * c[2] + g * c[1] + b * c[0] + a * level[3] + o;
        v = v > zero ? v : zero;
        v = v < one ? v : one;
        const Float4 premul = v * Float4{v[3], v[3], v[3], 1.0f};
        d[x] = PackPixel(__builtin_convertvector(premul * 255.0f + 0.5f, Int4));
      }
    }
  });
  return Image::FromQImage(out);
}

namespace {

// Div255 on 16-bit lanes: products of two bytes plus the rounding stay below 2^16.
U16x8 Div255(U16x8 x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

Image Shadow(const Image& src, float dx, float dy, float sigmaX, float sigmaY, uint32_t argb,
             bool withSource) {
  if (!std::isfinite(dx) || !std::isfinite(dy))
    throw Error("Drop shadow offset must be finite numbers");
  if (src.isEmpty()) return Image();
  const int w = src.width(), h = src.height();

  // The shadow depends on alpha alone, so only alpha is blurred.
  OwnedPlane alpha(w, h, 1);
  const MutablePlaneView av = alpha.view();
  ParallelFor(h, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      const uint32_t* s = src.row(y);
      uint8_t* a = av.data + y * av.stride;
      for (int x = 0; x < w; ++x) a[x] = uint8_t(AlphaOf(s[x]));
    }
  });
  const AxisBlur fx = MakeAxisBlur(sigmaX);
  const AxisBlur fy = MakeAxisBlur(sigmaY);
  std::unique_ptr<OwnedPlane> blurred;
  PlaneView mask = av;
  if (!IsIdentity(fx) || !IsIdentity(fy)) {
    blurred = std::make_unique<OwnedPlane>(w, h, 1);
    BlurPlaneInto<1>(av, blurred->view(), fx, fy, TileMode::Decal);
    mask = blurred->view();
  }

  // Offset = whole pixels n plus a fraction in 1/256 steps; the shadow at x reads the mask
  // at x - dx, between columns x - n (weight 256 - f) and x - n - 1 (weight f). Offsets
  // beyond the image only need to stay beyond it.
  auto split = [](float d, int limit, int& whole, uint32_t& frac) {
    const double c = std::clamp(double(d), -double(limit) - 2.0, double(limit) + 2.0);
    whole = int(std::floor(c));
    frac = uint32_t(std::lround((c - whole) * 256.0));
    if (frac == 256) {
      ++whole;
      frac = 0;
    }
  };
  int nx, ny;
  uint32_t fxw, fyw;
  split(dx, w, nx, fxw);
  split(dy, h, ny, fyw);

  const uint32_t tint = Premultiply(argb);
  const U16x8 tint2 = {uint16_t(BlueOf(tint)),  uint16_t(GreenOf(tint)), uint16_t(RedOf(tint)),
                       uint16_t(AlphaOf(tint)), uint16_t(BlueOf(tint)),  uint16_t(GreenOf(tint)),
                       uint16_t(RedOf(tint)),   uint16_t(AlphaOf(tint))};
  QImage out = AllocateImage(w, h);
  const MutablePlaneView dst = ViewOf(out);
  ParallelFor(h, [&](int y0, int y1) {
    // column[sx + 1] = 256 x the mask at (sx, y - dy) for sx in -1 .. w, zero outside.
    std::vector<uint32_t> column;
    std::vector<uint8_t> shadow;
    Resize(column, size_t(w) + 2);
    Resize(shadow, size_t(w) + 1);  // + 1: the pair loop may read one past the end
    // Columns x whose two taps x - nx and x - nx - 1 can touch the mask.
    const int xa = std::clamp(nx, 0, w), xb = std::clamp(nx + w + 1, 0, w);
    for (int y = y0; y < y1; ++y) {
      const int ry0 = y - ny, ry1 = y - ny - 1;
      const uint8_t* m0 = (ry0 >= 0 && ry0 < h) ? mask.data + ry0 * mask.stride : nullptr;
      const uint8_t* m1 = (fyw && ry1 >= 0 && ry1 < h) ? mask.data + ry1 * mask.stride : nullptr;
      std::fill(shadow.begin(), shadow.end(), uint8_t(0));
      if (fxw == 0 && fyw == 0) {
        // Whole-pixel offset: a shifted copy of the mask row, x - nx within 0 .. w - 1.
        const int xe = std::clamp(nx + w, 0, w);
        if (m0 && xa < xe) std::memcpy(shadow.data() + xa, m0 + (xa - nx), size_t(xe - xa));
      } else if (m0 || m1) {
        std::fill(column.begin(), column.end(), 0u);
        uint32_t* c = column.data() + 1;
        if (m0)
          for (int sx = 0; sx < w; ++sx) c[sx] = (256 - fyw) * m0[sx];
        if (m1)
          for (int sx = 0; sx < w; ++sx) c[sx] += fyw * m1[sx];
        // Here x - nx runs over 0 .. w and x - nx - 1 over -1 .. w - 1, inside `column`.
        for (int x = xa; x < xb; ++x)
          shadow[x] =
              uint8_t(((256 - fxw) * column[x - nx + 1] + fxw * column[x - nx] + 32768) >> 16);
      }

      const uint8_t* s = reinterpret_cast<const uint8_t*>(src.row(y));
      uint8_t* d = reinterpret_cast<uint8_t*>(RowOf(dst, y));
      const U16x8 t = tint2;
      // Two pixels per step in eight 16-bit lanes; an odd last pixel goes through a
      // padded pair.
      auto pairAt = [&](int x, const uint8_t* from) {
        const U16x8 sa = {shadow[x],     shadow[x],     shadow[x],     shadow[x],
                          shadow[x + 1], shadow[x + 1], shadow[x + 1], shadow[x + 1]};
        U16x8 v = Div255(t * sa);
        if (withSource) {
          const U16x8 p = LoadPixelPair(from);
          const U16x8 keep = 255 - U16x8{p[3], p[3], p[3], p[3], p[7], p[7], p[7], p[7]};
          v = p + Div255(v * keep);
        }
        return v;
      };
      int x = 0;
      for (; x + 2 <= w; x += 2) StorePixelPair(d + x * 4, pairAt(x, s + x * 4));
      if (x < w) {
        uint8_t in[8] = {}, res[8];
        std::memcpy(in, s + x * 4, 4);
        StorePixelPair(res, pairAt(x, in));
        std::memcpy(d + x * 4, res, 4);
      }
    }
  });
  return Image::FromQImage(out);
}

}  // namespace

Image DropShadow(const Image& src, float dx, float dy, float sigmaX, float sigmaY, uint32_t argb) {
  return Shadow(src, dx, dy, sigmaX, sigmaY, argb, true);
}

Image DropShadowOnly(const Image& src, float dx, float dy, float sigmaX, float sigmaY,
                     uint32_t argb) {
  return Shadow(src, dx, dy, sigmaX, sigmaY, argb, false);
}

}  // namespace gfx
