// The built-in frames: seven mouldings of different character, and the working frame
// of the frame tool (the same picture as the second of them).
//
// Every frame leaves about four fifths of its picture fully transparent: the border
// is solved for that share after the soft shadow inside the sight edge is taken off.
#include "assets.h"
#include "frame_moulding.h"
#include "noise.h"
#include "rng.h"
#include "surface_tools.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace assetgen {

namespace {

using namespace surface;

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTransparentShare = 0.8f;

float Lerp(float a, float b, float t) { return a + (b - a) * t; }
Vec3 Mix(Vec3 a, Vec3 b, float t) {
  return {Lerp(a.x, b.x, t), Lerp(a.y, b.y, t), Lerp(a.z, b.z, t)};
}
Vec3 Scale(Vec3 a, float k) { return {a.x * k, a.y * k, a.z * k}; }
float Fract(float v) { return v - std::floor(v); }

// A moulding's cross-section as a run of simple shapes, in units of the border width
// (position) and of the border width again (height), so that a design keeps its
// proportions on every size of frame.
enum class Shape {
  Line,   // straight from h0 to h1
  Round,  // convex: a quarter round from h0 to h1
  Cove,   // concave: a hollow from h0 to h1
  Bead,   // a half round of height `bump` standing on the line from h0 to h1
  Ogee,   // an S-curve from h0 to h1
};

struct Segment {
  float u1;  // where the segment ends; it starts where the one before ended
  Shape shape;
  float h0, h1;
  float bump = 0.0f;
};

struct ProfilePoint {
  float height;  // in units of the border
  int segment;
  float t;  // 0..1 across the segment
};

ProfilePoint Evaluate(const std::vector<Segment>& profile, float u) {
  float u0 = 0.0f;
  for (size_t i = 0; i < profile.size(); ++i) {
    const Segment& s = profile[i];
    if (u <= s.u1 || i + 1 == profile.size()) {
      const float t = std::clamp((u - u0) / std::max(s.u1 - u0, 1e-6f), 0.0f, 1.0f);
      const bool rising = s.h1 > s.h0;
      float k = t;
      switch (s.shape) {
        case Shape::Line:
          break;
        case Shape::Round:
          k = rising ? std::sin(0.5f * kPi * t) : 1.0f - std::cos(0.5f * kPi * t);
          break;
        case Shape::Cove:
          k = rising ? 1.0f - std::cos(0.5f * kPi * t) : std::sin(0.5f * kPi * t);
          break;
        case Shape::Bead:
          break;
        case Shape::Ogee:
          k = t * t * (3.0f - 2.0f * t);
          break;
      }
      float height = Lerp(s.h0, s.h1, k);
      if (s.shape == Shape::Bead)
        height += s.bump * std::sqrt(std::max(0.0f, 1.0f - (2.0f * t - 1.0f) * (2.0f * t - 1.0f)));
      return {height, int(i), t};
    }
    u0 = s.u1;
  }
  return {0.0f, 0, 0.0f};
}

// Wood as seen on the face of a moulding: growth rings cut at a shallow angle show as
// long wavy stripes along the piece, pores as dark flecks drawn out along the grain,
// rays (in oak) as short light flakes, and the whole piece varies a little in tone.
struct WoodLook {
  Vec3 light, dark;
  float ringSpacing;  // pixels
  float pores;        // 0..1
  float rays;         // 0..1
  float figure;       // tone variation along the piece, 0..1
  uint32_t seed;
};

Vec3 WoodColour(const WoodLook& w, Side side, float along, float across) {
  // Each side is cut from its own stretch of board.
  const int piece = int(side);
  const uint32_t seed = HashPoint(piece, 77, w.seed);
  const float a = along + 3000.0f * float(piece);
  const float warp = 40.0f * (ValueNoise1(a / 700.0f, seed) - 0.5f) +
                     10.0f * (ValueNoise1(a / 130.0f, seed ^ 0x11u) - 0.5f);
  const float ring =
      (across + warp + 7.0f * ValueNoise2(a / 260.0f, across / 50.0f, seed ^ 0x22u)) /
      w.ringSpacing;
  const float f = Fract(ring);
  // Dense late wood: a dark band at the end of each year's growth.
  const float late = SmoothStep(0.55f, 0.85f, f) * (1.0f - SmoothStep(0.92f, 1.0f, f));
  const float pore = SmoothStep(0.64f, 0.86f, ValueNoise2(a / 16.0f, across / 0.9f, seed ^ 0x33u));
  const float figure = ValueNoise2(a / 340.0f, across / 90.0f, seed ^ 0x44u);
  float t = 0.5f * late + w.pores * 0.45f * pore + w.figure * (figure - 0.5f) + 0.2f;
  Vec3 c = Mix(w.light, w.dark, std::clamp(t, 0.0f, 1.0f));
  if (w.rays > 0.0f) {
    const float ray = SmoothStep(0.78f, 0.9f, ValueNoise2(a / 9.0f, across / 1.7f, seed ^ 0x55u));
    c = Mix(c, Scale(w.light, 1.08f), w.rays * ray);
  }
  return c;
}

// Gold leaf over red bole: the leaf wears through on the high points and dirt settles
// in the hollows.
Finish Gilt(float wear, float grime, float variation) {
  const Vec3 gold{0.93f, 0.72f, 0.36f};
  const Vec3 bole{0.50f, 0.22f, 0.12f};
  const Vec3 dirt{0.22f, 0.16f, 0.09f};
  Vec3 c = Mix(gold, bole, std::clamp(wear, 0.0f, 1.0f));
  c = Mix(c, dirt, std::clamp(grime, 0.0f, 1.0f));
  c = Scale(c, 0.94f + 0.12f * variation);
  const float leaf = 1.0f - std::clamp(wear, 0.0f, 1.0f);
  return {c, 0.9f * leaf + 0.1f, 18.0f, leaf};
}

// A mat board surface: a faint cloudiness of the board in picture coordinates (the mat
// is one board, so it runs straight through the corners). Kept smooth: a pixel-fine
// grain this faint would not show, but would double the size of the picture.
float MatGrain(float x, float y, uint32_t seed) {
  return 0.016f * (ValueNoise2(x / 9.0f, y / 9.0f, seed) - 0.5f) +
         0.012f * (ValueNoise2(x / 40.0f, y / 40.0f, seed ^ 0x66u) - 0.5f);
}

// How much of the room's light a mat loses in the shadow of what stands above it at
// `step` pixels outside this point; the upper and left sides are in the shadow of
// their frame, the lower and right ones barely.
float StepShadow(Side side, float distance, float depth) {
  const bool shaded = side == Side::Top || side == Side::Left;
  const float reach = depth * (shaded ? 1.0f : 0.25f);
  if (distance < 0.0f || reach <= 0.0f) return 1.0f;
  return 1.0f - (shaded ? 0.35f : 0.15f) * std::exp(-distance / reach);
}

// Frame 1: dark walnut with a rounded outer edge, a broad top sloping inwards, a deep
// cove, a bead and a narrow gilt slip at the sight edge.
class Walnut : public Moulding {
 public:
  explicit Walnut(float border) : b_(border) {}
  float Height(const Place& p) const override {
    return b_ * Evaluate(profile_, p.across / b_).height;
  }
  Finish Surface(const Place& p) const override {
    const ProfilePoint pp = Evaluate(profile_, p.across / b_);
    if (pp.segment == 5) {
      const float rub =
          SmoothStep(0.55f, 0.85f, ValueNoise2(p.along / 40.0f, p.across / 3.0f, 901));
      return Gilt(0.3f * rub, 0.0f, ValueNoise2(p.along / 15.0f, 0.0f, 902));
    }
    return {WoodColour(wood_, p.side, p.along, p.across), 0.35f, 40.0f, 0.0f};
  }

