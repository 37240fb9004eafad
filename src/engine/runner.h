// The effect runner: turns a request for one effect with five values, as a preview
// or a full render, into a run of its routine on a worker thread of its own, and
// brings the picture back to the host (the preview pane, or the result and the
// history).
//
// Full renders are exclusive: the busy marker (FCurrentEffectNumber) is tested and set
// under EffectLock. Previews are never refused; each request makes the earlier ones
// stale through the preview generation. The cancel flag stops full renders at the
// routines' cancellation points.
#pragma once

#include "engine/effect_host.h"
#include "engine/effect_services.h"
#include "engine/ui_dispatcher.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace quillora {

class EffectRunner {
 public:
  explicit EffectRunner(EffectHost& host);
  // Shuts down (see Shutdown) and waits for every worker.
  ~EffectRunner();
  EffectRunner(const EffectRunner&) = delete;
  EffectRunner& operator=(const EffectRunner&) = delete;

  // On the interface thread. Starts a preview or a full render and returns at once.
  void ProcessEffect(int effectId, int P1, int P2, int P3, int P4, int P5, bool preview);

  // Runs the effect on the calling thread with Preview false, for the script engine
  // and the manual brush. Does not touch the cancel flag, the busy marker, the history
  // or the display. An identifier without a routine does nothing.
  void ProcessEffectOnSurface(const Image& source, Surface& dest, int effectId, int P1, int P2,
                              int P3, int P4, int P5);

  bool IsEffectRunning() const { return FCurrentEffectNumber.load() != -1; }
  int CurrentEffectNumber() const { return FCurrentEffectNumber.load(); }
  int PreviewGeneration() const { return FPreviewGeneration.load(); }
  bool CancelFlag() const { return Cancel.load(); }
  // Escape, or a closing window: stops a full render at its next cancellation point.
  void SetCancel(bool value) { Cancel.store(value); }
  // Makes every preview in flight stale, as a new preview request does: they stop at
  // their next cancellation point and never show their picture (the preview pane was
  // panned or zoomed past them).
  void InvalidatePreviews() { FPreviewGeneration.fetch_add(1); }
  // While the manual brush panel is open, progress goes straight to the progress bar
  // (150 ms throttle) and intermediate pictures are not shown.
  void SetManualBrushOpen(bool open) { manualBrushOpen_.store(open); }
  bool ManualBrushOpen() const { return manualBrushOpen_.load(); }
  int ProgressPercent() const { return progressPercent_.load(); }

  // The window is being destroyed: sets EffectsShuttingDown and the cancel flag, drops
  // every pending interface call of the workers and waits for them to end. Idempotent.
  void Shutdown();

  // The number of worker threads that have not finished (for tests and the CLI).
  int ActiveWorkers();

  EffectHost& host() { return host_; }

 private:
  struct Request {
    int effectId = 0;
    int P[5] = {};
    bool preview = false;
    bool eraseBackground = false;
    int generation = 0;
    TEffectProc proc = nullptr;
  };
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  friend struct RunContextAccess;
  void WorkerRun(const Request& req);
  bool RunStillValid(const Request& req) const;
  void ClearBusyIf(int effectId);
  void CancelBranch(const Request& req);
  void JoinFinishedWorkers();

  EffectHost& host_;
  std::shared_ptr<Lifetime> life_;

  // Read by workers without locking, hence atomics.
  std::atomic<int> FCurrentEffectNumber{-1};
  std::atomic<int> FPreviewGeneration{0};
  std::atomic<bool> Cancel{false};
  std::atomic<bool> manualBrushOpen_{false};
  std::atomic<int> progressPercent_{0};

  std::mutex EffectLock;  // the busy-marker test-and-set and EffectsShuttingDown
  bool EffectsShuttingDown = false;

  std::mutex workersMutex_;
  std::list<Worker> workers_;
};

}  // namespace quillora
