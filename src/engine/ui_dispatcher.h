// Calls from worker threads onto the user-interface thread.
//
// The interface thread is the thread of the QCoreApplication. Synchronize runs a
// function there and waits for it (inline when already there); Queue posts it and
// returns. A call may carry a `Lifetime`: once the lifetime is closed, its pending
// calls are dropped, new ones are refused and queued ones are skipped, so an owner
// being destroyed never has a late call run against freed state, and a worker
// waiting on a closing owner is released instead of deadlocking it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace quillora {

class Lifetime {
 public:
  bool closed() const { return closed_.load(std::memory_order_acquire); }

 private:
  friend class UiDispatcher;
  std::atomic<bool> closed_{false};
};

class UiDispatcher {
 public:
  static bool IsUiThread();

  // Runs fn on the interface thread and waits. Returns false when the call was
  // dropped (lifetime closed); an exception thrown by fn is rethrown to the caller.
  // Without a QCoreApplication, fn runs inline.
  static bool Synchronize(const std::function<void()>& fn,
                          const std::shared_ptr<Lifetime>& life = nullptr);

  // Posts fn to the interface thread; it is skipped if `life` is closed by then.
  static void Queue(std::function<void()> fn, const std::shared_ptr<Lifetime>& life = nullptr);

  // On the interface thread: runs the event loop (and so the workers' calls) until
  // done() holds, testing it every `pollMs`, or until `timeoutMs` (negative: no limit)
  // has passed. Returns done().
  static bool RunUntil(const std::function<bool()>& done, int pollMs = 5, int timeoutMs = -1);

  // Closes `life` (on the interface thread): pending Synchronize calls carrying it
  // return false at once, later ones are refused.
  static void Close(const std::shared_ptr<Lifetime>& life);
};

}  // namespace quillora
