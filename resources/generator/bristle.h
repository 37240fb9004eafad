// Brush strokes: a loaded brush dragged along a curved path, leaving paint in streaks.
//
// A stroke is described in its own coordinates: the distance travelled along the centre
// line and the signed distance across it. The brush is a row of bristles across its
// width; each bristle carries its own load of paint, runs dry at its own point along
// the path and skips where the surface is high, which gives the streaks, broken
// dry-brush passages and feathered tails of a real mark. Where the paint is thin, only
// the peaks of the surface tooth take it, so the same stroke is solid where the brush
// was loaded and grainy where it was running out.
//
// Everything here renders coverage (0 = untouched, 1 = fully covered) into a Field; the
// pictures decide how coverage becomes pixels.
#pragma once

#include "field.h"

#include <cstdint>
#include <vector>

namespace assetgen {

struct StrokePoint {
  float x = 0.0f;
  float y = 0.0f;
};

// A stroke's centre line, sampled as a polyline with points about a pixel apart.
class StrokePath {
 public:
  // The path of a hand that turns while it moves. The heading (radians, 0 along +x, y
  // down) at the fraction t of the way is
  //   angle + turn (t - 1/2) + sBend 4 (t - t^2 - 1/6) + hook (t^3 - 1/4):
  // `turn` bends the whole stroke into an arc, `sBend` makes an S (the curvature
  // changes sign half-way), `hook` curls the end like a comma. The constant terms keep
  // the overall direction near `angle`. The path is centred on `centre` (the middle of
  // its bounding box), so a stamp rotated about its cell centre stays balanced.
  static StrokePath Gesture(float length, float angle, float turn, float sBend, float hook,
                            StrokePoint centre);

  const std::vector<StrokePoint>& points() const { return points_; }
  float length() const { return length_; }
  // The largest distance of a path point from `p`.
  float reach(StrokePoint p) const;
  // The path scaled about `p` by `factor`.
  StrokePath scaled(StrokePoint p, float factor) const;
  // The path moved by (dx, dy).
  StrokePath moved(float dx, float dy) const;
  // The path moved so that the point `fraction` of the way along lies on `p`. The
  // program only keeps a brush that covers the centre column of its cell, and paint is
  // heaviest early in a stroke, so a point a little before the middle on the cell
  // centre both passes that test and roughly balances the mark for rotation about it.
  StrokePath through(StrokePoint p, float fraction) const;

 private:
  std::vector<StrokePoint> points_;
  float length_ = 0.0f;
};

// Where the pixels near a path lie in the stroke's own coordinates. `along` is the arc
// length of the nearest point of the path (beyond the ends it continues along the end
// directions, negative before the start and above the length after the end); `across`
// is the signed distance, positive on the left of the direction of travel. Pixels
// farther than `reach` from the path have across = kFar.
struct StrokeCoordinates {
  static constexpr float kFar = 1e9f;
  StrokeCoordinates(int w, int h) : along(w, h, 0.0f), across(w, h, kFar) {}
  Field along;
  Field across;
};
StrokeCoordinates MapAlongStroke(const StrokePath& path, int width, int height, float reach);

struct BristleBrush {
  // Full width of the mark where the brush is fully down, in pixels.
  float width = 40.0f;
  // Fractions of the length over which the brush comes down and lifts off, and the
  // width left at the very end (0 = a pointed tail).
  float attack = 0.08f;
  float release = 0.3f;
  float startWidth = 0.8f;
  float endWidth = 0.4f;
  // The width at the end relative to the start from the bristles spreading (a fan
  // brush, or a brush pushed down hard); multiplies the profile linearly along t.
  float spread = 1.0f;
  // Rounding of the ends, as a fraction of the half width: 0 is the square end of a
  // flat brush, 1 the round end of a round brush or a filbert.
  float startCap = 0.3f;
  float endCap = 0.6f;
  // Number of bristles across the brush, and their thickness in pixels.
  int bristles = 30;
  float bristleWidth = 3.0f;
  // Bristles gather into clumps of paint; 0 = evenly spaced, 1 = tight clumps.
  float clumping = 0.3f;
  // Paint on the brush at the start (about 1 covers the surface; more is impasto
  // that fills the tooth's valleys) and the fraction used up by the end.
  float load = 1.3f;
  float depletion = 0.6f;
  // Extra paint where the brush touched down, fading over the first part of the stroke.
  float loadedStart = 0.3f;
  // Share of the paint carried in the body of the brush rather than on single
  // bristles: more body gives a smoother, more solid mark, less gives sharper streaks.
  float body = 0.35f;
  // How far along (fraction of the length) bristles begin to run dry: each bristle
  // gives out somewhere between runOut and 1 (the outer ones earlier); above 1 the
  // brush keeps its paint to the end, as in a dab.
  float runOut = 0.7f;
  // Tendency of bristles to skip in dry-brush breaks, 0..1, growing as the paint runs
  // out; `skipLength` is the typical length of a skip in pixels.
  float skip = 0.2f;
  float skipLength = 18.0f;
  // Raggedness of the outline in pixels.
  float ragged = 2.0f;
  // Softness of the transition from paint to bare tooth, in tooth height.
  float grainSoftness = 0.25f;
  uint32_t seed = 0;
};

// Adds the coverage of `brush` dragged along `path` to `coverage` (unioned: new
// coverage c over old a gives a + c - a c). `tooth` has the coverage's size and values
// in [0, 1] (see PaperTooth).
void DrawBristleStroke(Field& coverage, const Field& tooth, const StrokePath& path,
                       const BristleBrush& brush);

// Scales `path` about `centre` until the stroke, with the brush's half width, stays
// within `radius` of it; a path already inside is returned as it is.
StrokePath FitStroke(const StrokePath& path, const BristleBrush& brush, StrokePoint centre,
                     float radius);

}  // namespace assetgen
