// The contract between effect routines and the runner.
//
// An effect routine draws its picture of `Source` into `Dest` (same size, transparent,
// premultiplied BGRA8888) on a worker thread. It talks to the interface only through
// the services below, which the runner backs with a per-thread run context: progress,
// intermediate pictures, cancellation, and calls onto the interface thread.
#pragma once

#include "gfx/image.h"
#include "gfx/surface.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace quillora {

using gfx::Image;
using gfx::Surface;

using TEffectProc = void (*)(const Image& Source, Surface& Dest, int P1, int P2, int P3, int P4,
                             int P5, bool Preview);

// Raised at the cancellation points of a cancelled or stale run; caught by the runner.
class EEffectAborted {};

class EffectRunner;
class EffectHost;

// Progress of a full render: 0..100 shows the progress bar, 101 means finished.
// Raises EEffectAborted when the run is cancelled. Throttled to one update per 50 ms
// (values outside 1..100 always pass).
void SafeUpdateProgress(int percent);
// Shows an intermediate picture of `surface` in the preview pane. Dropped on a stale
// preview; raises EEffectAborted when the run is cancelled.
void SafeUpdatePreview(Surface& surface, int percent);
// Raises EEffectAborted when the run is cancelled (queueing the progress value 101).
void CheckCancellation();
// True on a preview thread when a newer preview was requested; otherwise the
// runner's cancel flag.
bool EffectCancelled();
// On the interface thread, inside an effect's own interface call: shows `image` as
// the current result (unless the manual brush is open) and, for percent >= 0, sends
// the percentage to the progress bar.
void ShowIntermediateImage(const Image& image, int percent);

// Runs fn on the interface thread and waits; inside fn the run context of the calling
// worker is in force, so CurrentHost() and the services work. Returns false when the
// runner is closing and the call was dropped.
bool SynchronizeUi(const std::function<void()>& fn);
// Posts fn to the interface thread with the calling worker's run context.
void QueueUi(std::function<void()> fn);

// The host of the current run (the main window, the command line, a test), or nullptr
// outside a run. Only to be used on the interface thread (inside SynchronizeUi).
EffectHost* CurrentHost();
// The runner's cancel flag as the interface sets it (what effect closures test before
// showing an intermediate picture).
bool CancelRequested();

// Millisecond tick of the last forwarded preview or progress update; differences are
// taken in unsigned 32-bit arithmetic. Effects reset it to 0 to force their final
// picture through.
extern std::atomic<uint32_t> LastUiUpdateTick;
uint32_t TickCount();

}  // namespace quillora
