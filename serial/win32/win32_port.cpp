#include "serial/win32/win32_port.h"

namespace stbup {

namespace {

thread_local int last_error = 0;

}  // namespace

int Fail(DWORD error) {
  last_error = static_cast<int>(error);
  return static_cast<int>(error);
}

int LastDeviceError() { return last_error; }

std::unique_ptr<LineWait> NewLineWait() {
  auto wait = std::make_unique<LineWait>();
  wait->io.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (wait->io.hEvent == nullptr) return nullptr;
  return wait;
}

void DisposeOfLineWait(std::unique_ptr<LineWait> wait, DWORD patience_ms) {
  if (!wait) return;
  ::WaitForSingleObject(wait->io.hEvent, patience_ms);
  for (int round = 0; round < 20 && !HasOverlappedIoCompleted(&wait->io); ++round) ::Sleep(1);
  if (!HasOverlappedIoCompleted(&wait->io)) (void)wait.release();
}

Win32Port::~Win32Port() {
  if (handle != INVALID_HANDLE_VALUE) {
    // Nothing may complete into these records once they are gone. The last
    // owner may be any thread: CancelIoEx cancels what every thread started.
    ::CancelIoEx(handle, nullptr);
    DWORD ignored = 0;
    if (wait_pending) DisposeOfLineWait(std::move(line_wait), kCloseWaitMs);
    for (auto& wait : abandoned_waits) DisposeOfLineWait(std::move(wait), 0);
    if (write_pending) ::GetOverlappedResult(handle, &write_io, &ignored, TRUE);
    ::CloseHandle(handle);
  }
  for (HANDLE event : {read_io.hEvent, write_io.hEvent}) {
    if (event != nullptr) ::CloseHandle(event);
  }
}

bool SettleAfterSignal(OVERLAPPED& io) {
  for (int round = 0; round < 50 && !HasOverlappedIoCompleted(&io); ++round) {
    ::Sleep(round < 10 ? 0 : 1);
  }
  if (HasOverlappedIoCompleted(&io)) return true;
  ::ResetEvent(io.hEvent);
  return HasOverlappedIoCompleted(&io);
}

bool QueryComm(Win32Port& port, COMSTAT& status) {
  DWORD errors = 0;
  std::lock_guard lock(port.status_mutex);
  if (!::ClearCommError(port.handle, &errors, &status)) {
    Fail(::GetLastError());
    return false;
  }
  if (errors & CE_RXOVER) ++port.counters.buf_overrun;
  if (errors & CE_OVERRUN) ++port.counters.overrun;
  if (errors & CE_RXPARITY) ++port.counters.parity;
  if (errors & CE_FRAME) ++port.counters.frame;
  if (errors & CE_BREAK) ++port.counters.brk;
  return true;
}

}  // namespace stbup
