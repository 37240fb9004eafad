// Byte-level rewrites that make saved JPEG and PNG files say 300 dpi in the places
// print and layout programs read: an Exif resolution block in JPEG, a pHYs chunk in PNG.
//
// Both rewrites are bounds-checked walks over the file's own structure. Input they
// cannot walk safely (not the format, truncated, segment or chunk lengths that do not
// fit) comes back unchanged: a file we do not understand is never cut or padded. Both
// are idempotent, so running one twice gives the same bytes as running it once.
#pragma once

#include <QByteArray>
#include <QString>

namespace quillora {

// Returns `jpeg` with a 76-byte Exif APP1 segment that holds only X and Y resolution
// 300/1 and unit inch. The segment goes right after the first APP0 (JFIF) segment or,
// without one, before the first marker that is neither APP0 nor APP1. Every Exif APP1
// segment of the header is dropped, since its resolution would contradict ours; other
// APP1 segments (XMP) and the rest of the file are kept byte for byte.
QByteArray SetJPEGDPITo300(const QByteArray& jpeg);

// Returns `png` with one pHYs chunk of 11811 x 11811 pixels per metre (300 dpi) right
// after IHDR, and every pHYs chunk it had before removed: a PNG may hold only one.
QByteArray InsertPngDPI300(const QByteArray& png);

// The same rewrites of the file at `path`, in place. A missing file is no error and is
// left alone, as is a file the rewrite would not change. The file is replaced in one
// step (see WriteFileAtomically), so a failure never leaves it half written. Throws
// gfx::Error when the file cannot be read or replaced.
void SetJPEGDPITo300(const QString& path);
void InsertPngDPI300(const QString& path);

}  // namespace quillora