 private:
  float b_;
  WoodLook wood_{{0.36f, 0.22f, 0.13f}, {0.14f, 0.08f, 0.045f}, 9.0f, 0.8f, 0.0f, 0.4f, 0xA1u};
  std::vector<Segment> profile_{
      {0.09f, Shape::Round, 0.12f, 0.24f},        {0.50f, Shape::Line, 0.24f, 0.21f},
      {0.76f, Shape::Cove, 0.21f, 0.08f},         {0.80f, Shape::Line, 0.08f, 0.08f},
      {0.88f, Shape::Bead, 0.08f, 0.08f, 0.045f}, {1.00f, Shape::Round, 0.07f, 0.03f},
  };
};

// The period of an ornament repeated along a side: close to `wanted`, fitting the side
// a whole number of times from its centre, so the ornament is mirror-symmetric about
// the centre and meets the corners the same way at both ends.
float FittedPeriod(float length, float wanted) {
  return length / (2.0f * std::max(1.0f, std::round(length / (2.0f * wanted))));
}

// Position along a side, mirrored about its centre.
float Mirrored(const Place& p) { return std::min(p.along, p.length - p.along); }

// Frame 2, the working frame: a gilt moulding with a rope-twisted torus, a hollow, a
// band of egg-and-dart and a bead-and-reel at the sight edge. Leaf is rubbed through
// to the red bole on the high points and grimy in the hollows.
class GoldOrnate : public Moulding {
 public:
  explicit GoldOrnate(float border) : b_(border) {}
  float Height(const Place& p) const override {
    const ProfilePoint pp = Evaluate(profile_, p.across / b_);
    return b_ * (pp.height + Ornament(p, pp).height);
  }
  Finish Surface(const Place& p) const override {
    const ProfilePoint pp = Evaluate(profile_, p.across / b_);
    const Relief r = Ornament(p, pp);
    const float speckle = ValueNoise2(p.along / 6.0f, p.across / 6.0f, 211);
    const float rubbing = ValueNoise2(p.along / 55.0f, p.across / 20.0f, 212);
    const float wear = SmoothStep(0.6f, 1.0f, r.peak) * SmoothStep(0.4f, 0.8f, rubbing) * 0.8f +
                       (pp.segment == 0 ? 0.35f * SmoothStep(0.5f, 0.9f, rubbing) : 0.0f);
    const float hollow = pp.segment == 2 ? 0.35f * std::sin(kPi * pp.t) : 0.0f;
    const float grime = (0.55f * r.recess + hollow) * (0.6f + 0.4f * speckle);
    return Gilt(wear, grime, ValueNoise2(p.along / 30.0f, p.across / 12.0f, 213));
  }

