// Helpers shared by the tests: tiny images, pixel comparison, waiting on the event loop.
#pragma once

#include "gfx/image.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace testutil {

// An image from unpremultiplied 0xAARRGGBB words, row by row.
gfx::Image MakeImage(int width, int height, const std::vector<uint32_t>& argb);
gfx::Image SolidImage(int width, int height, uint32_t argb);
// The pixel (x, y) unpremultiplied, as 0xAARRGGBB.
uint32_t PixelAt(const gfx::Image& image, int x, int y);
uint32_t PremultipliedAt(const gfx::Image& image, int x, int y);
// The largest per-channel difference between two premultiplied images of one size.
int MaxChannelDifference(const gfx::Image& a, const gfx::Image& b);

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000);

QString TestDataPath(const QString& name);
QString PhotoPath(const QString& name);

}  // namespace testutil

namespace testutil {

// Compares `actual` with the reference PNG tests/data/golden/NAME.png: every channel
// within `tolerance`, fully transparent pixels equal whatever their colour. On a
// mismatch writes NAME.actual.png and NAME.diff.png into the test's working folder
// and fails; a missing reference fails too. QUILLORA_UPDATE_GOLDEN=1 rewrites the
// reference instead.
void ExpectMatchesGolden(const gfx::Image& actual, const QString& name, int tolerance = 0);

}  // namespace testutil
