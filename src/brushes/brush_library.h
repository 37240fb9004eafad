// Brush sheets for the stroke-based painting effects: loading the user's custom brushes
// into a sheet, choosing the working sheet before an effect starts, cutting a sheet into
// brush images, and the principal-axis angle of a brush.
//
// A brush sheet is 2048 pixels wide and a multiple of 256 high: cells of 256 x 256, 8 a
// row, cell k at x = 256 (k mod 8), y = 256 (k div 8). A brush is black with its coverage
// in alpha on a transparent background; an empty cell is fully transparent. The working
// sheet is the holder's picture "Brushes" (TForm3).
//
// Custom brushes come from files the user picks, so everything read from them is
// untrusted. What the loader does with each kind of input:
//   - a ".zip" file that cannot be opened as a ZIP archive (missing, unreadable, not a
//     ZIP, truncated) THROWS gfx::Error; nothing is changed.
//   - a ".png" file or archive entry that cannot be decoded is SKIPPED, and so is one
//     that is encrypted, compressed with a method we cannot read, fails its checksum,
//     inflates past kMaxEntryBytes or past the size it declares (ZIP bombs, lying
//     headers), has an absolute name or a ".." in its path, or declares an image above
//     kMaxImagePixels. Reading stops at our own byte cap whatever the archive claims.
//   - once kMaxBrushes brushes are collected, or the load has inflated
//     kMaxTotalEntryBytes or decoded kMaxTotalPixels, the remaining files and entries
//     are LEFT OUT; the brushes collected so far are kept.
// Only entry data is ever read into memory; nothing is written to disk.
//
// BuildBrushSheet, the extraction functions and ComputeBrushAngle may run on any thread.
// LoadBrushesToRepository, the button actions and the set-up change the working sheet
// and the main window's state, so they belong to the interface thread.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "gfx/image.h"

