#include "bristle.h"

#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

float SmoothStep(float edge0, float edge1, float v) {
  const float t = std::clamp((v - edge0) / (edge1 - edge0), 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

float Lerp(float a, float b, float t) { return a + (b - a) * t; }

}  // namespace

StrokePath StrokePath::Gesture(float length, float angle, float turn, float sBend, float hook,
                               StrokePoint centre) {
  StrokePath path;
  const int steps = std::max(2, int(std::ceil(length)));
  const float step = length / float(steps);
  float x = 0.0f, y = 0.0f;
  path.points_.push_back({x, y});
  for (int i = 0; i < steps; ++i) {
    // Heading at the middle of the step, so the integration is second-order accurate.
    const float t = (float(i) + 0.5f) / float(steps);
    const float heading = angle + turn * (t - 0.5f) + sBend * 4.0f * (t - t * t - 1.0f / 6.0f) +
                          hook * (t * t * t - 0.25f);
    x += step * std::cos(heading);
    y += step * std::sin(heading);
    path.points_.push_back({x, y});
  }
  float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
  for (const auto& p : path.points_) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  path = path.moved(centre.x - 0.5f * (minX + maxX), centre.y - 0.5f * (minY + maxY));
  path.length_ = length;
  return path;
}

float StrokePath::reach(StrokePoint p) const {
  float r = 0.0f;
  for (const auto& q : points_) r = std::max(r, std::hypot(q.x - p.x, q.y - p.y));
  return r;
}

StrokePath StrokePath::scaled(StrokePoint p, float factor) const {
  StrokePath out;
  out.points_.reserve(points_.size());
  for (const auto& q : points_)
    out.points_.push_back({p.x + (q.x - p.x) * factor, p.y + (q.y - p.y) * factor});
  out.length_ = length_ * factor;
  return out;
}

StrokePath StrokePath::moved(float dx, float dy) const {
  StrokePath out = *this;
  for (auto& q : out.points_) q.x += dx, q.y += dy;
  return out;
}

StrokePath StrokePath::through(StrokePoint p, float fraction) const {
  const size_t i =
      std::min(points_.size() - 1,
               size_t(std::lround(std::clamp(fraction, 0.0f, 1.0f) * float(points_.size() - 1))));
  return moved(p.x - points_[i].x, p.y - points_[i].y);
}

StrokeCoordinates MapAlongStroke(const StrokePath& path, int width, int height, float reach) {
  StrokeCoordinates map(width, height);
  const auto& pts = path.points();
  if (pts.size() < 2) return map;
  Field best(width, height, reach * reach);
  float start = 0.0f;
  const size_t last = pts.size() - 2;
  for (size_t i = 0; i + 1 < pts.size(); ++i) {
    const StrokePoint a = pts[i], b = pts[i + 1];
    const float dx = b.x - a.x, dy = b.y - a.y;
    const float len = std::hypot(dx, dy);
    if (len <= 0.0f) continue;
    const float ux = dx / len, uy = dy / len;
    // The end segments reach past the ends, so that caps and the pixels just before the
    // touch-down get coordinates too.
    const float lo = i == 0 ? -reach : 0.0f;
    const float hi = i == last ? len + reach : len;
    const int x0 = std::max(0, int(std::floor(std::min(a.x + ux * lo, a.x + ux * hi) - reach)));
    const int x1 =
        std::min(width - 1, int(std::ceil(std::max(a.x + ux * lo, a.x + ux * hi) + reach)));
    const int y0 = std::max(0, int(std::floor(std::min(a.y + uy * lo, a.y + uy * hi) - reach)));
    const int y1 =
        std::min(height - 1, int(std::ceil(std::max(a.y + uy * lo, a.y + uy * hi) + reach)));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const float vx = float(x) + 0.5f - a.x, vy = float(y) + 0.5f - a.y;
        const float proj = std::clamp(vx * ux + vy * uy, lo, hi);
        const float ex = vx - proj * ux, ey = vy - proj * uy;
        const float d2 = ex * ex + ey * ey;
        if (d2 >= best.at(x, y)) continue;
        best.at(x, y) = d2;
        map.along.at(x, y) = start + proj;
        map.across.at(x, y) = ux * vy - uy * vx;
      }
    start += len;
  }
  return map;
}

