#include "brush_sheet.h"

#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace assetgen {

namespace {

// Alpha as the PNG stores it: straight, rounded.
int AlphaOf(float coverage) { return int(std::clamp(std::lround(coverage * 255.0f), 0l, 255l)); }

}  // namespace

Field EmptyBrushCell() { return Field(kBrushCell, kBrushCell, 0.0f); }

void KeepInsideCircle(Field& cell, float radius) {
  const float cx = 0.5f * float(cell.width), cy = 0.5f * float(cell.height);
  constexpr float kFade = 4.0f;
  for (int y = 0; y < cell.height; ++y)
    for (int x = 0; x < cell.width; ++x) {
      const float r = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
      if (r > radius - kFade) cell.at(x, y) *= std::clamp((radius - r) / kFade, 0.0f, 1.0f);
    }
}

bool PassesCentreLineTest(const Field& cell) {
  for (int y : {64, 96, 128, 160, 192})
    if (AlphaOf(cell.at(128, y)) > 10) return true;
  return false;
}

Field DrawBrushCellStroke(const StrokePath& gesture, const BristleBrush& brush, const Field& tooth,
                          float anchor) {
  const StrokePoint centre{0.5f * kBrushCell, 0.5f * kBrushCell};
  Field cell = EmptyBrushCell();
  BristleBrush attemptBrush = brush;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const StrokePath placed = attempt < 4 ? gesture : gesture.through(centre, anchor);
    const StrokePath path = FitStroke(placed, brush, centre, kBrushRadius - 4.0f);
    cell = EmptyBrushCell();
    attemptBrush.seed = HashPoint(attempt, 0xD5, brush.seed);
    DrawBristleStroke(cell, tooth, path, attemptBrush);
    if (PassesCentreLineTest(cell)) break;
  }
  KeepInsideCircle(cell, kBrushRadius);
  return cell;
}

QImage MakeBrushSheet(const char* sheetName, const std::vector<Field>& cells, int rows) {
  QImage sheet(kBrushCell * kBrushSheetColumns, kBrushCell * rows, QImage::Format_ARGB32);
  sheet.fill(0);
  for (size_t k = 0; k < cells.size(); ++k) {
    const Field& cell = cells[k];
    if (!PassesCentreLineTest(cell)) {
      std::fprintf(stderr, "%s: brush %zu misses the cell's centre line\n", sheetName, k);
      return QImage();
    }
    const int ox = int(k % kBrushSheetColumns) * kBrushCell;
    const int oy = int(k / kBrushSheetColumns) * kBrushCell;
    for (int y = 0; y < kBrushCell; ++y) {
      auto* line = reinterpret_cast<QRgb*>(sheet.scanLine(oy + y)) + ox;
      for (int x = 0; x < kBrushCell; ++x) line[x] = qRgba(0, 0, 0, AlphaOf(cell.at(x, y)));
    }
  }
  return sheet;
}

QImage BlackWithAlpha(const Field& coverage) {
  QImage image(coverage.width, coverage.height, QImage::Format_ARGB32);
  for (int y = 0; y < coverage.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < coverage.width; ++x) line[x] = qRgba(0, 0, 0, AlphaOf(coverage.at(x, y)));
  }
  return image;
}

}  // namespace assetgen