 private:
  struct Relief {
    float height = 0.0f;  // in units of the border
    float peak = 0.0f;    // 0..1, how near the top of an ornament
    float recess = 0.0f;  // 0..1, how deep between ornaments
  };

  Relief Ornament(const Place& p, const ProfilePoint& pp) const {
    Relief r;
    if (pp.segment == 1) {
      // Rope: ribs twisting round the torus.
      const float rib = std::cos(2.0f * kPi * (p.along / (0.16f * b_) + 1.3f * pp.t));
      r.height = 0.018f * rib * std::sin(kPi * pp.t);
      r.peak = 0.5f * std::max(rib, 0.0f) * std::sin(kPi * pp.t);
      r.recess = 0.5f * std::max(-rib, 0.0f) * std::sin(kPi * pp.t);
    } else if (pp.segment == 3) {
      // Egg and dart: an egg in its shell, then a dart pointing to the sight edge.
      const float period = FittedPeriod(p.length, 0.3f * b_);
      const float phase = Fract(Mirrored(p) / period);
      const float ex = (phase - 0.5f) / 0.3f, ey = (pp.t - 0.5f) / 0.4f;
      const float er = std::sqrt(ex * ex + ey * ey);
      const float egg = er < 1.0f ? std::sqrt(1.0f - er * er) : 0.0f;
      const float shell = std::max(0.0f, 1.0f - std::pow((er - 1.16f) / 0.1f, 2.0f));
      const float toDart = std::min(phase, 1.0f - phase);
      const float dartWidth = 0.07f * (1.05f - pp.t);
      const float dart =
          (pp.t > 0.08f && pp.t < 0.92f) ? std::max(0.0f, 1.0f - toDart / dartWidth) : 0.0f;
      const float relief = std::max({egg, 0.55f * shell, 0.7f * dart});
      r.height = 0.075f * relief - 0.015f;
      r.peak = std::max(egg * egg, 0.8f * dart);
      r.recess = 1.0f - SmoothStep(0.0f, 0.25f, relief);
    } else if (pp.segment == 5) {
      // Bead and reel: an oval bead, then two thin discs.
      const float period = FittedPeriod(p.length, 0.2f * b_);
      const float phase = Fract(Mirrored(p) / period);
      const float by = 2.0f * pp.t - 1.0f;
      const float bx = (phase - 0.38f) / 0.3f;
      const float br = bx * bx + by * by;
      const float bead = br < 1.0f ? std::sqrt(1.0f - br) : 0.0f;
      float reel = 0.0f;
      for (float centre : {0.77f, 0.91f}) {
        const float rx = std::fabs(phase - centre) / 0.045f;
        if (rx < 1.0f)
          reel =
              std::max(reel, (1.0f - rx * rx) * std::sqrt(std::max(0.0f, 1.0f - 0.6f * by * by)));
      }
      const float relief = std::max(bead, 0.7f * reel);
      r.height = 0.05f * relief;
      r.peak = bead * bead;
      r.recess = 1.0f - SmoothStep(0.0f, 0.3f, relief);
    }
    return r;
  }