namespace {

// How far from the centre line the mark can reach.
float BristleReach(const BristleBrush& brush) {
  return 0.5f * brush.width * std::max(1.0f, brush.spread) + brush.ragged + 2.0f;
}

struct Bristle {
  float lane;       // position across, -1..1 of the half width
  float halfWidth;  // pixels
  float load;
  float runOut;  // fraction of the length where it gives out
  uint32_t skipSeed;
  uint32_t driftSeed;
  float skipLength;
};

// The paint each bristle leaves, laid out in the stroke's own coordinates: one row per
// pixel of travel, `columns` samples across the full width (lanes -kLaneSpan..kLaneSpan).
struct PaintTable {
  static constexpr float kLaneSpan = 1.2f;
  float firstRow = 0.0f;
  int rows = 0;
  int columns = 0;
  std::vector<float> paint;
  // Per row: the half width of the outline (ends rounded off) and the half width the
  // bristle lanes are spread over (the brush's width, unaffected by the end caps, so
  // that the lanes run straight into a rounded end instead of converging on it).
  std::vector<float> edgeHalf;
  std::vector<float> laneHalf;

  float rowOf(float s) const { return std::clamp(s - firstRow, 0.0f, float(rows - 1)); }
  static float Interpolate(const std::vector<float>& v, float r) {
    const int i = std::min(int(r), int(v.size()) - 2);
    return Lerp(v[size_t(i)], v[size_t(i) + 1], r - float(i));
  }
  float sample(float r, float lane) const {
    const float c = std::clamp((lane + kLaneSpan) / (2.0f * kLaneSpan) * float(columns - 1), 0.0f,
                               float(columns - 1));
    const int i = std::min(int(r), rows - 2), j = std::min(int(c), columns - 2);
    const float fr = r - float(i), fc = c - float(j);
    auto at = [&](int a, int b) { return paint[size_t(a) * size_t(columns) + size_t(b)]; };
    return Lerp(Lerp(at(i, j), at(i, j + 1), fc), Lerp(at(i + 1, j), at(i + 1, j + 1), fc), fr);
  }
};

// The half width of the mark at arc length s; with `caps`, the ends are rounded off.
float ProfileHalfWidth(const BristleBrush& b, float s, float length, bool caps) {
  const float t = std::clamp(s / length, 0.0f, 1.0f);
  float profile = Lerp(b.startWidth, 1.0f, SmoothStep(0.0f, std::max(b.attack, 1e-3f), t));
  profile *= Lerp(1.0f, b.endWidth, SmoothStep(1.0f - b.release, 1.0f, t));
  profile *= Lerp(1.0f, b.spread, t);
  float half = 0.5f * b.width * profile;
  if (!caps) return half;
  // Round ends: an ellipse of depth cap x half width closing the stroke; a square end
  // still keeps a pixel of softness.
  if (s < 0.0f) {
    const float depth = std::max(1.0f, b.startCap * half);
    const float q = -s / depth;
    half = q >= 1.0f ? 0.0f : half * std::sqrt(1.0f - q * q);
  } else if (s > length) {
    const float depth = std::max(1.0f, b.endCap * half);
    const float q = (s - length) / depth;
    half = q >= 1.0f ? 0.0f : half * std::sqrt(1.0f - q * q);
  }
  return half;
}

std::vector<Bristle> MakeBristles(const BristleBrush& b, Rng rng) {
  const int n = std::max(1, b.bristles);
  // Clumps: bristles stuck together by paint pull towards a few lanes.
  const int clumps = std::max(2, n / 5);
  std::vector<float> clumpLane(static_cast<size_t>(clumps)), clumpLoad(static_cast<size_t>(clumps));
  for (int c = 0; c < clumps; ++c) {
    clumpLane[size_t(c)] =
        -1.0f + (2.0f * float(c) + 1.0f + rng.uniform(-0.6f, 0.6f)) / float(clumps);
    clumpLoad[size_t(c)] = rng.uniform(0.75f, 1.2f);
  }
  std::vector<Bristle> bristles(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    Bristle& br = bristles[size_t(k)];
    float lane = -1.0f + (2.0f * float(k) + 1.0f + rng.uniform(-0.8f, 0.8f)) / float(n);
    int nearest = 0;
    for (int c = 1; c < clumps; ++c)
      if (std::fabs(clumpLane[size_t(c)] - lane) < std::fabs(clumpLane[size_t(nearest)] - lane))
        nearest = c;
    lane = Lerp(lane, clumpLane[size_t(nearest)], 0.6f * b.clumping);
    br.lane = std::clamp(lane, -1.0f, 1.0f);
    br.halfWidth = 0.5f * b.bristleWidth * rng.uniform(0.6f, 1.4f);
    br.load = Lerp(1.0f, clumpLoad[size_t(nearest)], b.clumping) * rng.uniform(0.6f, 1.25f);
    // The outer bristles touch the surface less and give out first.
    const float edge = std::max(0.0f, std::fabs(br.lane) - 0.6f);
    br.runOut = Lerp(b.runOut, 1.05f, rng.uniform()) - edge * 0.6f * (1.1f - b.runOut);
    br.skipSeed = uint32_t(rng.next());
    br.driftSeed = uint32_t(rng.next());
    br.skipLength = b.skipLength * rng.uniform(0.5f, 1.5f);
  }
  return bristles;
}

PaintTable MakePaintTable(const BristleBrush& b, float length, const std::vector<Bristle>& brs) {
  PaintTable table;
  const float maxHalf = 0.5f * b.width * std::max(1.0f, b.spread);
  const float lead = std::max(1.0f, b.startCap * maxHalf) + 1.0f;
  const float trail = std::max(1.0f, b.endCap * maxHalf) + 1.0f;
  table.firstRow = -lead;
  table.rows = std::max(2, int(std::ceil(length + lead + trail)) + 1);
  table.columns = std::max(16, int(std::ceil(4.0f * maxHalf * PaintTable::kLaneSpan)));
  table.paint.assign(size_t(table.rows) * size_t(table.columns), 0.0f);
  table.edgeHalf.resize(size_t(table.rows));
  table.laneHalf.resize(size_t(table.rows));
  const uint32_t skipSeed = HashPoint(11, 0, b.seed);
  const float laneStep = 2.0f * PaintTable::kLaneSpan / float(table.columns - 1);
  float meanHalfWidth = 0.0f;
  for (const Bristle& br : brs) meanHalfWidth += br.halfWidth / float(brs.size());
  for (int row = 0; row < table.rows; ++row) {
    const float s = table.firstRow + float(row);
    const float t = std::clamp(s / length, 0.0f, 1.0f);
    const float half = std::max(ProfileHalfWidth(b, s, length, false), 0.5f);
    table.laneHalf[size_t(row)] = half;
    table.edgeHalf[size_t(row)] = ProfileHalfWidth(b, s, length, true);
    const float level =
        b.load * (1.0f - b.depletion * t) + b.loadedStart * (1.0f - SmoothStep(0.0f, 0.25f, t));
    // A dry brush skips more the further it goes; the whole brush hops over a bump
    // together, so the skips of neighbouring bristles are partly shared.
    const float skipLevel = b.skip * (0.35f + 0.9f * t);
    const float shared = ValueNoise1(s / b.skipLength, skipSeed);
    auto skipFactor = [&](float q) {
      return skipLevel > 0.0f ? SmoothStep(skipLevel - 0.06f, skipLevel + 0.06f, q) : 1.0f;
    };
    // The bristles' own streaks, normalised so that a full, even brush averages 1: the
    // bumps (1 - d^2)^2 have the area 16/15 of their half width, spread over the two
    // half widths of the brush.
    const float norm = float(brs.size()) * (16.0f / 15.0f) * meanHalfWidth / half * 0.5f;
    float* line = &table.paint[size_t(row) * size_t(table.columns)];
    for (const Bristle& br : brs) {
      float amount = br.load * (1.0f - SmoothStep(br.runOut - 0.15f, br.runOut, t));
      amount *= skipFactor(0.3f * shared + 0.7f * ValueNoise1(s / br.skipLength, br.skipSeed));
      if (amount <= 0.0f) continue;
      // A bristle wanders by up to a quarter of the spacing either way as the brush flexes.
      const float lane =
          br.lane + (ValueNoise1(s / 40.0f, br.driftSeed) - 0.5f) / float(std::max(1, b.bristles));
      const float reachLane = br.halfWidth / half;
      const int c0 =
          std::max(0, int(std::floor((lane - reachLane + PaintTable::kLaneSpan) / laneStep)));
      const int c1 = std::min(
          table.columns - 1, int(std::ceil((lane + reachLane + PaintTable::kLaneSpan) / laneStep)));
      for (int c = c0; c <= c1; ++c) {
        const float d = (float(c) * laneStep - PaintTable::kLaneSpan - lane) / reachLane;
        if (std::fabs(d) >= 1.0f) continue;
        const float bump = 1.0f - d * d;
        line[c] += amount * bump * bump / norm;
      }
    }
    // The paint held between the bristles fills in under them while the brush is
    // wet, and runs out before the bristles do.
    const float fill =
        b.body * (1.0f - SmoothStep(b.runOut - 0.35f, b.runOut + 0.1f, t)) * skipFactor(shared);
    for (int c = 0; c < table.columns; ++c) {
      const float lane = float(c) * laneStep - PaintTable::kLaneSpan;
      const float inside = 1.0f - SmoothStep(0.85f, 1.0f, std::fabs(lane));
      line[c] = level * ((1.0f - b.body) * line[c] + fill * inside);
    }
  }
  return table;
}

}  // namespace

