// TemplateMatchingBrushes: the stroke atlas, thirty-eight single brush strokes in dark
// paint on white, in 250 x 250 cells five to a row; the last two cells are blank.
//
// The strokes are what a painter makes with a loaded flat or round brush in one
// movement: mostly arcs and S-curves, some straight, narrow and broad, with a loaded
// start, tapering ends and the bristle streaks showing. The effects that use the atlas
// read darkness as coverage, so the paint is near black and the paper pure white.
// Smooth painting uses two cells by position: cell 26 is a broad wedge-shaped dab and
// cell 36 a long, thin, slightly curved streak, both lying diagonally.
#include "assets.h"
#include "bristle.h"
#include "noise.h"
#include "rng.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace assetgen {

namespace {

constexpr int kCell = 250;
constexpr int kColumns = 5;
constexpr int kRows = 8;
constexpr int kStrokes = 38;
// The darkest paint: a little above black, so the bristle streaks still read.
constexpr float kInk = 16.0f;
// Smooth painting turns its two cells about their centres on a square of the cell's
// size, so a stroke keeps within the inscribed circle.
constexpr float kRadius = 118.0f;

struct AtlasStroke {
  float length;
  float angle;
  float turn, sBend, hook;
  BristleBrush brush;
};

BristleBrush Brush(Rng& rng, float width) {
  BristleBrush b;
  b.width = width;
  b.bristles = std::max(10, int(width / 2.2f) + rng.below(8));
  b.bristleWidth = 1.6f * width / float(b.bristles) + 0.8f;
  b.clumping = rng.uniform(0.05f, 0.3f);
  b.body = rng.uniform(0.35f, 0.55f);
  b.load = rng.uniform(1.3f, 1.7f);
  b.depletion = rng.uniform(0.4f, 0.8f);
  b.loadedStart = rng.uniform(0.2f, 0.5f);
  b.runOut = rng.uniform(0.65f, 0.9f);
  b.skip = rng.uniform(0.05f, 0.25f);
  b.attack = rng.uniform(0.05f, 0.15f);
  b.release = rng.uniform(0.3f, 0.6f);
  b.startWidth = rng.uniform(0.5f, 0.9f);
  b.endWidth = rng.uniform(0.05f, 0.4f);
  b.startCap = rng.uniform(0.3f, 1.0f);
  b.endCap = rng.uniform(0.4f, 1.0f);
  b.ragged = rng.uniform(1.0f, 2.5f);
  return b;
}

std::vector<AtlasStroke> Strokes(Rng rng) {
  std::vector<AtlasStroke> strokes;
  const float pi = std::numbers::pi_v<float>;
  for (int k = 0; k < kStrokes; ++k) {
    AtlasStroke s;
    const float width = rng.uniform(26.0f, 76.0f);
    s.brush = Brush(rng, width);
    s.length = rng.uniform(170.0f, 230.0f);
    s.angle = rng.uniform(-pi, pi);
    const float side = rng.below(2) ? 1.0f : -1.0f;
    s.turn = 0.0f, s.sBend = 0.0f, s.hook = 0.0f;
    switch (k % 6) {
      case 0:
      case 3:  // arcs
        s.turn = side * rng.uniform(0.8f, 1.8f);
        break;
      case 1:  // S-curves
        s.sBend = side * rng.uniform(0.8f, 1.5f);
        s.turn = rng.uniform(-0.3f, 0.3f);
        break;
      case 2:  // gentle bend
        s.turn = side * rng.uniform(0.2f, 0.6f);
        break;
      case 4:  // comma
        s.hook = side * rng.uniform(0.8f, 1.6f);
        s.turn = 0.3f * s.hook;
        s.brush.endWidth = 0.05f;
        break;
      default:  // nearly straight
        s.turn = rng.uniform(-0.15f, 0.15f);
        break;
    }
    strokes.push_back(s);
  }
  // The two cells smooth painting relies on.
  {
    AtlasStroke& wedge = strokes[26];
    wedge = {};
    wedge.brush = Brush(rng, 110.0f);
    wedge.brush.startWidth = 1.0f;
    wedge.brush.attack = 0.02f;
    wedge.brush.startCap = 0.35f;
    wedge.brush.release = 0.95f;
    wedge.brush.endWidth = 0.12f;
    wedge.brush.endCap = 0.8f;
    wedge.brush.runOut = 0.85f;
    wedge.brush.skip = 0.08f;
    wedge.brush.bristles = 70;
    wedge.brush.bristleWidth = 3.5f;
    wedge.brush.clumping = 0.1f;
    wedge.brush.body = 0.6f;
    wedge.length = 150.0f;
    wedge.angle = pi / 4.0f;
    wedge.turn = 0.15f;
  }
  {
    AtlasStroke& streak = strokes[36];
    streak = {};
    streak.brush = Brush(rng, 20.0f);
    streak.brush.startWidth = 0.7f;
    streak.brush.endWidth = 0.25f;
    streak.brush.runOut = 0.85f;
    streak.brush.skip = 0.08f;
    streak.length = 235.0f;
    streak.angle = -pi / 4.0f;
    streak.turn = 0.35f;
  }
  for (auto& s : strokes) s.brush.seed = uint32_t(rng.next());
  return strokes;
}

}  // namespace

QImage DrawTemplateMatchingBrushes() {
  const Rng rng(0xA71A5u);
  const std::vector<AtlasStroke> strokes = Strokes(rng.fork(1));
  QImage atlas(kCell * kColumns, kCell * kRows, QImage::Format_Grayscale8);
  atlas.fill(255);
  Rng toothRng = rng.fork(2);
  const StrokePoint centre{0.5f * kCell, 0.5f * kCell};
  for (int k = 0; k < kStrokes; ++k) {
    const AtlasStroke& s = strokes[size_t(k)];
    ToothOptions toothOptions;
    toothOptions.grainSize = 1.8f;
    const Field tooth = PaperTooth(kCell, kCell, toothOptions, uint32_t(toothRng.next()));
    Field cover(kCell, kCell);
    const StrokePath path =
        FitStroke(StrokePath::Gesture(s.length, s.angle, s.turn, s.sBend, s.hook, centre), s.brush,
                  centre, kRadius);
    DrawBristleStroke(cover, tooth, path, s.brush);
    const int ox = (k % kColumns) * kCell, oy = (k / kColumns) * kCell;
    for (int y = 0; y < kCell; ++y) {
      uchar* line = atlas.scanLine(oy + y) + ox;
      for (int x = 0; x < kCell; ++x) {
        const float c = std::clamp(cover.at(x, y), 0.0f, 1.0f);
        line[x] = uchar(std::lround(255.0f - (255.0f - kInk) * c));
      }
    }
  }
  return atlas;
}

}  // namespace assetgen