  float b_;
  std::vector<Segment> profile_{
      {0.05f, Shape::Round, 0.10f, 0.14f}, {0.36f, Shape::Bead, 0.14f, 0.20f, 0.12f},
      {0.44f, Shape::Cove, 0.20f, 0.11f},  {0.72f, Shape::Line, 0.11f, 0.11f},
      {0.80f, Shape::Line, 0.11f, 0.10f},  {0.95f, Shape::Line, 0.08f, 0.07f},
      {1.00f, Shape::Round, 0.06f, 0.02f},
  };
};

// Frame 3: pale oak, a broad flat face with a soft outer round and a chamfer into the
// sight; open pores and the silvery flakes of the rays.
class LightOak : public Moulding {
 public:
  explicit LightOak(float border) : b_(border) {}
  float Height(const Place& p) const override {
    return b_ * Evaluate(profile_, p.across / b_).height;
  }
  Finish Surface(const Place& p) const override {
    return {WoodColour(wood_, p.side, p.along, p.across), 0.15f, 20.0f, 0.0f};
  }

 private:
  float b_;
  WoodLook wood_{{0.74f, 0.58f, 0.39f}, {0.50f, 0.36f, 0.22f}, 7.0f, 1.0f, 0.6f, 0.3f, 0xB3u};
  std::vector<Segment> profile_{
      {0.07f, Shape::Round, 0.06f, 0.16f},
      {0.80f, Shape::Line, 0.16f, 0.15f},
      {1.00f, Shape::Line, 0.15f, 0.04f},
  };
};

// Frame 4: brushed aluminium with a silver finish, a rounded outer edge, a groove and a
// bead, and a bevel down into the sight.
class BrushedSilver : public Moulding {
 public:
  explicit BrushedSilver(float border) : b_(border) {}
  float Height(const Place& p) const override {
    return b_ * Evaluate(profile_, p.across / b_).height;
  }
  Finish Surface(const Place& p) const override {
    const uint32_t seed = HashPoint(int(p.side), 5, 0xC4u);
    // Brushing marks run along the piece: long faint streaks and shorter fine ones.
    const float streak = 0.12f * (ValueNoise2(p.along / 220.0f, p.across * 1.3f, seed) - 0.5f) +
                         0.09f * (ValueNoise2(p.along / 35.0f, p.across * 2.7f, seed ^ 1u) - 0.5f);
    const Vec3 silver{0.70f, 0.71f, 0.73f};
    return {Scale(silver, 1.0f + streak), 0.35f, 30.0f, 1.0f};
  }

 private:
  float b_;
  std::vector<Segment> profile_{
      {0.12f, Shape::Round, 0.08f, 0.28f}, {0.55f, Shape::Line, 0.28f, 0.26f},
      {0.63f, Shape::Cove, 0.26f, 0.17f},  {0.72f, Shape::Bead, 0.17f, 0.17f, 0.05f},
      {1.00f, Shape::Line, 0.16f, 0.03f},
  };
};

// Frame 5: a thin satin-black frame around a white mat with a bevelled window whose
// white core catches the light.
class BlackFrameWhiteMat : public Moulding {
 public:
  explicit BlackFrameWhiteMat(float border) : b_(border) {}
  float Height(const Place& p) const override {
    return b_ * Evaluate(profile_, p.across / b_).height;
  }
  Finish Surface(const Place& p) const override {
    const ProfilePoint pp = Evaluate(profile_, p.across / b_);
    if (pp.segment <= 2) {
      // Black paint over wood: the grain shows faintly in the sheen.
      const Vec3 grain = WoodColour(wood_, p.side, p.along, p.across);
      return {Mix({0.045f, 0.043f, 0.04f}, grain, 0.06f), 0.4f, 45.0f, 0.0f};
    }
    if (pp.segment == 3) {
      const float shade = StepShadow(p.side, p.across - kFrameEdge * b_, 0.06f * b_);
      const float grain = 1.0f + MatGrain(p.x, p.y, 0x5Au);
      return {Scale({0.95f, 0.94f, 0.91f}, grain * shade), 0.0f, 1.0f, 0.0f};
    }
    return {{0.99f, 0.985f, 0.97f}, 0.0f, 1.0f, 0.0f};
  }
  float Seam(float across) const override { return across < kFrameEdge * b_ ? 1.0f : 0.0f; }

