#include "tools/texture_overlay.h"

#include "brushes/image_repository.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"
#include "engine/random.h"
#include "gfx/codec.h"
#include "gfx/parallel.h"
#include "gfx/pixel.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <vector>

namespace quillora {

namespace {

// Where a texture coordinate falls between two texels of one axis.
struct TexelSpan {
  int i0 = 0, i1 = 0;  // the two texels, wrapped into the texture
  double f = 0.0;      // weight of i1
};

// The texel spans of image coordinates 0 .. count-1 along one axis: the coordinate
// plus the offset, wrapped into the period, in texels.
std::vector<TexelSpan> AxisSpans(int count, int offset, int64_t period, float scale, int texels) {
  std::vector<TexelSpan> spans(size_t(std::max(0, count)));
  for (int i = 0; i < count; ++i) {
    const double u = double((int64_t(i) + offset) % period) / double(scale);
    const double whole = std::trunc(u);
    TexelSpan& s = spans[size_t(i)];
    s.i0 = int(int64_t(whole) % texels);
    s.i1 = (s.i0 + 1) % texels;
    s.f = u - whole;
  }
  return spans;
}

// round(texels x scale), at least 1. A period longer than any image is as good as an
// infinite one, which keeps a huge scale out of integer overflow.
int64_t Period(int texels, float scale) {
  const double p = std::nearbyint(double(texels) * double(scale));
  if (!(p > 0.0)) return 1;
  return p > 4.0e18 ? int64_t(4e18) : int64_t(p);
}

}  // namespace

gfx::Image ApplyTexture(const gfx::Image& image, const gfx::Image& texture, int strength,
                        float scale) {
  if (image.isEmpty() || texture.isEmpty()) return image;
  if (!(scale > 0.0f)) throw gfx::Error("Texture scale must be greater than 0");

  // Luminance of every texel, rounded half to even on the exact value, and its mean.
  const int tw = texture.width(), th = texture.height();
  std::vector<uint8_t> lum(size_t(tw) * size_t(th));
  int64_t sum = 0;
  for (int y = 0; y < th; ++y) {
    const uint32_t* row = texture.row(y);
    uint8_t* out = &lum[size_t(y) * size_t(tw)];
    for (int x = 0; x < tw; ++x) {
      const uint32_t p = row[x];
      const int l = int(RoundRatio(299 * int64_t(gfx::RedOf(p)) + 587 * int64_t(gfx::GreenOf(p)) +
                                       114 * int64_t(gfx::BlueOf(p)),
                                   1000));
      out[x] = uint8_t(l);
      sum += l;
    }
  }
  const int M = int(sum / (int64_t(tw) * int64_t(th)));

  const int d = Random(std::min(tw, th));
  const int64_t px = Period(tw, scale), py = Period(th, scale);
  if (strength == 0) return image;

  // shift[t][byte] = round(byte + strength / 100 x (M - t)), clamped to 0..255: the
  // decimal factor is taken exactly, in integers. Bilinear texels stay within 0..255.
  std::vector<uint8_t> shift(256 * 256);
  for (int t = 0; t < 256; ++t) {
    const int64_t k = int64_t(strength) * int64_t(M - t);
    for (int b = 0; b < 256; ++b)
      shift[size_t(t) * 256 + size_t(b)] =
          uint8_t(std::clamp<int64_t>(RoundRatio(100 * int64_t(b) + k, 100), 0, 255));
  }

  const int w = image.width(), h = image.height();
  // Along a row the texel values repeat every px pixels, so one period is sampled and
  // the rest of the row copies it.
  const int sampled = int(std::min<int64_t>(w, px));
  const std::vector<TexelSpan> cols = AxisSpans(sampled, d, px, scale, tw);
  const std::vector<TexelSpan> rows = AxisSpans(h, d, py, scale, th);

  QImage out = gfx::AllocateImage(w, h);
  uint8_t* outBits = out.bits();
  const qsizetype outStride = out.bytesPerLine();
  gfx::ParallelFor(
      h,
      [&](int y0, int y1) {
        std::vector<uint8_t> texels(static_cast<size_t>(w));
        for (int y = y0; y < y1; ++y) {
          const TexelSpan& ry = rows[size_t(y)];
          const uint8_t* L0 = &lum[size_t(ry.i0) * size_t(tw)];
          const uint8_t* L1 = &lum[size_t(ry.i1) * size_t(tw)];
          const double fy = ry.f, gy = 1.0 - fy;
          for (int x = 0; x < sampled; ++x) {
            const TexelSpan& cx = cols[size_t(x)];
            const double fx = cx.f, gx = 1.0 - fx;
            const double top = double(L0[cx.i0]) * gx + double(L0[cx.i1]) * fx;
            const double bottom = double(L1[cx.i0]) * gx + double(L1[cx.i1]) * fx;
            texels[size_t(x)] =
                uint8_t(std::clamp(int(std::nearbyint(top * gy + bottom * fy)), 0, 255));
          }
          for (int x = sampled; x < w; ++x) texels[size_t(x)] = texels[size_t(x - sampled)];

          const uint32_t* src = image.row(y);
          auto* dst = reinterpret_cast<uint32_t*>(outBits + qsizetype(y) * outStride);
          for (int x = 0; x < w; ++x) {
            const uint32_t p = src[x];
            const uint32_t a = gfx::AlphaOf(p);
            if (a == 0) {
              dst[x] = p;
              continue;
            }
            const uint8_t* s = &shift[size_t(texels[size_t(x)]) * 256];
            // Premultiplied colour never exceeds alpha: brightening a translucent pixel
            // stops at its alpha.
            const uint32_t r = std::min<uint32_t>(s[gfx::RedOf(p)], a);
            const uint32_t g = std::min<uint32_t>(s[gfx::GreenOf(p)], a);
            const uint32_t b = std::min<uint32_t>(s[gfx::BlueOf(p)], a);
            dst[x] = gfx::PackArgb(a, r, g, b);
          }
        }
      },
      64);
  return gfx::Image::FromQImage(out);
}

void InstallTextureOverlay() { SetTextureOverlayProc(&ApplyTexture); }

gfx::Image ResolveTexture(const QString& nameOrFile) {
  const std::vector<NamedImage> list = TForm3::Instance().ImageList(QStringLiteral("TextureList"));
  QStringList names;
  for (const NamedImage& item : list) {
    names << item.name;
    if (item.name.compare(nameOrFile.trimmed(), Qt::CaseInsensitive) != 0) continue;
    if (item.image.isEmpty())
      throw gfx::Error(
          QStringLiteral("the built-in texture %1 is missing").arg(item.name).toStdString());
    return item.image;
  }
  if (QFileInfo(nameOrFile).isFile()) {
    try {
      return gfx::DecodeImageFile(nameOrFile);
    } catch (const gfx::Error& e) {
      throw gfx::Error(QStringLiteral("cannot read texture %1: %2")
                           .arg(nameOrFile, QString::fromUtf8(e.what()))
                           .toStdString());
    }
  }
  QString known = names.join(QStringLiteral(", "));
  if (known.isEmpty()) known = QStringLiteral("none installed");
  throw gfx::Error(QStringLiteral("unknown texture %1: neither an image file nor a built-in "
                                  "texture (%2)")
                       .arg(nameOrFile, known)
                       .toStdString());
}

}  // namespace quillora
