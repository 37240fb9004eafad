// Brush sheets: brushes in 256 x 256 cells, 8 to a row, black with the coverage in alpha.
//
// The program cuts a sheet cell by cell, rotates each brush about its cell centre and
// stamps it tinted. It drops a cell unless one of the pixels (128, 64), (128, 96),
// (128, 128), (128, 160), (128, 192) has alpha above 10. The effects evaluate a
// rotated stamp only within about 0.7 of its size from the centre, so every brush is
// kept inside a circle around its cell centre, which also keeps it clear of the
// neighbouring cells.
#pragma once

#include "bristle.h"
#include "field.h"

#include <QImage>
#include <vector>

namespace assetgen {

constexpr int kBrushCell = 256;
constexpr int kBrushSheetColumns = 8;
// The radius, from the cell centre, within which a brush lies.
constexpr float kBrushRadius = 122.0f;

// A cell of coverage in [0, 1].
Field EmptyBrushCell();

// Clears whatever lies beyond `radius` of the centre of a square cell of side `cell`,
// fading over the last few pixels, so nothing a stroke threw wide can reach past it.
void KeepInsideCircle(Field& cell, float radius);

// Whether the program's emptiness test would keep this cell as a brush.
bool PassesCentreLineTest(const Field& cell);

// A cell holding one bristle stroke along `gesture` (a path centred on the cell),
// fitted inside the brush circle. The program drops a brush that misses the test
// pixels of the centre column, so the mark is first drawn centred, which lets it use
// the whole cell; if its bristle gaps happen to fall on every test pixel it is drawn
// with other bristles, and failing that with the point `anchor` of the way along (its
// loaded part) on the cell centre.
Field DrawBrushCellStroke(const StrokePath& gesture, const BristleBrush& brush, const Field& tooth,
                          float anchor);

// The sheet: cell k at column k mod 8, row k div 8, black with the cell's coverage as
// alpha; cells beyond `cells` and the background fully transparent. Fails (a null
// image and a message naming `sheetName`) when a brush would be dropped by the
// emptiness test, so a change to the artwork cannot silently lose a brush.
QImage MakeBrushSheet(const char* sheetName, const std::vector<Field>& cells, int rows);

// A single brush image of the coverage's size, black with coverage as alpha.
QImage BlackWithAlpha(const Field& coverage);

}  // namespace assetgen
