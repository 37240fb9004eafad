// The one parallel-loop helper of the core libraries.
#pragma once

#include <functional>

class QThreadPool;

namespace gfx {

// Calls fn(begin, end) on consecutive bands that cover [0, count) exactly once, on the
// calling thread and the threads of QThreadPool::globalInstance(). Bands hold at least
// `minPerBand` items. The calling thread takes bands itself until none is left, so a
// nested call never waits for a band that has not started. Returns when every band is
// done; an exception thrown by fn is rethrown here (the first one) after all started
// bands have finished. fn must only write data no other band writes.
void ParallelFor(int count, const std::function<void(int begin, int end)>& fn,
                 int minPerBand = 16);
// The same on the threads of `pool` instead of the global pool: at most
// pool->maxThreadCount() threads work on the bands, the calling thread included.
void ParallelFor(QThreadPool* pool, int count, const std::function<void(int begin, int end)>& fn,
                 int minPerBand = 16);

// The number of threads ParallelFor spreads work over, the calling thread included.
int ParallelThreads();

}  // namespace gfx
