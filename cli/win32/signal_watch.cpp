#include <atomic>

#include "cli/signal_watch.h"

#include <windows.h>

namespace stbup {

namespace {

// The handler runs on a thread of the system's; it only sets the event.
std::atomic<HANDLE> interrupt_event{nullptr};

BOOL WINAPI OnConsoleControl(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      HANDLE event = interrupt_event.load();
      if (event == nullptr) return FALSE;
      ::SetEvent(event);
      if (kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this handler returns: give the loop the
        // moment it needs to close the port (the system allows about 5 s).
        ::Sleep(2000);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct SignalWatch::Saved {};

SignalWatch::SignalWatch() {
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return;
  interrupt_event = event;
  if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    interrupt_event = nullptr;
    ::CloseHandle(event);
    return;
  }
  fd_ = reinterpret_cast<std::intptr_t>(event);
}

SignalWatch::~SignalWatch() {
  if (fd_ < 0) return;
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  interrupt_event = nullptr;
  ::CloseHandle(reinterpret_cast<HANDLE>(fd_));
}

bool SignalWatch::Raised() {
  if (fd_ < 0) return false;
  HANDLE event = reinterpret_cast<HANDLE>(fd_);
  if (::WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return false;
  ::ResetEvent(event);
  return true;
}

void KeepInterruptionsFromThisThread() {}

}  // namespace stbup
