// The command line's main loop on Win32: one wait (WaitForMultipleObjects)
// over a wake-up event and the watched handles, with the nearest timer's due
// time as its time-out.
#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "serial/event_loop.h"

#include <windows.h>

namespace stbup {

namespace {

constexpr long long kConditionRecheckMs = 10;

std::intptr_t CreateWakeEvent() {
  // Auto-reset: a pass that wakes on it has taken the wake-up.
  HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateEvent");
  }
  return reinterpret_cast<std::intptr_t>(event);
}

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

EventLoop::EventLoop() : main_thread_(std::this_thread::get_id()), wake_fd_(CreateWakeEvent()) {}

EventLoop::~EventLoop() {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    for (Call* call : queue_) call->abandoned = true;
    queue_.clear();
    finished_.notify_all();
    finished_.wait(lock, [this] { return waiting_callers_ == 0; });
  }
  ::CloseHandle(AsHandle(wake_fd_));
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
    ::SetEvent(AsHandle(wake_fd_));
    finished_.wait(lock, [&entry] { return entry.done || entry.abandoned; });
    --waiting_callers_;
    if (closing_) finished_.notify_all();
  }
  if (entry.error) std::rethrow_exception(entry.error);
  if (!entry.done) throw std::runtime_error("The main loop has ended");
}

void EventLoop::RunQueuedCalls() {
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
      call->error = std::move(error);
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
}

void EventLoop::CancelTimer(int id) { RemoveSource(id); }

int EventLoop::WatchReadable(std::intptr_t fd, std::function<void()> callback) {
  return AddSource({fd, false, std::move(callback), 0, {}});
}

void EventLoop::StopWatching(int id) { RemoveSource(id); }

void EventLoop::Fire(int id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;
  if (it->second.timer) {
    // Ticks missed while busy are not made up, as with a timerfd read once.
    const auto interval = std::chrono::milliseconds(it->second.interval_ms);
    const auto now = Clock::now();
    it->second.due += interval;
    if (it->second.due <= now) it->second.due = now + interval;
  }
  const std::function<void()> callback = it->second.callback;
  if (callback) callback();
}

void EventLoop::RunOnce(int timeout_ms) {
  std::vector<HANDLE> handles{AsHandle(wake_fd_)};
  std::vector<int> ids{0};
  auto now = Clock::now();
  long long wait_ms = timeout_ms < 0 ? -1 : timeout_ms;
  for (const auto& [id, source] : sources_) {
    if (source.timer) {
      if (source.interval_ms <= 0) continue;
      const long long left = std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(source.due - now).count());
      if (wait_ms < 0 || left < wait_ms) wait_ms = left;
    } else if (handles.size() < MAXIMUM_WAIT_OBJECTS) {
      handles.push_back(AsHandle(source.fd));
      ids.push_back(id);
    }
  }
  const DWORD result =
      ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                               wait_ms < 0 ? INFINITE : static_cast<DWORD>(wait_ms));
  if (result == WAIT_OBJECT_0) {
    RunQueuedCalls();
  } else if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles.size()) {
    Fire(ids[result - WAIT_OBJECT_0]);
  } else if (result == WAIT_FAILED) {
    // A handle that is no longer valid would fail every pass: the watched
    // ones are handed to their callbacks once and watched no more.
    for (std::size_t i = 1; i < handles.size(); ++i) {
      if (::WaitForSingleObject(handles[i], 0) == WAIT_FAILED) {
        Fire(ids[i]);
        sources_.erase(ids[i]);
      }
    }
  }
  // Timers that are due, in the order of their ids.
  now = Clock::now();
  std::vector<int> due;
  for (const auto& [id, source] : sources_) {
    if (source.timer && source.interval_ms > 0 && source.due <= now) due.push_back(id);
  }
  for (const int id : due) Fire(id);
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
    RunOnce(static_cast<int>(std::min<long long>(left.count(), kConditionRecheckMs)));
  }
}

}  // namespace stbup
