// The command line's main loop on Win32: one wait (WaitForMultipleObjects)
// over a wake-up event and the watched handles.
#include <array>
#include <system_error>

#include "loop/event_loop.h"

#include <windows.h>

namespace stbup {

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

std::intptr_t EventLoop::CreateWake() {
  // Manual reset: the main thread and a caller waiting inside its call in the
  // turn may both wait on it, and the one that can run the queued calls must
  // see it; whoever runs them resets it first.
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateEvent");
  }
  return reinterpret_cast<std::intptr_t>(event);
}

void EventLoop::SignalWake() { ::SetEvent(AsHandle(wake_fd_)); }

void EventLoop::TakeWake() { ::ResetEvent(AsHandle(wake_fd_)); }

void EventLoop::ReleaseWake() { ::CloseHandle(AsHandle(wake_fd_)); }

void EventLoop::Wait(int wait_ms) {
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> handles;
  std::array<int, MAXIMUM_WAIT_OBJECTS> ids;
  handles[0] = AsHandle(wake_fd_);
  std::size_t n = 1;
  for (const auto& [id, source] : sources_) {
    if (source.timer || n == handles.size()) continue;
    handles[n] = AsHandle(source.fd);
    ids[n] = id;
    ++n;
  }
  // The main thread lends its turn for the wait. What the wait found it may
  // have taken (a watched auto-reset event resets), so it is handled even
  // when a caller ran a call in the turn meanwhile.
  const auto calls_before = LendTurn(wait_ms);
  const DWORD result =
      ::WaitForMultipleObjects(static_cast<DWORD>(n), handles.data(), FALSE,
                               wait_ms < 0 ? INFINITE : static_cast<DWORD>(wait_ms));
  static_cast<void>(TakeTurnBack(calls_before));
  if (result == WAIT_OBJECT_0) {
    RunQueuedCalls();
  } else if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + n) {
    FireWatched(ids[result - WAIT_OBJECT_0], false);
  } else if (result == WAIT_FAILED) {
    // A handle that is no longer valid would fail every pass: the watched
    // ones are handed to their callbacks once and watched no more.
    for (std::size_t i = 1; i < n; ++i) {
      if (::WaitForSingleObject(handles[i], 0) == WAIT_FAILED) FireWatched(ids[i], true);
    }
  }
}

}  // namespace stbup
