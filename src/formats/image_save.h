// Saving the result image: the one save path of the desktop program, batch processing
// and the command-line tool, and the name the save dialog proposes.
#pragma once

#include "gfx/image.h"

#include <QByteArray>
#include <QString>

namespace quillora {

// Saves `image` to `path`, the format chosen by the extension (any case): .jpg and
// .jpeg JPEG, .webp WebP, .png PNG, at quality 80. A ".jpg" file then carries the
// 300 dpi Exif block and a ".png" file the 300 dpi pHYs chunk (the lower-case
// extension decides; ".jpeg" and ".webp" stay as encoded, with the encoder's own
// 300 dpi fields).
//
// The file is encoded completely in memory and then written once through
// WriteFileAtomically, so a failed encode, a full disk or a read-only folder never
// leaves a partial file and never damages an existing file of that name.
//
// Throws gfx::Error: "Invalid extension" for any other extension (nothing is written),
// an encoder's message, or "Cannot write <path>: <reason>".
void SaveImageFile(const gfx::Image& image, const QString& path);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so
// readers see the old file or the whole new one, never a part. An existing file's
// permissions are kept. Throws gfx::Error "Cannot write <path>: <reason>".
void WriteFileAtomically(const QString& path, const QByteArray& bytes);

// What the save dialog opens with.
struct SaveProposal {
  QString folder;    // the source file's folder; empty without a source file
  QString fileName;  // without folder
  int filterIndex;   // 1-based in "JPEG Image|PNG Image|WebP Image|All Files": 1 JPEG, 2 PNG
};

// The proposal for a result made from the file `sourceFileName` (empty after a paste,
// the default picture or a gallery image): the source's name without extension, "_QL"
// and its lower-case extension, in the source's folder, with the JPEG filter for .jpg
// and .jpeg and the PNG filter otherwise. An extension the save path cannot write
// (.bmp, .gif, .tiff, none ...) becomes .png, so the proposed name can always be saved.
// Without a source: "Quillora_image.png" with the PNG filter.
SaveProposal ProposedSaveName(const QString& sourceFileName);

}  // namespace quillora
