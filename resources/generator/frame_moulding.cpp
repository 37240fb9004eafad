#include "frame_moulding.h"

#include <algorithm>
#include <cmath>

namespace assetgen::surface {

namespace {

Vec3 Normalize(Vec3 v) {
  const float n = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x * n, v.y * n, v.z * n};
}

float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Light from the upper left and in front, as in a room lit by a window; the viewer
// looks straight at the wall.
const Vec3 kLight = Normalize({-0.5f, -0.6f, 0.62f});
const Vec3 kHalfway = Normalize({kLight.x, kLight.y, kLight.z + 1.0f});
// Metal reflects the room: brightest where it faces the lit ceiling above.
const Vec3 kRoom = Normalize({-0.2f, -0.75f, 0.65f});

struct Sample {
  Place place;
  // Distance to the seam between this piece and its neighbour, pixels.
  float seam;
};

Sample Locate(float x, float y, float width, float height, float border, bool butt) {
  const float left = x, right = width - x, top = y, bottom = height - y;
  Sample s;
  s.place.x = x;
  s.place.y = y;
  if (butt) {
    // The top and bottom boards run the full width; the sides fit between them.
    if (top < border || bottom < border) {
      const bool isTop = top <= bottom;
      s.place = {isTop ? Side::Top : Side::Bottom, x, isTop ? top : bottom, width, x, y};
      s.seam = 1e9f;
    } else {
      const bool isLeft = left <= right;
      s.place = {isLeft ? Side::Left : Side::Right, y, isLeft ? left : right, height, x, y};
      s.seam = std::min(top - border, bottom - border);
    }
    return s;
  }
  // Mitres: each point belongs to the side whose outer edge is nearest.
  float d[4] = {top, bottom, left, right};
  int nearest = 0;
  for (int i = 1; i < 4; ++i)
    if (d[i] < d[nearest]) nearest = i;
  float second = 1e9f;
  for (int i = 0; i < 4; ++i)
    if (i != nearest) second = std::min(second, d[i]);
  const Side side = Side(nearest);
  const bool horizontal = side == Side::Top || side == Side::Bottom;
  s.place = {side, horizontal ? x : y, d[nearest], horizontal ? width : height, x, y};
  // The distance to the diagonal, measured across it.
  s.seam = (second - d[nearest]) * 0.70710678f;
  return s;
}

struct Rgb {
  float r = 0.0f, g = 0.0f, b = 0.0f;
};

Rgb Shade(const Moulding& m, const Sample& s, float border) {
  const Place& p = s.place;
  constexpr float e = 0.5f;
  auto at = [&](float along, float across) {
    Place q = p;
    q.along = along;
    q.across = std::clamp(across, 0.0f, border);
    return m.Height(q);
  };
  const float h = m.Height(p);
  const float hs0 = at(p.along - e, p.across), hs1 = at(p.along + e, p.across);
  const float hd0 = at(p.along, p.across - e), hd1 = at(p.along, p.across + e);
  const float gs = (hs1 - hs0) / (2.0f * e), gd = (hd1 - hd0) / (2.0f * e);
  // Along and across in picture axes: along runs +x on top and bottom, +y on the
  // sides; across points inwards.
  float gx = 0.0f, gy = 0.0f;
  switch (p.side) {
    case Side::Top:
      gx = gs, gy = gd;
      break;
    case Side::Bottom:
      gx = gs, gy = -gd;
      break;
    case Side::Left:
      gx = gd, gy = gs;
      break;
    case Side::Right:
      gx = -gd, gy = gs;
      break;
  }
  const Vec3 n = Normalize({-gx, -gy, 1.0f});
  // Hollows (where the profile curves upwards) see less of the room.
  const float curvature = (hd1 + hd0 - 2.0f * h) / (e * e);
  const float occlusion = std::clamp(1.0f - 0.9f * std::max(curvature, 0.0f), 0.55f, 1.0f);

  const Finish f = m.Surface(p);
  const float diffuse = std::max(Dot(n, kLight), 0.0f);
  const float highlight = f.specular * std::pow(std::max(Dot(n, kHalfway), 0.0f), f.shininess);
  Rgb c;
  if (f.metal > 0.0f) {
    const float room = 0.5f + 0.5f * Dot(n, kRoom);
    const float mirror = room * room;
    const float base = (0.1f + 0.4f * diffuse + 0.8f * mirror) * occlusion;
    const float tint = 0.55f;
    c.r = f.albedo.x * base + highlight * (tint * f.albedo.x + (1.0f - tint));
    c.g = f.albedo.y * base + highlight * (tint * f.albedo.y + (1.0f - tint));
    c.b = f.albedo.z * base + highlight * (tint * f.albedo.z + (1.0f - tint));
  } else {
    // Scaled so that a flat face shows its albedo: a white mat reads as white.
    const float base = (0.3f + 0.7f * diffuse / kLight.z) * occlusion;
    c.r = f.albedo.x * base + highlight;
    c.g = f.albedo.y * base + highlight;
    c.b = f.albedo.z * base + highlight;
  }
  // The hairline where two pieces meet.
  const float seam = m.Seam(p.across) * (1.0f - std::clamp(s.seam / 0.9f, 0.0f, 1.0f));
  const float dark = 1.0f - 0.55f * seam;
  c.r *= dark, c.g *= dark, c.b *= dark;
  return c;
}

// Shadow alpha at `distance` pixels inside the sight edge.
float ShadowAt(float distance, float reach, float alpha) {
  if (reach <= 0.0f || distance >= reach) return 0.0f;
  const float t = 1.0f - std::max(distance, 0.0f) / reach;
  return alpha * t * t * t;
}

}  // namespace