 private:
  static constexpr float kFrameEdge = 0.2f;
  float b_;
  WoodLook wood_{{0.5f, 0.4f, 0.3f}, {0.2f, 0.15f, 0.1f}, 8.0f, 0.8f, 0.0f, 0.3f, 0xD5u};
  std::vector<Segment> profile_{
      {0.06f, Shape::Round, 0.10f, 0.24f},      {0.14f, Shape::Line, 0.24f, 0.23f},
      {kFrameEdge, Shape::Round, 0.23f, 0.09f}, {0.965f, Shape::Line, 0.03f, 0.03f},
      {1.00f, Shape::Line, 0.03f, 0.0f},
  };
};

// Frame 6: rough barn wood, boards butted at the corners and nailed, grey and
// weathered, with the soft grain worn into furrows, a few cracks and darker patches
// where the old brown survives.
class BarnWood : public Moulding {
 public:
  explicit BarnWood(float border) : b_(border) {}
  bool ButtJoints() const override { return true; }
  float Height(const Place& p) const override {
    const float u = p.across / b_;
    float h = Evaluate(profile_, u).height;
    const uint32_t seed = HashPoint(int(p.side), 6, 0xE6u);
    // Boards cup a little as they dry.
    h -= 0.02f * std::sin(kPi * std::clamp(u, 0.0f, 1.0f));
    // The soft early wood wears away and leaves the late wood standing.
    h -= 0.035f * Furrow(p, seed);
    h -= 0.09f * Crack(p, seed);
    h += 0.03f * Nail(p);
    return b_ * h;
  }
  Finish Surface(const Place& p) const override {
    const uint32_t seed = HashPoint(int(p.side), 6, 0xE6u);
    Vec3 c = WoodColour(wood_, p.side, p.along, p.across);
    const float brown =
        SmoothStep(0.55f, 0.8f, ValueNoise2(p.along / 120.0f, p.across / 40.0f, seed ^ 7u));
    c = Mix(c, {0.42f, 0.31f, 0.21f}, 0.6f * brown);
    c = Scale(c, 1.0f - 0.35f * Furrow(p, seed) - 0.6f * Crack(p, seed));
    const float nail = Nail(p);
    if (nail > 0.0f) c = Mix(c, {0.2f, 0.18f, 0.17f}, std::min(1.0f, 3.0f * nail));
    const float rust = NailHalo(p);
    c = Mix(c, {0.45f, 0.25f, 0.12f}, 0.5f * rust);
    return {c, 0.04f, 8.0f, 0.0f};
  }

 private:
  float Furrow(const Place& p, uint32_t seed) const {
    return SmoothStep(0.55f, 0.85f, ValueNoise2(p.along / 60.0f, p.across / 2.4f, seed));
  }
  // Cracks run along the grain for a stretch and close up again.
  float Crack(const Place& p, uint32_t seed) const {
    const float line =
        0.5f * b_ + 0.35f * b_ * (ValueNoise1(p.along / 400.0f, seed ^ 3u) - 0.5f) * 2.0f;
    const float open = SmoothStep(0.6f, 0.8f, ValueNoise1(p.along / 150.0f, seed ^ 4u));
    const float width = 1.4f * open;
    return width > 0.0f ? std::max(0.0f, 1.0f - std::fabs(p.across - line) / (width + 0.3f)) * open
                        : 0.0f;
  }
  // Two nails through each end of the top and bottom boards into the side boards.
  float NailDistance(const Place& p) const {
    if (p.side != Side::Top && p.side != Side::Bottom) return 1e9f;
    float best = 1e9f;
    for (float along : {0.5f * b_, p.length - 0.5f * b_})
      for (float across : {0.3f * b_, 0.7f * b_})
        best = std::min(best, std::hypot(p.along - along, p.across - across));
    return best;
  }
  float Nail(const Place& p) const {
    const float r = NailDistance(p) / (0.06f * b_);
    return r < 1.0f ? std::sqrt(1.0f - r * r) : 0.0f;
  }
  float NailHalo(const Place& p) const {
    const float r = NailDistance(p) / (0.06f * b_);
    return r < 1.0f ? 0.0f : std::exp(-(r - 1.0f) * 1.5f);
  }

