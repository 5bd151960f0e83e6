#include "app/qt/qt_main_thread_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <exception>

namespace stbup {

QtMainThreadQueue::QtMainThreadQueue() = default;

QtMainThreadQueue::~QtMainThreadQueue() { Shutdown(); }

void QtMainThreadQueue::RunOnMainThread(const std::function<void()>& call) {
  if (QThread::currentThread() == context_.thread()) {
    // A blocking invocation of the own thread would wait for itself.
    if (!closed_) call();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    ++in_flight_;
  }
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      &context_,
      [this, &call, &failure] {
        // closed_ changes only on this thread, so reading it here is safe.
        if (closed_) return;
        try {
          call();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  {
    std::lock_guard lock(mutex_);
    --in_flight_;
  }
  idle_.notify_all();
  if (failure) std::rethrow_exception(failure);
}

void QtMainThreadQueue::Shutdown() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  // A worker counted in flight has posted, or is about to post, its call;
  // delivering it now (it does nothing once closed) lets the worker go.
  while (in_flight_ > 0) {
    lock.unlock();
    QCoreApplication::sendPostedEvents(&context_, QEvent::MetaCall);
    lock.lock();
    idle_.wait_for(lock, std::chrono::milliseconds(5), [this] { return in_flight_ == 0; });
  }
}

}  // namespace stbup
