// One open Win32 port as the files of serial/win32/ share it: the HANDLE and
// the overlapped state of its line-event wait, reads and writes, and the steps
// that make Wine's completions trustworthy.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/va_device.h"

// Last: its EV_ and CE_ macros carry the values the component's own
// constants have, and must not rewrite their declarations.
#include <windows.h>

namespace stbup {

// How long a pending line-event wait or read goes before the queue is looked
// at directly (one whose end was lost costs this much, never a hang), and how
// long a round waits when it could start neither.
inline constexpr DWORD kLineWaitSliceMs = 20;
inline constexpr DWORD kPolledWaitSliceMs = 1;
// A wait still pending this long while bytes wait has lost its end.
inline constexpr ULONGLONG kLostWaitMs = 100;
// Where the driver's wait only polls, bytes are received through a read kept
// pending instead; it asks for this many, so that it ends with the first byte
// (the rest are read from the queue at once).
inline constexpr DWORD kPendingReadSize = 1;
// How long the queue is looked at before the read is started, where an
// answer may be a moment away (see va_device_wait.cpp).
inline constexpr LONGLONG kAnswerLookUs = 500;
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

// The receive path's pending read: its record and the bytes the system
// writes into until it ends. Held by pointer for the reason a LineWait is.
struct PendingRead {
  OVERLAPPED io{};
  std::array<std::uint8_t, kPendingReadSize> bytes{};
  ~PendingRead() {
    if (io.hEvent != nullptr) ::CloseHandle(io.hEvent);
  }
};

// A wait or read with its event; nothing when the event cannot be made.
std::unique_ptr<LineWait> NewLineWait();
std::unique_ptr<PendingRead> NewPendingRead();

// Frees a wait once it has ended; one that does not end in time is left
// allocated for good, as the system may still write to it.
void DisposeOfLineWait(std::unique_ptr<LineWait> wait, DWORD patience_ms);
void DisposeOfPendingRead(std::unique_ptr<PendingRead> read, DWORD patience_ms);

// One open port: the HANDLE and the overlapped state of its three kinds of
// I/O. The event thread alone waits for line events and reads; writes come
// from the write thread or, with the queue idle, from the main thread.
struct Win32Port {
  HANDLE handle = INVALID_HANDLE_VALUE;

  std::unique_ptr<LineWait> line_wait;
  bool wait_pending = false;
  ULONGLONG wait_started = 0;
  // A wait has given up by itself (995): Wine's on a pty does so every
  // millisecond or two, and notices bytes only at that pace. The receive
  // path below then stands in for the line-event wait.
  bool driver_polls = false;
  std::vector<std::unique_ptr<LineWait>> abandoned_waits;

  OVERLAPPED read_io{};

  // The receive path where the driver's wait only polls (driver_polls): a
  // read kept pending, and the bytes ended reads took that are not handed out
  // yet. ReadDevice hands these out first and reads the queue only while no
  // read is pending, so no byte overtakes another. The event thread starts
  // and ends the read; any thread may take its bytes once it has ended.
  std::mutex receive_mutex;
  std::unique_ptr<PendingRead> pending_read;
  bool read_pending = false;
  ULONGLONG read_lost_since = 0;  // when bytes were first seen behind it, or 0
  std::deque<std::uint8_t> received;
  DWORD read_error = 0;      // how the last read ended, when it failed
  bool reads_block = false;  // the timeouts a pending read needs are set

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

// Once the pending read has ended, its bytes join port.received (a cancelled
// read keeps the part it got) and a failure is kept in port.read_error.
// Called with port.receive_mutex held.
void TakeEndedRead(Win32Port& port);

// The first got bytes of the pending read's buffer join port.received;
// returns how many. Called with port.receive_mutex held.
DWORD KeepReadBytes(Win32Port& port, DWORD got);

}  // namespace stbup