StrokePath FitStroke(const StrokePath& path, const BristleBrush& brush, StrokePoint centre,
                     float radius) {
  // How far the mark reaches: each point of the centre line plus the half width there
  // (the caps reach no further than that), plus the ragged outline.
  auto reach = [&](const StrokePath& p) {
    const auto& pts = p.points();
    float r = 0.0f;
    for (size_t i = 0; i < pts.size(); ++i) {
      const float s = p.length() * float(i) / float(std::max<size_t>(1, pts.size() - 1));
      const float half = ProfileHalfWidth(brush, s, p.length(), false) + brush.ragged + 2.0f;
      r = std::max(r, std::hypot(pts[i].x - centre.x, pts[i].y - centre.y) + half);
    }
    return r;
  };
  StrokePath fitted = path;
  // The half width does not scale with the path, so shrink step by step.
  for (int step = 0; step < 40 && reach(fitted) > radius; ++step)
    fitted = fitted.scaled(centre, 0.97f);
  return fitted;
}

void DrawBristleStroke(Field& coverage, const Field& tooth, const StrokePath& path,
                       const BristleBrush& brush) {
  const float length = std::max(1.0f, path.length());
  const Rng rng(brush.seed);
  const std::vector<Bristle> bristles = MakeBristles(brush, rng.fork(1));
  const PaintTable table = MakePaintTable(brush, length, bristles);
  const float reach = BristleReach(brush);
  const StrokeCoordinates map = MapAlongStroke(path, coverage.width, coverage.height, reach);
  const uint32_t leftSeed = HashPoint(21, 0, brush.seed), rightSeed = HashPoint(22, 0, brush.seed);
  const uint32_t fineSeed = HashPoint(23, 0, brush.seed);
  const uint32_t pressureSeed = HashPoint(24, 0, brush.seed);
  for (int y = 0; y < coverage.height; ++y)
    for (int x = 0; x < coverage.width; ++x) {
      const float a = map.across.at(x, y);
      if (a >= StrokeCoordinates::kFar) continue;
      const float s = map.along.at(x, y);
      const float r = table.rowOf(s);
      const float half = PaintTable::Interpolate(table.edgeHalf, r);
      if (half <= 0.0f) continue;
      // A ragged outline: a slow swing of each side plus a fine tremble.
      const uint32_t sideSeed = a >= 0.0f ? leftSeed : rightSeed;
      const float edge = half + brush.ragged * (2.0f * ValueNoise1(s / 9.0f, sideSeed) - 1.0f) +
                         0.6f * brush.ragged * (2.0f * ValueNoise1(s / 2.3f, fineSeed) - 1.0f);
      const float inside = std::clamp((edge - std::fabs(a)) / 1.2f + 0.5f, 0.0f, 1.0f);
      if (inside <= 0.0f) continue;
      const float lane = a / PaintTable::Interpolate(table.laneHalf, r);
      const float pressure = 0.85f + 0.3f * ValueNoise1(s / 31.0f, pressureSeed);
      const float paint = table.sample(r, lane) * pressure;
      if (paint <= 0.0f) continue;
      // Thin paint only reaches the peaks of the tooth; a full load fills it.
      const float h = tooth.at(x, y);
      const float touch =
          SmoothStep(1.0f - paint - brush.grainSoftness, 1.0f - paint + brush.grainSoftness, h);
      // Thin paint is more transparent where it does land, and even a full load keeps
      // the ridges and furrows of the bristles: the opacity saturates slowly.
      const float body = 1.0f - std::exp(-1.4f * paint);
      const float c = inside * touch * body;
      if (c <= 0.0f) continue;
      float& v = coverage.at(x, y);
      v = v + c - v * c;
    }
}

}  // namespace assetgen
