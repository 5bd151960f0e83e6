#include <atomic>

#include "cli/signal_watch.h"
#include "cli/win32/console_control.h"

#include <windows.h>

namespace stbup {

namespace {

// The handler runs on a thread of the system's: it counts what came and sets
// the event the loop watches. Ctrl-C is the operator's interruption, as
// SIGINT; Ctrl-Break asks for the end at once, as SIGTERM; the console
// closing, a log-off or a shut-down leave nobody to finish for, as SIGHUP.
std::atomic<HANDLE> interrupt_event{nullptr};
std::atomic<int> pending_interruptions{0};
std::atomic<bool> pending_end{false};

// Set when the watch ends, that is when the command has said and recorded
// what it had to; made once and kept for the process, since the handler may
// still be waiting on it while the watch goes away.
HANDLE FinishedEvent() {
  static const HANDLE finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return finished;
}

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD kind) {
  const bool closing =
      kind == CTRL_CLOSE_EVENT || kind == CTRL_LOGOFF_EVENT || kind == CTRL_SHUTDOWN_EVENT;
  if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT && !closing) return FALSE;
  HANDLE event = interrupt_event.load();
  if (event == nullptr) return FALSE;
  if (kind == CTRL_C_EVENT) {
    ++pending_interruptions;
  } else {
    pending_end = true;
  }
  ::SetEvent(event);
  if (closing) {
    // The process ends when this handler returns: it waits for the command
    // to close its ports and keep its records, within the 5 s the system
    // allows.
    if (HANDLE finished = FinishedEvent()) ::WaitForSingleObject(finished, 4500);
  }
  return TRUE;
}

struct SignalWatch::Saved {};

SignalWatch::SignalWatch() {
  HANDLE finished = FinishedEvent();
  if (finished == nullptr) return;
  ::ResetEvent(finished);
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return;
  pending_interruptions = 0;
  pending_end = false;
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
  // Unwatched after the finish is said: a console closing meanwhile still
  // finds the handler, which returns at once.
  ::SetEvent(FinishedEvent());
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  interrupt_event = nullptr;
  ::CloseHandle(reinterpret_cast<HANDLE>(fd_));
}

bool SignalWatch::Raised() {
  if (fd_ < 0) return false;
  HANDLE event = reinterpret_cast<HANDLE>(fd_);
  // The end first: it overrides any Ctrl-C still waiting to be taken.
  if (pending_end.exchange(false)) {
    urgent_ = true;
    return true;
  }
  for (int pending = pending_interruptions.load(); pending > 0;) {
    if (pending_interruptions.compare_exchange_weak(pending, pending - 1)) {
      urgent_ = false;
      return true;
    }
  }
  // Nothing left: the event is cleared, unless the handler counted more
  // after the look above, in which case it stays set for the next pass.
  ::ResetEvent(event);
  if (pending_end.load() || pending_interruptions.load() > 0) ::SetEvent(event);
  return false;
}

void KeepInterruptionsFromThisThread() {}

std::string_view EndAtOnceWords() { return "Ctrl-Break and closing the console"; }

}  // namespace stbup
