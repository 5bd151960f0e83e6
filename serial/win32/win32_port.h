// One open Win32 port as the files of serial/win32/ share it: the HANDLE and
// the overlapped state of its line-event wait, reads and writes, and the steps
// that make Wine's completions trustworthy.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "serial/va_device.h"

// Last: its EV_ and CE_ macros carry the values the component's own
// constants have, and must not rewrite their declarations.
#include <windows.h>

namespace stbup {

// How long a pending line-event wait goes before the queue is looked at
// directly (a wait whose end was lost costs this much, never a hang), and
// where the driver's wait only polls (Wine's on a pty gives up every
// millisecond or two, and notices bytes only at that pace, often slower).
inline constexpr DWORD kLineWaitSliceMs = 20;
inline constexpr DWORD kPolledWaitSliceMs = 1;
// A wait still pending this long while bytes wait has lost its end.
inline constexpr ULONGLONG kLostWaitMs = 100;
inline constexpr DWORD kReadWaitMs = 200;
inline constexpr DWORD kCancelWaitMs = 5;
inline constexpr DWORD kCloseWaitMs = 500;

// Keeps error as this thread's last device error (LastDeviceError) and
// returns it.
int Fail(DWORD error);

// A line-event wait: its record and the mask Windows writes when it ends.
// Held by pointer, since one whose end never comes is abandoned (it may
// still be written to) and a new one started.
struct LineWait {
  OVERLAPPED io{};
  DWORD mask = 0;
  ~LineWait() {
    if (io.hEvent != nullptr) ::CloseHandle(io.hEvent);
  }
};

// A wait with its event; nothing when the event cannot be made.
std::unique_ptr<LineWait> NewLineWait();

// Frees a wait once it has ended; one that does not end in time is left
// allocated for good, as the system may still write to it.
void DisposeOfLineWait(std::unique_ptr<LineWait> wait, DWORD patience_ms);

// One open port: the HANDLE and the overlapped state of its three kinds of
// I/O. The event thread alone waits for line events and reads; writes come
// from the write thread or, with the queue idle, from the main thread.
struct Win32Port {
  HANDLE handle = INVALID_HANDLE_VALUE;

  std::unique_ptr<LineWait> line_wait;
  bool wait_pending = false;
  ULONGLONG wait_started = 0;
  bool driver_polls = false;  // a wait has given up by itself (995): see above
  std::vector<std::unique_ptr<LineWait>> abandoned_waits;

  OVERLAPPED read_io{};

  std::mutex write_mutex;
  OVERLAPPED write_io{};
  std::vector<std::uint8_t> write_bytes;  // the bytes of the pending write
  bool write_pending = false;

  // ClearCommError reports line errors once and clears them; they are kept
  // here as counters, the model the component tells line errors by.
  std::mutex status_mutex;
  TVaLineCounters counters;

  ~Win32Port();
};

inline Win32Port* PortOf(TVaDeviceHandle device) { return reinterpret_cast<Win32Port*>(device); }

// Wine signals an operation's event a moment before its status is final
// (GetOverlappedResult then answers ERROR_IO_INCOMPLETE): after the signal,
// give the status that moment. Resetting the event instead would lose the
// completion for good. False when the operation is still pending after it
// (the event is then reset, and the wait goes on).
bool SettleAfterSignal(OVERLAPPED& io);

// ClearCommError, with the errors it reports counted; false on failure
// (last error set).
bool QueryComm(Win32Port& port, COMSTAT& status);

}  // namespace stbup
