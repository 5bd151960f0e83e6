// The command line's main loop on Win32: one wait (WaitForMultipleObjects)
// over a wake-up event and the watched handles, with the nearest timer's due
// time as its time-out.
#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "loop/event_loop.h"

#include <windows.h>

namespace stbup {

namespace {

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

std::intptr_t EventLoop::CreateWake() { return CreateWakeEvent(); }

void EventLoop::SignalWake() { ::SetEvent(AsHandle(wake_fd_)); }

// The event resets itself when a pass wakes on it.
void EventLoop::TakeWake() {}

void EventLoop::ReleaseWaitables() { ::CloseHandle(AsHandle(wake_fd_)); }

bool EventLoop::TakeTimerTick(Source& timer) {
  // Ticks missed while busy are not made up, as with a timerfd read once.
  const auto interval = std::chrono::milliseconds(timer.interval_ms);
  const auto now = Clock::now();
  timer.due += interval;
  if (timer.due <= now) timer.due = now + interval;
  return true;
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

}  // namespace stbup