namespace quillora {

inline constexpr int kBrushCellSize = 256;
inline constexpr int kBrushCellsPerRow = 8;
inline constexpr int kBrushSheetWidth = kBrushCellSize * kBrushCellsPerRow;
// The brushes of the built-in default sheet, which effect 304 uses without custom brushes.
inline constexpr int kDefaultBrushCount = 40;

// 256 brushes make a 2048 x 8192 sheet of 64 MB. Effect 304 cuts all of them into
// separate images for every run (another 64 MB, per preview in flight), and 302 and 303
// cut every cell, so the sheet's size is paid several times over; 256 is six times the
// built-in sheet and more than typical brush packs hold, while 1024 would mean 256 MB a
// copy.
inline constexpr int kMaxBrushes = 256;
// Brush PNGs are black with alpha and compress well; 64 MB of PNG data is far beyond any
// real brush and bounds what one lying or bombed entry can cost.
inline constexpr int64_t kMaxEntryBytes = int64_t(64) << 20;
// All archive entries of one load together: bounds the inflate time of an archive that
// holds many bombs (a few seconds of zlib work at most).
inline constexpr int64_t kMaxTotalEntryBytes = int64_t(1) << 30;
// One image: 6000 x 6000 (144 MB decoded). Every brush ends up in a 256-pixel cell, so
// larger pictures buy nothing; the image is decoded, packed and dropped before the next.
inline constexpr int64_t kMaxImagePixels = 36'000'000;
// All images of one load: bounds the decode time (some seconds of PNG decoding at most).
inline constexpr int64_t kMaxTotalPixels = int64_t(1) << 30;

struct TBrushLoadLimits {
  int maxBrushes = kMaxBrushes;
  int64_t maxEntryBytes = kMaxEntryBytes;
  int64_t maxTotalEntryBytes = kMaxTotalEntryBytes;
  int64_t maxImagePixels = kMaxImagePixels;
  int64_t maxTotalPixels = kMaxTotalPixels;
};

// What a load met, for diagnostics and tests.
struct TBrushLoadReport {
  int skipped = 0;             // PNG files and entries that gave no brush
  bool limitReached = false;   // something was left out because a load-wide cap was hit
  int64_t entryBytesRead = 0;  // bytes inflated from archive entries
};

struct TBrushSheet {
  gfx::Image sheet;  // empty when count is 0
  int count = 0;
};

// Packs the brush images found in `FileNames` into a new sheet without touching the
// working sheet. Files are taken in order by their lower-cased extension: ".zip"
// archives contribute every entry, in archive order and from every folder, whose
// lower-cased extension is ".png"; ".png" files contribute themselves; other files are
// ignored. Image i goes to cell i, scaled by min(256 / w, 256 / h) (small images are
// enlarged) and centred, with nearest sampling; it keeps its own colours and alpha.
// Throws gfx::Error for an archive that cannot be opened (see above) or when memory for
// the sheet cannot be had.
TBrushSheet BuildBrushSheet(const QStringList& FileNames, const TBrushLoadLimits& limits = {},
                            TBrushLoadReport* report = nullptr);

// BuildBrushSheet, then the sheet becomes the working sheet "Brushes". Returns the
// number of brushes; with 0 the working sheet is unchanged. Throws as BuildBrushSheet,
// and then too the working sheet is unchanged.
int LoadBrushesToRepository(const QStringList& FileNames);

// The main window's custom-brush state. Interface-thread data: effects read it only
// through synchronised calls.
struct TCustomBrushState {
  bool CustomBrushesOn302 = false;
  bool CustomBrushesOn303 = false;
  bool CustomBrushesOn304 = false;
  gfx::Image CustomBrushBitmap302;
  gfx::Image CustomBrushBitmap303;
  gfx::Image CustomBrushBitmap304;
  int CustomBrushCount304 = 0;
  // The number of brushes effect 304 takes from its sheet.
  int GlobalBrushCount = kDefaultBrushCount;
};

struct TBrushLoadStatus {
  bool ok = false;
  int count = 0;  // brushes loaded
  // When !ok: the translated "Error loading custom brushes" to show, and, when an
  // archive could not be opened, the reason (untranslated, from the error) to add to it.
  QString message;
  QString detail;
};

// The "Load custom brushes" action after the open dialog (the window shows the dialog
// and skips this on Cancel). Loads `FileNames` into the working sheet and sets
// GlobalBrushCount to the number loaded; when that is 0 the status carries the message.
// Otherwise the selected effect (302, 303 or 304) gets the new sheet as its custom sheet
// and is switched to it; effect 304 also keeps the count. An archive that cannot be
// opened gives the message with the reason and leaves the state and the working sheet
// as they were. On success the window restarts the preview timer.
TBrushLoadStatus LoadCustomBrushes(TCustomBrushState& state, int selectedEffect,
                                   const QStringList& FileNames);

// The "Reset brushes" action: the selected effect (302, 303 or 304) stops using its
// custom sheet, which stays in memory. The window then restarts the preview timer.
void ResetCustomBrushes(TCustomBrushState& state, int selectedEffect);

// The brush set-up the runner performs on the interface thread before effects 302, 303,
// 304 and 307 start: chooses the working sheet (and for 304 GlobalBrushCount) from the
// effect's custom sheet when it is active, else from the built-in sheet. Other effects
// are left alone. A missing built-in picture leaves the working sheet empty, which the
// effects survive.
void ApplyBrushSetup(int effectId, TCustomBrushState& state);

// Every cell of `sheet` that holds a brush, in cell order (effects 302 and 303). Cells
// are taken while they lie wholly inside the sheet; a cell counts as a brush when one of
// the pixels at x = 128 and y = 64, 96, 128, 160, 192 of the cell has alpha above 10, so
// a brush that misses the cell's vertical centre line is not used.
std::vector<gfx::Image> ExtractSheetBrushes(const gfx::Image& sheet);

struct TBrushSet {
  std::vector<gfx::Image> images;  // 256 x 256 each
  std::vector<float> angles;       // ComputeBrushAngle of each image
};

// Cells 0 .. count - 1 of `sheet` with their angles (effect 304), without bounds or
// emptiness tests: what lies beyond the sheet is transparent.
TBrushSet ExtractCountedBrushes(const gfx::Image& sheet, int count);

// The principal axis of the image's coverage in radians, 0.5 atan2(2 mu11, mu20 - mu02)
// of the alpha moments (in double precision) over the pixels with alpha >= `minAlpha`;
// 0 when the total alpha of those pixels is below `minTotalAlpha`. y points down, so a
// stroke from the top left to the bottom right gives +pi/4. The defaults are the plain
// rule (every pixel with alpha > 0, 0 for an empty image); effects that ignore faint
// pixels pass their own.
float ComputeBrushAngle(const gfx::Image& image, int minAlpha = 1, double minTotalAlpha = 1.0);

}  // namespace quillora