float BorderFor(int width, int height, float transparent, float shadowTopLeft,
                float shadowBottomRight) {
  // (w - c b)(h - c b) = transparent w h, with c = 2 plus the shadow reaches.
  const double w = width, h = height, c = 2.0 + shadowTopLeft + shadowBottomRight;
  const double sum = w + h;
  return float((sum - std::sqrt(sum * sum - 4.0 * (1.0 - transparent) * w * h)) / (2.0 * c));
}

QImage RenderFrame(int width, int height, float border, const Moulding& moulding,
                   const InnerShadow& shadow) {
  QImage image(width, height, QImage::Format_ARGB32);
  const float w = float(width), h = float(height);
  const float inLeft = border, inRight = w - border, inTop = border, inBottom = h - border;
  const bool butt = moulding.ButtJoints();
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
      // The share of the pixel inside the window; the sight edge lies between pixel
      // centres when the border is fractional, which anti-aliases it.
      const float ox =
          std::clamp(std::min(cx + 0.5f, inRight) - std::max(cx - 0.5f, inLeft), 0.0f, 1.0f);
      const float oy =
          std::clamp(std::min(cy + 0.5f, inBottom) - std::max(cy - 0.5f, inTop), 0.0f, 1.0f);
      const float window = ox * oy;
      // The shadow on the picture, from each side, combined like stacked glazes.
      float shade = 0.0f;
      if (window > 0.0f) {
        const float fromSides[4] = {ShadowAt(cy - inTop, shadow.reachTopLeft, shadow.alpha),
                                    ShadowAt(cx - inLeft, shadow.reachTopLeft, shadow.alpha),
                                    ShadowAt(inBottom - cy, shadow.reachBottomRight, shadow.alpha),
                                    ShadowAt(inRight - cx, shadow.reachBottomRight, shadow.alpha)};
        float clear = 1.0f;
        for (float a : fromSides) clear *= 1.0f - a;
        shade = 1.0f - clear;
      }
      if (window >= 1.0f) {
        const int a = int(std::lround(shade * 255.0f));
        line[x] = a > 0 ? qRgba(0, 0, 0, a) : 0u;
        continue;
      }
      // The frame's colour: near a mitre several samples, so the seam and the change of
      // grain are smooth; points are kept on the moulding side of the sight edge.
      const Sample centre = Locate(cx, cy, w, h, border, butt);
      const int n = centre.seam < 2.0f ? 3 : 1;
      Rgb sum;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          const float sx = n == 1 ? cx : float(x) + (float(i) + 0.5f) / float(n);
          const float sy = n == 1 ? cy : float(y) + (float(j) + 0.5f) / float(n);
          Sample s = Locate(sx, sy, w, h, border, butt);
          s.place.across = std::min(s.place.across, border - 0.01f);
          const Rgb c = Shade(moulding, s, border);
          sum.r += c.r, sum.g += c.g, sum.b += c.b;
        }
      const float cover = 1.0f - window;
      const float inv = 1.0f / float(n * n);
      // Premultiplied: the frame over the window's shadow.
      const float alpha = cover + shade * (1.0f - cover);
      auto channel = [&](float v) {
        const float premultiplied = std::clamp(v * inv, 0.0f, 1.0f) * cover;
        return int(std::clamp(std::lround(255.0f * premultiplied / alpha), 0l, 255l));
      };
      line[x] =
          qRgba(channel(sum.r), channel(sum.g), channel(sum.b), int(std::lround(alpha * 255.0f)));
    }
  }
  return image;
}

}  // namespace assetgen::surface