  float b_;
  WoodLook wood_{{0.62f, 0.58f, 0.52f}, {0.30f, 0.27f, 0.23f}, 13.0f, 0.6f, 0.0f, 0.6f, 0xE6u};
  std::vector<Segment> profile_{
      {0.08f, Shape::Round, 0.12f, 0.25f},
      {0.90f, Shape::Line, 0.25f, 0.24f},
      {1.00f, Shape::Round, 0.24f, 0.10f},
  };
};

// Frame 7: a dark espresso-stained frame around a double mat: a cream top mat with a
// white-core bevel over a narrow burgundy mat with a black-core bevel.
class DoubleMat : public Moulding {
 public:
  explicit DoubleMat(float border) : b_(border) {}
  float Height(const Place& p) const override {
    return b_ * Evaluate(profile_, p.across / b_).height;
  }
  Finish Surface(const Place& p) const override {
    const ProfilePoint pp = Evaluate(profile_, p.across / b_);
    const float grain = 1.0f + MatGrain(p.x, p.y, 0x7Au);
    switch (pp.segment) {
      case 0:
      case 1:
      case 2:
        return {WoodColour(wood_, p.side, p.along, p.across), 0.3f, 35.0f, 0.0f};
      case 3: {
        const float shade = StepShadow(p.side, p.across - kFrameEdge * b_, 0.07f * b_);
        return {Scale({0.93f, 0.90f, 0.82f}, grain * shade), 0.0f, 1.0f, 0.0f};
      }
      case 4:
        return {{0.98f, 0.97f, 0.94f}, 0.0f, 1.0f, 0.0f};
      case 5: {
        const float shade = StepShadow(p.side, p.across - kTopMatEdge * b_, 0.03f * b_);
        return {Scale({0.45f, 0.11f, 0.13f}, grain * shade), 0.0f, 1.0f, 0.0f};
      }
      default:
        return {{0.09f, 0.08f, 0.08f}, 0.0f, 1.0f, 0.0f};
    }
  }
  float Seam(float across) const override { return across < kFrameEdge * b_ ? 1.0f : 0.0f; }

 private:
  static constexpr float kFrameEdge = 0.22f;
  static constexpr float kTopMatEdge = 0.83f;
  float b_;
  WoodLook wood_{{0.24f, 0.15f, 0.10f}, {0.09f, 0.055f, 0.04f}, 8.0f, 0.7f, 0.0f, 0.35f, 0xF7u};
  std::vector<Segment> profile_{
      {0.07f, Shape::Round, 0.10f, 0.26f},       {0.16f, Shape::Line, 0.26f, 0.24f},
      {kFrameEdge, Shape::Round, 0.24f, 0.10f},  {0.80f, Shape::Line, 0.05f, 0.05f},
      {kTopMatEdge, Shape::Line, 0.05f, 0.025f}, {0.965f, Shape::Line, 0.025f, 0.025f},
      {1.00f, Shape::Line, 0.025f, 0.0f},
  };
};

// Draws a frame of the given size whose shadow reaches `topLeft` and `bottomRight`
// border widths into the picture.
template <class Design>
QImage Draw(int width, int height, float alpha, float topLeft, float bottomRight) {
  // The sight edge halfway between pixel centres: its pixels are half covered, an even
  // anti-aliased line. (A border just short of a whole pixel would leave the inner
  // corner pixels nearly opaque inside the window the frame tool finds.)
  const float border =
      std::floor(BorderFor(width, height, kTransparentShare, topLeft, bottomRight)) + 0.5f;
  const InnerShadow shadow{alpha, topLeft * border, bottomRight * border};
  return RenderFrame(width, height, border, Design(border), shadow);
}

}  // namespace

QImage DrawFrame1() { return Draw<Walnut>(2225, 2196, 0.45f, 0.1f, 0.03f); }
QImage DrawFrame2() { return Draw<GoldOrnate>(2244, 2424, 0.5f, 0.1f, 0.03f); }
QImage DrawFrame3() { return Draw<LightOak>(1122, 1212, 0.35f, 0.08f, 0.03f); }
QImage DrawFrame4() { return Draw<BrushedSilver>(816, 1456, 0.4f, 0.1f, 0.03f); }
QImage DrawFrame5() { return Draw<BlackFrameWhiteMat>(2260, 3000, 0.3f, 0.03f, 0.01f); }
QImage DrawFrame6() { return Draw<BarnWood>(1100, 1100, 0.5f, 0.12f, 0.04f); }
QImage DrawFrame7() { return Draw<DoubleMat>(2024, 2416, 0.3f, 0.03f, 0.01f); }

}  // namespace assetgen
