#include "gfx/parallel.h"

#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

namespace gfx {

int ParallelThreads() { return std::max(1, QThreadPool::globalInstance()->maxThreadCount()); }

void ParallelFor(int count, const std::function<void(int, int)>& fn, int minPerBand) {
  ParallelFor(QThreadPool::globalInstance(), count, fn, minPerBand);
}

void ParallelFor(QThreadPool* pool, int count, const std::function<void(int, int)>& fn,
                 int minPerBand) {
  if (count <= 0) return;
  minPerBand = std::max(1, minPerBand);
  const int threads = std::max(1, pool->maxThreadCount());
  // A few bands per thread balance uneven rows without much overhead.
  int bands = std::min(threads * 4, (count + minPerBand - 1) / minPerBand);
  if (bands <= 1 || threads <= 1) {
    fn(0, count);
    return;
  }

  struct Shared {
    std::atomic<int> next{0};
    int bands = 0;
    int count = 0;
    const std::function<void(int, int)>* fn = nullptr;
    std::mutex m;
    std::condition_variable cv;
    int running = 0;  // bands taken and not yet finished, guarded by m
    std::exception_ptr error;
  };
  auto shared = std::make_shared<Shared>();
  shared->bands = bands;
  shared->count = count;
  shared->fn = &fn;

  // Takes bands until none is left. Every band is counted in `running` before its
  // index is drawn, so the waiter below cannot miss one.
  auto work = [](Shared& s) {
    for (;;) {
      {
        std::lock_guard lock(s.m);
        ++s.running;
      }
      const int b = s.next.fetch_add(1);
      if (b < s.bands) {
        const int begin = int(int64_t(s.count) * b / s.bands);
        const int end = int(int64_t(s.count) * (b + 1) / s.bands);
        try {
          (*s.fn)(begin, end);
        } catch (...) {
          std::lock_guard lock(s.m);
          if (!s.error) s.error = std::current_exception();
        }
      }
      std::lock_guard lock(s.m);
      --s.running;
      if (b >= s.bands) {
        s.cv.notify_all();
        return;
      }
    }
  };

  const int helpers = std::min(threads, bands) - 1;
  for (int i = 0; i < helpers; ++i) pool->start([shared, work] { work(*shared); });
  work(*shared);
  std::unique_lock lock(shared->m);
  shared->cv.wait(lock, [&] { return shared->running == 0; });
  if (shared->error) std::rethrow_exception(shared->error);
}

}  // namespace gfx
