#include "app/qt/qt_main_thread_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <exception>
#include <memory>

#include "app/qt/gui_turn.h"
#include "loop/hand_over_watch.h"

namespace stbup {

struct QtMainThreadQueue::Call {
  const std::function<void()>* function = nullptr;
  std::exception_ptr failure;
  // Set under the queue's lock once the call has ended, run or dropped; the
  // worker may go.
  std::atomic<bool> settled{false};
};

// Owned by the posted event's functor: it lets the worker go when the event
// ends, whether it was delivered or deleted undelivered (its receiver gone),
// so no worker waits for an event that no longer exists.
struct QtMainThreadQueue::Release {
  QtMainThreadQueue* queue;
  Call* call;
  Release(QtMainThreadQueue* q, Call* c) : queue(q), call(c) {}
  Release(const Release&) = delete;
  Release& operator=(const Release&) = delete;
  ~Release() { queue->Finish(*call); }
};

QtMainThreadQueue::QtMainThreadQueue(GuiTurn* turn)
    : turn_(turn), watch_hand_over_(RunsOnSeveralCpus()) {}

QtMainThreadQueue::~QtMainThreadQueue() { Shutdown(); }

void QtMainThreadQueue::RunOnMainThread(const std::function<void()>& call) {
  if (QThread::currentThread() == context_.thread()) {
    // A call queued to the own thread would wait for itself.
    if (!closed_) call();
    return;
  }
  if (turn_ != nullptr) {
    // A call made inside a call in the turn runs at once, as on the
    // user-interface thread; it was let in before the queue closed.
    if (turn_->Inside()) {
      call();
      return;
    }
    // The user-interface thread, busy with a call or the widgets, mostly
    // waits again within microseconds: watching for its turn that long spares
    // it a wake-up and keeps the replies off it, where one posted call would
    // otherwise draw the next ones after it.
    if (turn_->TryEnter() ||
        (watch_hand_over_ && WatchBriefly([this] { return turn_->TryEnter(); }))) {
      struct Leave {
        GuiTurn& turn;
        ~Leave() { turn.Leave(); }
      } leave{*turn_};
      // closed_ changes in the user-interface thread's turn only.
      if (!closed_) call();
      return;
    }
  }
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    ++in_flight_;
  }
  Call entry;
  entry.function = &call;
  {
    auto release = std::make_shared<Release>(this, &entry);
    QMetaObject::invokeMethod(
        &context_,
        [this, release] {
          Call& posted = *release->call;
          // closed_ changes only on this thread, so reading it here is safe.
          if (closed_) return;
          try {
            (*posted.function)();
          } catch (...) {
            posted.failure = std::current_exception();
          }
        },
        Qt::QueuedConnection);
  }  // from here the event alone holds the release
  {
    const auto lock = AwaitSettled(entry.settled, watch_hand_over_, mutex_, changed_);
    --in_flight_;
  }
  changed_.notify_all();
  if (entry.failure) std::rethrow_exception(entry.failure);
}

void QtMainThreadQueue::Finish(Call& call) {
  {
    std::lock_guard lock(mutex_);
    call.settled.store(true, std::memory_order_release);
  }
  changed_.notify_all();
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
    changed_.wait_for(lock, std::chrono::milliseconds(5), [this] { return in_flight_ == 0; });
  }
}

}  // namespace stbup
