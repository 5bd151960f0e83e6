// The parts of the main loop that are the same on every platform: the queue
// of calls from other threads, the timers and the watched sources'
// bookkeeping and the ways of running passes. How a pass waits and the
// wake-up are the platform's (loop/posix/event_loop.cpp,
// loop/win32/event_loop.cpp).
#include "loop/event_loop.h"

#include "loop/hand_over_watch.h"

#include <algorithm>
#include <stdexcept>

namespace stbup {

namespace {

constexpr long long kConditionRecheckMs = 10;

// The loop whose turn this thread holds for a call of its own, if any.
thread_local const EventLoop* turn_of = nullptr;

}  // namespace

EventLoop::EventLoop()
    : main_thread_(std::this_thread::get_id()),
      wake_fd_(CreateWake()),
      watch_hand_over_(RunsOnSeveralCpus()) {
  turn_.lock();
}

EventLoop::~EventLoop() {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    for (Call* call : queue_) {
      call->abandoned = true;
      call->settled.store(true, std::memory_order_release);
    }
    queue_.clear();
    finished_.notify_all();
    finished_.wait(lock, [this] { return waiting_callers_ == 0; });
  }
  turn_.unlock();
  ReleaseWake();
}

bool EventLoop::HoldsTurn() const {
  return turn_of == this || std::this_thread::get_id() == main_thread_;
}

void EventLoop::RunInTurn(const std::function<void()>& call) {
  const std::unique_lock turn(turn_, std::adopt_lock);
  ++calls_in_turn_;
  // A call in the turn of another loop may be why this one was asked.
  const EventLoop* const outer = turn_of;
  turn_of = this;
  struct Leave {
    EventLoop& loop;
    const EventLoop* outer;
    ~Leave() {
      turn_of = outer;
      if (loop.pass_outdated_) {
        loop.pass_outdated_ = false;
        loop.SignalWake();
      }
    }
  } leave{*this, outer};
  call();
}

std::optional<std::uint64_t> EventLoop::LendTurn(int wait_ms) {
  if (std::this_thread::get_id() != main_thread_) return std::nullopt;
  lent_until_ =
      wait_ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(wait_ms);
  const std::uint64_t calls_before = calls_in_turn_;
  turn_.unlock();
  return calls_before;
}

bool EventLoop::TakeTurnBack(std::optional<std::uint64_t> calls_before) {
  if (!calls_before) return true;
  turn_.lock();
  return calls_in_turn_ == *calls_before;
}

void EventLoop::NoteChangedSources(Clock::time_point due) {
  if (turn_of == this && due < lent_until_) pass_outdated_ = true;
}

void EventLoop::Quit() {
  quit_ = true;
  NoteChangedSources(Clock::time_point::min());
}

void EventLoop::RunOnMainThread(const std::function<void()>& call) {
  if (HoldsTurn()) {
    call();
    return;
  }
  if (turn_.try_lock()) {
    RunInTurn(call);
    return;
  }
  Call entry{&call, false, false, nullptr};
  {
    std::unique_lock lock(mutex_);
    if (closing_) throw std::runtime_error("The main loop has ended");
    queue_.push_back(&entry);
    ++waiting_callers_;
    SignalWake();
  }
  {
    const auto lock = AwaitSettled(entry.settled, watch_hand_over_, mutex_, finished_);
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
      call->settled.store(true, std::memory_order_release);
    }
    finished_.notify_all();
  }
}

int EventLoop::AddSource(Source source) {
  const int id = next_source_id_++;
  // A timer is looked at when SetTimerInterval gives it a due time.
  if (!source.timer) NoteChangedSources(Clock::time_point::min());
  sources_.emplace(id, std::move(source));
  return id;
}

void EventLoop::RemoveSource(int id) { sources_.erase(id); }

int EventLoop::AddTimer(int interval_ms, std::function<void()> callback) {
  const int id = AddSource({-1, true, std::move(callback), 0, {}});
  SetTimerInterval(id, interval_ms);
  return id;
}

void EventLoop::SetTimerInterval(int id, int interval_ms) {
  const auto it = sources_.find(id);
  if (it == sources_.end() || !it->second.timer) return;
  it->second.interval_ms = interval_ms > 0 ? interval_ms : 0;
  it->second.due = Clock::now() + std::chrono::milliseconds(it->second.interval_ms);
  // A pass that would sleep past the new due time must look again; a later
  // one it finds out by itself, at the old time.
  if (it->second.interval_ms > 0) NoteChangedSources(it->second.due);
}

void EventLoop::CancelTimer(int id) { RemoveSource(id); }

int EventLoop::WatchReadable(std::intptr_t fd, std::function<void()> callback) {
  return AddSource({fd, false, std::move(callback), 0, {}});
}

void EventLoop::StopWatching(int id) { RemoveSource(id); }

int EventLoop::WaitLimit(int timeout_ms) const {
  const auto now = Clock::now();
  long long wait_ms = timeout_ms < 0 ? -1 : timeout_ms;
  for (const auto& [id, source] : sources_) {
    if (!source.timer || source.interval_ms <= 0) continue;
    const long long left = std::max<long long>(
        0, std::chrono::ceil<std::chrono::milliseconds>(source.due - now).count());
    if (wait_ms < 0 || left < wait_ms) wait_ms = left;
  }
  return static_cast<int>(wait_ms);
}

void EventLoop::FireWatched(int id, bool failed) {
  const auto it = sources_.find(id);
  if (it == sources_.end() || it->second.timer) return;  // removed by an earlier callback
  // A copy: the callback may remove its own source.
  const std::function<void()> callback = it->second.callback;
  // A source that has failed would wake every pass from now on: its callback
  // sees it once, and it is watched no more.
  if (failed) sources_.erase(it);
  if (callback) callback();
}

void EventLoop::FireDueTimers() {
  // In the order of their ids; a callback may add or remove sources, so the
  // next one is looked up afresh after each.
  const auto now = Clock::now();
  for (auto it = sources_.begin(); it != sources_.end();) {
    const int id = it->first;
    Source& source = it->second;
    if (source.timer && source.interval_ms > 0 && source.due <= now) {
      // Ticks missed while busy are not made up, and the timer keeps its phase.
      const auto interval = std::chrono::milliseconds(source.interval_ms);
      source.due += interval;
      if (source.due <= now) source.due += ((now - source.due) / interval + 1) * interval;
      const std::function<void()> callback = source.callback;
      if (callback) callback();
    }
    it = sources_.upper_bound(id);
  }
}

void EventLoop::RunOnce(int timeout_ms) {
  Wait(WaitLimit(timeout_ms));
  FireDueTimers();
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
