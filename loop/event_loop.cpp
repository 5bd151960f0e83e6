// The parts of the main loop that are the same on every platform: the queue
// of calls from other threads, the sources' bookkeeping and the ways of
// running passes. How a pass waits, the wake-up and the timers are the
// platform's (loop/posix/event_loop.cpp, loop/win32/event_loop.cpp).
#include "loop/event_loop.h"

#include <algorithm>
#include <stdexcept>

namespace stbup {

namespace {

constexpr long long kConditionRecheckMs = 10;

}  // namespace

EventLoop::EventLoop() : main_thread_(std::this_thread::get_id()), wake_fd_(CreateWake()) {}

EventLoop::~EventLoop() {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    for (Call* call : queue_) call->abandoned = true;
    queue_.clear();
    finished_.notify_all();
    finished_.wait(lock, [this] { return waiting_callers_ == 0; });
  }
  ReleaseWaitables();
}

void EventLoop::RunOnMainThread(const std::function<void()>& call) {
  if (std::this_thread::get_id() == main_thread_) {
    call();
    return;
  }
  Call entry{&call, false, false, nullptr};
  {
    std::unique_lock lock(mutex_);
    if (closing_) throw std::runtime_error("The main loop has ended");
    queue_.push_back(&entry);
    ++waiting_callers_;
    SignalWake();
    finished_.wait(lock, [&entry] { return entry.done || entry.abandoned; });
    --waiting_callers_;
    // The destructor may be waiting for the last caller to leave.
    if (closing_) finished_.notify_all();
  }
  if (entry.error) std::rethrow_exception(entry.error);
  if (!entry.done) throw std::runtime_error("The main loop has ended");
}

void EventLoop::RunQueuedCalls() {
  TakeWake();
  for (;;) {
    Call* call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      call = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      (*call->function)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      call->error = std::move(error);  // the waiting thread alone holds it now
      call->done = true;
    }
    finished_.notify_all();
  }
}

int EventLoop::AddSource(Source source) {
  const int id = next_source_id_++;
  sources_.emplace(id, std::move(source));
  return id;
}

void EventLoop::CancelTimer(int id) { RemoveSource(id); }

int EventLoop::WatchReadable(std::intptr_t fd, std::function<void()> callback) {
  return AddSource({fd, false, std::move(callback), 0, {}});
}

void EventLoop::StopWatching(int id) { RemoveSource(id); }

void EventLoop::Fire(int id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;  // removed by an earlier callback of this pass
  if (it->second.timer && !TakeTimerTick(it->second)) return;
  // A copy: the callback may remove its own source.
  const std::function<void()> callback = it->second.callback;
  if (callback) callback();
}

void EventLoop::Run() {
  while (!quit_) RunOnce(-1);
  quit_ = false;
}

bool EventLoop::RunUntil(const std::function<bool()>& predicate,
                         std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (predicate()) return true;
    if (quit_) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    // The condition may change on another thread without waking the loop.
    RunOnce(static_cast<int>(std::min<long long>(left.count(), kConditionRecheckMs)));
  }
}

}  // namespace stbup
