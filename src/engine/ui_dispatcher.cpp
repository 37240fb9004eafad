#include "engine/ui_dispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>

namespace quillora {

namespace {

struct SyncCall {
  const std::function<void()>* fn = nullptr;
  std::shared_ptr<Lifetime> life;
  enum class State { Pending, Running, Done, Dropped } state = State::Pending;
  std::exception_ptr error;
};

// Synchronous calls not yet started, so that closing a lifetime can release their
// waiters. Guarded by g_mutex; each waiter sleeps on g_done until its call is Done or
// Dropped.
std::mutex g_mutex;
std::condition_variable g_done;
std::list<std::shared_ptr<SyncCall>> g_pending;

// Runs one call on the interface thread. Each call is posted as an event of its own,
// so synchronous and queued calls run in the order they were made.
void RunCall(const std::shared_ptr<SyncCall>& call) {
  {
    std::lock_guard lock(g_mutex);
    if (call->state != SyncCall::State::Pending) return;
    call->state = SyncCall::State::Running;
    g_pending.remove(call);
  }
  try {
    (*call->fn)();
  } catch (...) {
    call->error = std::current_exception();
  }
  {
    std::lock_guard lock(g_mutex);
    call->state = SyncCall::State::Done;
  }
  g_done.notify_all();
}

}  // namespace

bool UiDispatcher::IsUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

bool UiDispatcher::Synchronize(const std::function<void()>& fn,
                               const std::shared_ptr<Lifetime>& life) {
  if (life && life->closed()) return false;
  if (IsUiThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  call->fn = &fn;
  call->life = life;
  {
    std::lock_guard lock(g_mutex);
    if (life && life->closed()) return false;
    g_pending.push_back(call);
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), [call] { RunCall(call); },
                            Qt::QueuedConnection);
  std::unique_lock lock(g_mutex);
  g_done.wait(lock, [&] {
    return call->state == SyncCall::State::Done || call->state == SyncCall::State::Dropped;
  });
  if (call->state == SyncCall::State::Dropped) return false;
  lock.unlock();
  if (call->error) std::rethrow_exception(call->error);
  return true;
}

void UiDispatcher::Queue(std::function<void()> fn, const std::shared_ptr<Lifetime>& life) {
  if (life && life->closed()) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(
      app,
      [fn = std::move(fn), life] {
        if (life && life->closed()) return;
        fn();
      },
      Qt::QueuedConnection);
}

bool UiDispatcher::RunUntil(const std::function<bool()>& done, int pollMs, int timeoutMs) {
  if (done()) return true;
  if (!QCoreApplication::instance()) return done();
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || (timeoutMs >= 0 && clock.elapsed() > timeoutMs)) loop.quit();
  });
  poll.start(std::max(1, pollMs));
  loop.exec();
  return done();
}

void UiDispatcher::Close(const std::shared_ptr<Lifetime>& life) {
  if (!life) return;
  {
    std::lock_guard lock(g_mutex);
    life->closed_.store(true, std::memory_order_release);
    for (auto it = g_pending.begin(); it != g_pending.end();) {
      if ((*it)->life == life) {
        (*it)->state = SyncCall::State::Dropped;
        it = g_pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  g_done.notify_all();
}

}  // namespace quillora
