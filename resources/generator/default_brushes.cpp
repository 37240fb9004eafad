// DefaultBrushes: the impasto sheet, forty marks of stiff oil paint on canvas.
//
// Long flat strokes with bristle streaks, a loaded start and a tail that breaks up as
// the bristles run dry; arcs and S-curves; dry-brush drags that only catch the tooth;
// short round, flat and filbert dabs; fan-brush marks with their bristles spread apart;
// comma strokes; and rake marks of a few separate bristle clumps. The impasto effect
// turns each brush's principal axis to the stroke direction, so the elongated marks are
// what carry the direction of the painting; the dabs give it texture between them.
#include "assets.h"
#include "bristle.h"
#include "brush_sheet.h"
#include "noise.h"
#include "rng.h"

#include <cmath>
#include <vector>

namespace assetgen {

namespace {

constexpr int kBrushes = 40;
constexpr int kRows = 6;

// One mark: the hand's gesture and the brush that made it.
struct Mark {
  float length;
  float angle;
  float turn, sBend, hook;
  BristleBrush brush;
  // The point of the path (fraction of the way along) put on the cell centre when the
  // centred mark misses the centre column: earlier for the dry marks, whose paint gives
  // out soon.
  float anchor = 0.4f;
};

BristleBrush Flat(float width, int bristles, float load, float skip) {
  BristleBrush b;
  b.width = width;
  b.bristles = bristles;
  b.bristleWidth = 2.0f * width / float(bristles) + 1.0f;
  b.load = load;
  b.skip = skip;
  b.startCap = 0.25f;
  b.endCap = 0.5f;
  b.clumping = 0.15f;
  return b;
}

std::vector<Mark> Marks(Rng rng) {
  std::vector<Mark> marks;
  auto tilt = [&rng](float spread) { return rng.uniform(-spread, spread); };

  // Long loaded strokes with a dry tail.
  for (int i = 0; i < 8; ++i) {
    BristleBrush b = Flat(rng.uniform(36.0f, 64.0f), 26 + rng.below(18), rng.uniform(1.2f, 1.6f),
                          rng.uniform(0.1f, 0.35f));
    b.depletion = rng.uniform(0.55f, 0.85f);
    b.runOut = rng.uniform(0.5f, 0.8f);
    b.endWidth = rng.uniform(0.3f, 0.8f);
    b.clumping = rng.uniform(0.2f, 0.6f);
    b.loadedStart = rng.uniform(0.2f, 0.6f);
    marks.push_back({rng.uniform(170.0f, 225.0f), tilt(0.5f), tilt(0.35f), 0.0f, 0.0f, b});
  }
  // Arcs.
  for (int i = 0; i < 6; ++i) {
    BristleBrush b = Flat(rng.uniform(34.0f, 64.0f), 22 + rng.below(16), rng.uniform(1.1f, 1.5f),
                          rng.uniform(0.15f, 0.4f));
    b.endWidth = rng.uniform(0.2f, 0.6f);
    b.runOut = rng.uniform(0.55f, 0.85f);
    const float turn = (i % 2 ? 1.0f : -1.0f) * rng.uniform(0.7f, 1.5f);
    marks.push_back({rng.uniform(180.0f, 230.0f), tilt(0.4f), turn, 0.0f, 0.0f, b});
  }
  // S-curves.
  for (int i = 0; i < 4; ++i) {
    BristleBrush b = Flat(rng.uniform(34.0f, 56.0f), 20 + rng.below(14), rng.uniform(1.1f, 1.4f),
                          rng.uniform(0.15f, 0.35f));
    b.endWidth = rng.uniform(0.25f, 0.5f);
    const float bend = (i % 2 ? 1.0f : -1.0f) * rng.uniform(0.9f, 1.4f);
    marks.push_back({rng.uniform(190.0f, 230.0f), tilt(0.3f), tilt(0.3f), bend, 0.0f, b});
  }
  // Dry-brush drags: little paint, much skipping, the tooth showing through.
  for (int i = 0; i < 5; ++i) {
    BristleBrush b = Flat(rng.uniform(50.0f, 76.0f), 30 + rng.below(20), rng.uniform(0.9f, 1.1f),
                          rng.uniform(0.45f, 0.7f));
    b.depletion = rng.uniform(0.3f, 0.5f);
    b.loadedStart = rng.uniform(0.3f, 0.6f);
    b.runOut = rng.uniform(0.45f, 0.75f);
    b.skipLength = rng.uniform(12.0f, 30.0f);
    b.ragged = 3.0f;
    b.grainSoftness = 0.12f;
    marks.push_back({rng.uniform(190.0f, 230.0f), tilt(0.5f), tilt(0.5f), 0.0f, 0.0f, b, 0.25f});
  }
  // Round dabs: a round brush pressed down and lifted with a short twist.
  for (int i = 0; i < 3; ++i) {
    BristleBrush b = Flat(rng.uniform(90.0f, 130.0f), 40 + rng.below(16), rng.uniform(1.3f, 1.7f),
                          rng.uniform(0.05f, 0.2f));
    b.startCap = 1.0f;
    b.endCap = 1.0f;
    b.startWidth = 1.0f;
    b.endWidth = 1.0f;
    // Pressed and lifted: paint everywhere, the bristles barely dragged.
    b.depletion = 0.15f;
    b.loadedStart = 0.0f;
    b.runOut = 1.3f;
    b.ragged = 6.0f;
    b.clumping = 0.15f;
    b.body = 0.5f;
    b.skip = 0.25f;
    marks.push_back({rng.uniform(35.0f, 60.0f), tilt(1.5f), tilt(0.6f), 0.0f, 0.0f, b});
  }
  // Flat dabs: square-ended, short.
  for (int i = 0; i < 3; ++i) {
    BristleBrush b = Flat(rng.uniform(80.0f, 110.0f), 34 + rng.below(16), rng.uniform(1.3f, 1.7f),
                          rng.uniform(0.1f, 0.3f));
    b.startCap = 0.1f;
    b.endCap = 0.15f;
    b.startWidth = 0.95f;
    b.endWidth = 0.9f;
    b.release = 0.2f;
    b.depletion = 0.4f;
    b.runOut = 0.8f;
    marks.push_back({rng.uniform(60.0f, 95.0f), tilt(0.4f), tilt(0.2f), 0.0f, 0.0f, b});
  }
  // Filbert dabs: a flat brush with a rounded tip, leaving an oval.
  for (int i = 0; i < 3; ++i) {
    BristleBrush b = Flat(rng.uniform(60.0f, 84.0f), 28 + rng.below(14), rng.uniform(1.3f, 1.6f),
                          rng.uniform(0.1f, 0.3f));
    b.startCap = 0.9f;
    b.endCap = 0.8f;
    b.startWidth = 0.85f;
    b.endWidth = 0.7f;
    b.release = 0.35f;
    b.runOut = 0.7f;
    marks.push_back({rng.uniform(90.0f, 135.0f), tilt(0.6f), tilt(0.4f), 0.0f, 0.0f, b});
  }
  // Fan-brush marks: few bristles, spread wide apart, sweeping in an arc.
  for (int i = 0; i < 3; ++i) {
    BristleBrush b;
    b.width = rng.uniform(60.0f, 80.0f);
    b.spread = rng.uniform(1.6f, 2.2f);
    b.bristles = 16 + rng.below(10);
    b.bristleWidth = rng.uniform(2.5f, 4.0f);
    b.clumping = rng.uniform(0.0f, 0.3f);
    b.load = rng.uniform(1.0f, 1.3f);
    b.depletion = 0.5f;
    b.skip = rng.uniform(0.1f, 0.3f);
    b.startWidth = 0.7f;
    b.endWidth = 1.0f;
    b.startCap = 0.3f;
    b.endCap = 0.2f;
    b.runOut = 0.55f;
    b.ragged = 1.0f;
    const float turn = (i % 2 ? 1.0f : -1.0f) * rng.uniform(0.4f, 0.9f);
    marks.push_back({rng.uniform(130.0f, 170.0f), tilt(0.3f), turn, 0.0f, 0.0f, b});
  }
  // Commas: a loaded touch-down, then a tapering curl.
  for (int i = 0; i < 3; ++i) {
    BristleBrush b = Flat(rng.uniform(56.0f, 80.0f), 28 + rng.below(12), rng.uniform(1.4f, 1.7f),
                          rng.uniform(0.1f, 0.3f));
    b.startCap = 1.0f;
    b.endCap = 0.5f;
    b.startWidth = 1.0f;
    b.endWidth = 0.08f;
    b.attack = 0.02f;
    b.release = 0.75f;
    b.loadedStart = 0.6f;
    b.runOut = 0.6f;
    const float hook = (i % 2 ? 1.0f : -1.0f) * rng.uniform(1.0f, 1.6f);
    marks.push_back({rng.uniform(150.0f, 200.0f), tilt(0.4f), 0.2f * hook, 0.0f, hook, b});
  }
  // Rake marks: a worn brush whose bristles have parted into a few clumps.
  for (int i = 0; i < 2; ++i) {
    BristleBrush b;
    b.width = rng.uniform(60.0f, 80.0f);
    b.bristles = 7 + rng.below(4);
    b.bristleWidth = rng.uniform(5.0f, 7.5f);
    b.clumping = 0.0f;
    b.load = rng.uniform(1.1f, 1.4f);
    b.depletion = 0.6f;
    b.skip = 0.3f;
    b.runOut = 0.55f;
    b.endWidth = 0.8f;
    b.ragged = 0.5f;
    marks.push_back({rng.uniform(170.0f, 220.0f), tilt(0.3f), tilt(0.5f), 0.0f, 0.0f, b});
  }
  for (auto& m : marks) m.brush.seed = uint32_t(rng.next());
  return marks;
}

}  // namespace

QImage DrawDefaultBrushes() {
  const Rng rng(0xB2E5110Cu);
  const std::vector<Mark> marks = Marks(rng.fork(1));
  std::vector<Field> cells;
  Rng toothRng = rng.fork(2);
  const StrokePoint centre{0.5f * kBrushCell, 0.5f * kBrushCell};
  for (const Mark& m : marks) {
    ToothOptions tooth;
    tooth.grainSize = 1.8f;
    tooth.octaves = 3;
    tooth.persistence = 0.6f;
    const Field grain = PaperTooth(kBrushCell, kBrushCell, tooth, uint32_t(toothRng.next()));
    cells.push_back(
        DrawBrushCellStroke(StrokePath::Gesture(m.length, m.angle, m.turn, m.sBend, m.hook, centre),
                            m.brush, grain, m.anchor));
  }
  static_assert(kBrushes <= kRows * kBrushSheetColumns);
  if (cells.size() != kBrushes) return QImage();
  return MakeBrushSheet("DefaultBrushes", cells, kRows);
}

}  // namespace assetgen
