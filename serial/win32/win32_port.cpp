#include <algorithm>

#include "serial/win32/win32_port.h"

namespace stbup {

namespace {

thread_local int last_error = 0;

template <typename Record>
std::unique_ptr<Record> NewRecord() {
  auto record = std::make_unique<Record>();
  record->io.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (record->io.hEvent == nullptr) return nullptr;
  return record;
}

template <typename Record>
void DisposeOf(std::unique_ptr<Record> record, DWORD patience_ms) {
  if (!record) return;
  ::WaitForSingleObject(record->io.hEvent, patience_ms);
  for (int round = 0; round < 20 && !HasOverlappedIoCompleted(&record->io); ++round) ::Sleep(1);
  if (!HasOverlappedIoCompleted(&record->io)) (void)record.release();
}

}  // namespace

int Fail(DWORD error) {
  last_error = static_cast<int>(error);
  return static_cast<int>(error);
}

int LastDeviceError() { return last_error; }

std::unique_ptr<LineWait> NewLineWait() { return NewRecord<LineWait>(); }

std::unique_ptr<PendingRead> NewPendingRead() { return NewRecord<PendingRead>(); }

void DisposeOfLineWait(std::unique_ptr<LineWait> wait, DWORD patience_ms) {
  DisposeOf(std::move(wait), patience_ms);
}

void DisposeOfPendingRead(std::unique_ptr<PendingRead> read, DWORD patience_ms) {
  DisposeOf(std::move(read), patience_ms);
}

Win32Port::~Win32Port() {
  if (handle != INVALID_HANDLE_VALUE) {
    // Nothing may complete into these records once they are gone. The last
    // owner may be any thread: CancelIoEx cancels what every thread started.
    ::CancelIoEx(handle, nullptr);
    DWORD ignored = 0;
    if (wait_pending) DisposeOfLineWait(std::move(line_wait), kCloseWaitMs);
    if (read_pending) DisposeOfPendingRead(std::move(pending_read), kCloseWaitMs);
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

void TakeEndedRead(Win32Port& port) {
  if (!port.read_pending || !HasOverlappedIoCompleted(&port.pending_read->io)) return;
  port.read_pending = false;
  port.read_lost_since = 0;
  PendingRead& read = *port.pending_read;
  DWORD got = 0;
  if (!::GetOverlappedResult(port.handle, &read.io, &got, FALSE)) {
    const DWORD error = ::GetLastError();
    // A read that was cancelled or failed keeps the bytes it took before.
    got = static_cast<DWORD>(read.io.InternalHigh);
    if (error != ERROR_OPERATION_ABORTED) port.read_error = error;
  }
  KeepReadBytes(port, got);
}

DWORD KeepReadBytes(Win32Port& port, DWORD got) {
  const PendingRead& read = *port.pending_read;
  got = std::min<DWORD>(got, kPendingReadSize);
  port.received.insert(port.received.end(), read.bytes.begin(), read.bytes.begin() + got);
  return got;
}

}  // namespace stbup
