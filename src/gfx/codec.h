// Decoding and encoding of image files: the one place the program meets Qt's image
// plugins.
//
// Decoding accepts every format the installed plugins read (JPEG, PNG, BMP, GIF, TIFF,
// WebP and the rest), decided by the content, never by the file name. There is no size
// limit of our own: an image is refused only when this machine's memory cannot hold
// its decode (see DecodeImageFile). Camera orientation (the Exif orientation tag of
// JPEG, the TIFF orientation) is applied, so photos arrive upright, as every viewer
// shows them.
//
// Encoding is in memory; writing files is the save path's business (formats/image_save.h).
// Every encoded image claims 300 dpi in the format's own resolution field (JFIF density
// for JPEG, pHYs for PNG), so those fields agree with the 300 dpi Exif block and pHYs
// chunk the save path writes.
//
// All functions may be called from any thread; failures throw Error with a message a
// user can read.
#pragma once

#include "gfx/image.h"

#include <QByteArray>
#include <QString>

namespace gfx {

// Decodes the file at `path` into a premultiplied image of its full size. Throws Error
// when the file cannot be opened, is not an image in a readable format, cannot be
// decoded, or is too large for the memory available. Never returns an empty image.
Image DecodeImageFile(const QString& path);
// The same for encoded bytes held in memory.
Image DecodeImageData(const QByteArray& data);

enum class FileFormat { Jpeg, Png, WebP };

// 300 dpi in pixels per metre (300 / 0.0254, rounded), the resolution every saved
// image claims.
inline constexpr int kDotsPerMeter300Dpi = 11811;

// Encodes `image` and returns the file's bytes. `quality` (0..100, clamped) drives the
// lossy JPEG and WebP encoders; PNG is lossless and keeps Qt's default compression.
// PNG and WebP keep the alpha channel. JPEG has none: translucent pixels are
// composited over opaque white, as they look on paper (Qt would drop them onto black).
// Throws Error for an empty image, for sizes the format cannot hold (JPEG 65500,
// WebP 16383 pixels a side), or when the encoder fails.
QByteArray EncodeImage(const Image& image, FileFormat format, int quality = 80);

}  // namespace gfx
