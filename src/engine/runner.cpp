#include "engine/runner.h"

#include "engine/catalogue.h"
#include "engine/effect_registry.h"
#include "engine/numeric.h"

#include <QCoreApplication>
#include <chrono>
#include <cmath>

namespace quillora {

std::atomic<uint32_t> LastUiUpdateTick{0};

uint32_t TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The per-thread run context: which runner the thread works for, and whether it is a
// preview of which generation (ThreadIsPreview, ThreadPreviewGeneration). Interface
// calls made through SynchronizeUi and QueueUi carry the context with them.
struct RunContext {
  EffectRunner* runner = nullptr;
  bool isPreview = false;
  int generation = 0;
};

namespace {
thread_local const RunContext* t_context = nullptr;

class ContextScope {
 public:
  explicit ContextScope(const RunContext* c) : saved_(t_context) { t_context = c; }
  ~ContextScope() { t_context = saved_; }

 private:
  const RunContext* saved_;
};

}  // namespace

// Gives the free service functions access to the runner's private state.
struct RunContextAccess {
  static std::atomic<int>& generation(EffectRunner& r) { return r.FPreviewGeneration; }
  static std::atomic<bool>& cancel(EffectRunner& r) { return r.Cancel; }
  static std::atomic<int>& percent(EffectRunner& r) { return r.progressPercent_; }
  static const std::shared_ptr<Lifetime>& life(EffectRunner& r) { return r.life_; }
  static void clearBusyIf(EffectRunner& r, int id) { r.ClearBusyIf(id); }
};

namespace {

bool IsStalePreview(const RunContext& c) {
  return c.isPreview && c.generation != RunContextAccess::generation(*c.runner).load();
}

bool CancelledFor(const RunContext& c) {
  if (!c.runner) return false;
  if (c.isPreview) return IsStalePreview(c);
  return RunContextAccess::cancel(*c.runner).load();
}

// Sends a value to the progress bar on the interface thread. A value outside 0..100
// means finished; coming from a full render it also frees the busy marker, but a
// preview's finishing value never frees a full render that is still running.
void SendProgress(EffectRunner& runner, int percent, int fullRenderId) {
  runner.host().UpdateProgress(percent);
  if ((percent < 0 || percent > 100) && fullRenderId >= 0)
    RunContextAccess::clearBusyIf(runner, fullRenderId);
}

int FullRenderIdOf(const RunContext& c) {
  return c.isPreview ? -1 : c.runner->CurrentEffectNumber();
}

void QueueProgress(const RunContext& c, int percent) {
  EffectRunner* runner = c.runner;
  const int fullId = FullRenderIdOf(c);
  UiDispatcher::Queue([runner, percent, fullId] { SendProgress(*runner, percent, fullId); },
                      RunContextAccess::life(*runner));
}

}  // namespace

// ---- services --------------------------------------------------------------------

bool EffectCancelled() {
  const RunContext* c = t_context;
  return c ? CancelledFor(*c) : false;
}

bool CancelRequested() {
  const RunContext* c = t_context;
  return c && c->runner ? RunContextAccess::cancel(*c->runner).load() : false;
}

void CheckCancellation() {
  const RunContext* c = t_context;
  if (!c || !CancelledFor(*c)) return;
  QueueProgress(*c, 101);
  throw EEffectAborted();
}

void SafeUpdateProgress(int percent) {
  const RunContext* c = t_context;
  if (!c || !c->runner) return;
  const uint32_t now = TickCount();
  if (c->runner->ManualBrushOpen()) {
    if (uint32_t(now - LastUiUpdateTick.load()) > 150) {
      LastUiUpdateTick.store(now);
      EffectRunner* runner = c->runner;
      const int fullId = FullRenderIdOf(*c);
      SynchronizeUi([runner, percent, fullId] { SendProgress(*runner, percent, fullId); });
    }
    return;
  }
  if (CancelledFor(*c)) {
    QueueProgress(*c, 101);
    throw EEffectAborted();
  }
  if (uint32_t(now - LastUiUpdateTick.load()) <= 50 && percent >= 1 && percent <= 100) return;
  LastUiUpdateTick.store(now);
  QueueProgress(*c, percent);
}

void SafeUpdatePreview(Surface& surface, int percent) {
  const RunContext* c = t_context;
  if (!c || !c->runner) return;
  EffectRunner* runner = c->runner;
  if (runner->ManualBrushOpen()) return;
  if (IsStalePreview(*c)) return;
  if (CancelledFor(*c)) throw EEffectAborted();
  RunContextAccess::percent(*runner).store(percent);
  const uint32_t now = TickCount();
  if (uint32_t(now - LastUiUpdateTick.load()) > 50 || percent > 100 || percent <= 0) {
    LastUiUpdateTick.store(now);
    const Image snap = surface.snapshot();
    const RunContext ctx = *c;
    // Checked again on arrival: a newer preview may have been requested meanwhile,
    // and a stale picture must never reach the pane.
    UiDispatcher::Queue(
        [ctx, snap, percent] {
          if (IsStalePreview(ctx)) return;
          ctx.runner->host().SetPreviewBitmap(snap, percent);
        },
        RunContextAccess::life(*runner));
  }
}

void ShowIntermediateImage(const Image& image, int percent) {
  const RunContext* c = t_context;
  if (!c || !c->runner) return;
  EffectRunner& runner = *c->runner;
  if (!runner.ManualBrushOpen()) {
    runner.host().SetResultImage(image);
    runner.host().RedrawMainView();
  }
  if (percent >= 0) SendProgress(runner, percent, FullRenderIdOf(*c));
}

bool SynchronizeUi(const std::function<void()>& fn) {
  const RunContext* c = t_context;
  if (!c || !c->runner) return UiDispatcher::Synchronize(fn);
  return UiDispatcher::Synchronize(
      [c, &fn] {
        ContextScope scope(c);
        fn();
      },
      RunContextAccess::life(*c->runner));
}

void QueueUi(std::function<void()> fn) {
  const RunContext* c = t_context;
  if (!c || !c->runner) {
    UiDispatcher::Queue(std::move(fn));
    return;
  }
  const RunContext ctx = *c;
  UiDispatcher::Queue(
      [ctx, fn = std::move(fn)] {
        ContextScope scope(&ctx);
        fn();
      },
      RunContextAccess::life(*c->runner));
}

EffectHost* CurrentHost() {
  const RunContext* c = t_context;
  return c && c->runner ? &c->runner->host() : nullptr;
}

// ---- runner ----------------------------------------------------------------------

EffectRunner::EffectRunner(EffectHost& host) : host_(host), life_(std::make_shared<Lifetime>()) {}

EffectRunner::~EffectRunner() { Shutdown(); }

void EffectRunner::Shutdown() {
  {
    std::lock_guard lock(EffectLock);
    EffectsShuttingDown = true;
  }
  Cancel.store(true);
  UiDispatcher::Close(life_);
  std::list<Worker> workers;
  {
    std::lock_guard lock(workersMutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers)
    if (w.thread.joinable()) w.thread.join();
}

int EffectRunner::ActiveWorkers() {
  std::lock_guard lock(workersMutex_);
  int n = 0;
  for (const Worker& w : workers_)
    if (!w.done.load()) ++n;
  return n;
}

void EffectRunner::JoinFinishedWorkers() {
  std::lock_guard lock(workersMutex_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done.load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void EffectRunner::ClearBusyIf(int effectId) {
  int expected = effectId;
  FCurrentEffectNumber.compare_exchange_strong(expected, -1);
}

void EffectRunner::ProcessEffect(int effectId, int P1, int P2, int P3, int P4, int P5,
                                 bool preview) {
  if (life_->closed()) return;
  if (host_.ResultImage().isEmpty()) {
    host_.ShowMessage(Translate(QStringLiteral("No image loaded")));
    return;
  }
  if (!preview) {
    std::unique_lock lock(EffectLock);
    const int running = FCurrentEffectNumber.load();
    if (running != -1) {
      lock.unlock();
      host_.ShowMessage(Translate(QStringLiteral("Please wait for ")) + QLatin1Char('"') +
                        GetEffectName(running) + QLatin1Char('"') +
                        Translate(QStringLiteral(" to finish processing.")));
      return;
    }
    FCurrentEffectNumber.store(effectId);
  }

  Request req;
  req.effectId = effectId;
  req.P[0] = P1;
  req.P[1] = P2;
  req.P[2] = P3;
  req.P[3] = P4;
  req.P[4] = P5;
  req.preview = preview;
  if (preview) {
    req.generation = FPreviewGeneration.fetch_add(1) + 1;
    req.eraseBackground = false;
  } else {
    req.generation = 0;
    req.eraseBackground = host_.EraseBackgroundChecked();
  }
  {
    std::lock_guard lock(EffectLock);
    EffectsShuttingDown = false;
  }

  JoinFinishedWorkers();
  std::lock_guard lock(workersMutex_);
  Worker& w = workers_.emplace_back();
  w.thread = std::thread([this, req, &w] {
    WorkerRun(req);
    w.done.store(true);
  });
}

bool EffectRunner::RunStillValid(const Request& req) const {
  if (req.preview) return req.generation == FPreviewGeneration.load();
  return !Cancel.load();
}

void EffectRunner::CancelBranch(const Request& req) {
  SynchronizeUi([this, &req] {
    host_.SaveHistory();
    ClearBusyIf(req.effectId);
    host_.RedrawMainView();
  });
}

void EffectRunner::WorkerRun(const Request& req) {
  const RunContext ctx{this, req.preview, req.generation};
  ContextScope scope(&ctx);
  const bool full = !req.preview;

  // Everything up to the result step; returning from it goes to the final step.
  auto body = [&] {
    // Only a full render resets the cancel flag: previews never read it, and a preview
    // started while a cancelled render winds down would otherwise undo the user's Escape.
    if (!SynchronizeUi([this, full] {
          if (full) Cancel.store(false);
        }))
      return;

    Image source;
    if (!SynchronizeUi([&] { source = host_.SourceImage(); })) return;
    if (source.isEmpty() || !RunStillValid(req)) return;

    std::unique_ptr<Surface> surface;
    int paneW = 0, paneH = 0;
    if (req.preview) {
      float zoom = 1.0f;
      QPoint start;
      const int srcW = source.width(), srcH = source.height();
      if (!SynchronizeUi([&] {
            const PreviewPaneInfo pane = host_.PreviewPane();
            paneW = pane.width;
            paneH = pane.height;
            zoom = pane.zoom;
            const int w0 = RoundEven(double(paneW) / double(zoom));
            const int h0 = RoundEven(double(paneH) / double(zoom));
            start = host_.PreviewStart();
            if (srcW - w0 < start.x()) start.setX(std::max(srcW - w0, 0));
            if (srcH - h0 < start.y()) start.setY(std::max(srcH - h0, 0));
            start.setX(std::max(start.x(), 0));
            start.setY(std::max(start.y(), 0));
            host_.SetPreviewStart(start);
          }))
        return;
      if (req.generation != FPreviewGeneration.load()) return;
      int w = std::min(RoundEven(double(paneW) / double(zoom)), srcW - start.x());
      int h = std::min(RoundEven(double(paneH) / double(zoom)), srcH - start.y());
      if (w <= 0) w = std::min(paneW, srcW);
      if (h <= 0) h = std::min(paneH, srcH);
      if (start.x() + w > srcW) w = srcW - start.x();
      if (start.y() + h > srcH) h = srcH - start.y();
      if (w <= 0 || h <= 0) return;
      source = source.subset(QRect(start.x(), start.y(), w, h));
      if (source.isEmpty() || !RunStillValid(req)) return;
      surface = std::make_unique<Surface>(w, h);
    } else {
      surface = std::make_unique<Surface>(source.width(), source.height());
    }
    if (!surface || !RunStillValid(req)) return;

    const TEffectProc proc = EffectProcFor(req.effectId);
    if (!proc) return;
    if (NeedsBrushSetup(req.effectId))
      if (!SynchronizeUi([&] { host_.BrushSetup(req.effectId); })) return;

    {
      std::unique_lock lock(EffectLock);
      if (EffectsShuttingDown) {
        lock.unlock();
        if (full) CancelBranch(req);
        return;
      }
    }
    proc(source, *surface, req.P[0], req.P[1], req.P[2], req.P[3], req.P[4], req.preview);

    if (req.preview) {
      if (!RunStillValid(req)) return;
    } else if (Cancel.load()) {
      CancelBranch(req);
      return;
    }

    surface->flush();
    Image snap = surface->snapshot();
    if (snap.isEmpty() || !RunStillValid(req)) return;
    SynchronizeUi([&] {
      const StoredTextureSettings tex = host_.StoredTexture();
      if (tex.addTexture && !tex.bitmap.isEmpty()) {
        if (TextureOverlayProc overlay = GetTextureOverlayProc())
          snap = overlay(snap, tex.bitmap, RoundEven(tex.strength), tex.scale);
      }
      if (req.preview) {
        if (RunStillValid(req) && paneW > 0 && paneH > 0) {
          Surface pane(paneW, paneH);
          pane.clear(0xFFFFFFFF);
          pane.drawImageRect(snap, QRectF(0, 0, snap.width(), snap.height()),
                             QRectF(0, 0, paneW, paneH), gfx::Sampling::Cubic);
          host_.SetPreviewBitmap(pane.snapshot(), -1);
        }
      } else if (!Cancel.load()) {
        host_.SetResultImage(snap);
        host_.SaveHistory();
        host_.RedrawMainView();
        ClearBusyIf(req.effectId);
      }
    });
  };

  try {
    body();
  } catch (const EEffectAborted&) {
    if (full) {
      try {
        SynchronizeUi([&] {
          host_.SaveHistory();
          ClearBusyIf(req.effectId);
        });
      } catch (...) {
        // A failing history save must not escape the worker; the busy marker is
        // freed below in any case.
      }
    }
  } catch (...) {
    // Effect errors are swallowed by design; the busy marker is freed below and the
    // progress bar is hidden by the host's clean-up timer.
  }
  if (full) ClearBusyIf(req.effectId);
}

void EffectRunner::ProcessEffectOnSurface(const Image& source, Surface& dest, int effectId,
                                          int P1, int P2, int P3, int P4, int P5) {
  const RunContext ctx{this, false, 0};
  ContextScope scope(&ctx);
  const TEffectProc proc = EffectProcFor(effectId);
  if (!proc) return;
  if (NeedsBrushSetup(effectId)) SynchronizeUi([&] { host_.BrushSetup(effectId); });
  proc(source, dest, P1, P2, P3, P4, P5, false);
}

}  // namespace quillora
