// The Win32 side of the port: CreateFileA with overlapped I/O, the DCB,
// SetupComm, SetCommTimeouts, SetCommMask, overlapped WaitCommEvent, ReadFile
// and WriteFile, ClearCommError for the queues and the line errors.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/va_device.h"
#include "serial/va_handle_object.h"

// Last: its EV_ and CE_ macros carry the values the component's own
// constants have, and must not rewrite their declarations.
#include <windows.h>

namespace stbup {

namespace {

thread_local int last_error = 0;

// How long a pending line-event wait goes before the queue is looked at
// directly (a wait whose end was lost costs this much, never a hang), and
// where the driver's wait only polls (Wine's on a pty gives up every
// millisecond or two, and notices bytes only at that pace, often slower).
constexpr DWORD kLineWaitSliceMs = 20;
constexpr DWORD kPolledWaitSliceMs = 1;
// A wait still pending this long while bytes wait has lost its end.
constexpr ULONGLONG kLostWaitMs = 100;
constexpr DWORD kReadWaitMs = 200;
constexpr DWORD kCancelWaitMs = 5;
constexpr DWORD kCloseWaitMs = 500;

int Fail(DWORD error) {
  last_error = static_cast<int>(error);
  return static_cast<int>(error);
}

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

std::unique_ptr<LineWait> NewLineWait() {
  auto wait = std::make_unique<LineWait>();
  wait->io.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (wait->io.hEvent == nullptr) return nullptr;
  return wait;
}

// Frees a wait once it has ended; one that does not end in time is left
// allocated for good, as the system may still write to it.
void DisposeOfLineWait(std::unique_ptr<LineWait> wait, DWORD patience_ms) {
  if (!wait) return;
  ::WaitForSingleObject(wait->io.hEvent, patience_ms);
  for (int round = 0; round < 20 && !HasOverlappedIoCompleted(&wait->io); ++round) ::Sleep(1);
  if (!HasOverlappedIoCompleted(&wait->io)) (void)wait.release();
}

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

  ~Win32Port() {
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
};

// Wine signals an operation's event a moment before its status is final
// (GetOverlappedResult then answers ERROR_IO_INCOMPLETE): after the signal,
// give the status that moment. Resetting the event instead would lose the
// completion for good. False when the operation is still pending after it
// (the event is then reset, and the wait goes on).
bool SettleAfterSignal(OVERLAPPED& io) {
  for (int round = 0; round < 50 && !HasOverlappedIoCompleted(&io); ++round) {
    ::Sleep(round < 10 ? 0 : 1);
  }
  if (HasOverlappedIoCompleted(&io)) return true;
  ::ResetEvent(io.hEvent);
  return HasOverlappedIoCompleted(&io);
}

Win32Port* PortOf(TVaDeviceHandle device) { return reinterpret_cast<Win32Port*>(device); }

// ClearCommError, with the errors it reports counted; false on failure
// (last_error set).
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

BYTE ParityOf(TVaParity parity) {
  switch (parity) {
    case TVaParity::paOdd:
      return ODDPARITY;
    case TVaParity::paEven:
      return EVENPARITY;
    case TVaParity::paMark:
      return MARKPARITY;
    case TVaParity::paSpace:
      return SPACEPARITY;
    case TVaParity::paNone:
      break;
  }
  return NOPARITY;
}

BYTE StopBitsOf(TVaStopbits bits) {
  switch (bits) {
    case TVaStopbits::sb15:
      return ONE5STOPBITS;
    case TVaStopbits::sb2:
      return TWOSTOPBITS;
    case TVaStopbits::sb1:
      break;
  }
  return ONESTOPBIT;
}

// The queue behind a pending line-event wait: bytes are waiting (Readable),
// or the device fails (Gone), or neither (TimedOut). The wait stays pending
// unless it has lost its end: then it is cancelled, or abandoned when even
// that does not end it, so that the next one starts afresh.
TVaDeviceWait LookAtLineBehindWait(Win32Port& port) {
  COMSTAT status{};
  if (!QueryComm(port, status)) return TVaDeviceWait::Gone;
  if (status.cbInQue == 0) return TVaDeviceWait::TimedOut;
  if (::GetTickCount64() - port.wait_started < kLostWaitMs) return TVaDeviceWait::Readable;
  ::CancelIoEx(port.handle, &port.line_wait->io);
  ::WaitForSingleObject(port.line_wait->io.hEvent, kCancelWaitMs);
  if (!HasOverlappedIoCompleted(&port.line_wait->io)) {
    // Its end is lost (Wine): the next wait gets a record of its own.
    std::unique_ptr<LineWait> fresh = NewLineWait();
    if (!fresh) {
      Fail(::GetLastError());
      return TVaDeviceWait::Gone;
    }
    port.abandoned_waits.push_back(std::move(port.line_wait));
    port.line_wait = std::move(fresh);
  }
  port.wait_pending = false;
  return TVaDeviceWait::Readable;
}

}  // namespace

std::string PlatformDevicePath(std::string_view name, int, const std::optional<std::string>&) {
  // COM names are the ports Windows knows; "COM10" and above open only
  // through the device space, so every name goes there.
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.starts_with(kDevicePrefix)) return std::string(name);
  return std::string(kDevicePrefix) + std::string(name);
}

TVaDeviceHandle OpenDeviceExclusive(const std::string& path, int& error) {
  auto port = std::make_unique<Win32Port>();
  // No sharing: a port another program holds fails with ERROR_ACCESS_DENIED.
  port->handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port->handle == INVALID_HANDLE_VALUE) {
    error = Fail(::GetLastError());
    return kNoDevice;
  }
  // Wine opens a COM name whose Linux device is missing; it is not a device.
  if (::GetFileType(port->handle) == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
    error = Fail(ERROR_FILE_NOT_FOUND);
    return kNoDevice;
  }
  port->line_wait = NewLineWait();
  if (!port->line_wait) {
    error = Fail(::GetLastError());
    return kNoDevice;
  }
  for (OVERLAPPED* io : {&port->read_io, &port->write_io}) {
    io->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io->hEvent == nullptr) {
      error = Fail(::GetLastError());
      return kNoDevice;
    }
  }
  return reinterpret_cast<TVaDeviceHandle>(port.release());
}

bool IsDeviceNotFound(int error) { return error == ERROR_FILE_NOT_FOUND; }

int ShownOpenError(int error) { return error; }

// Exclusive use is the unshared opening itself; it ends with the handle.
void ReleaseDevice(TVaDeviceHandle) {}

void CloseDevice(TVaDeviceHandle device) {
  if (device != kNoDevice) delete PortOf(device);
}

std::intptr_t NativeHandle(TVaDeviceHandle device) {
  return reinterpret_cast<std::intptr_t>(PortOf(device)->handle);
}

int ApplyLineSettings(TVaDeviceHandle device, const TVaLineSettings& settings) {
  if (settings.databits == TVaDatabits::db4 || settings.baudrate <= 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(settings.baudrate);
  dcb.fBinary = 1;
  dcb.fParity = settings.parity_check ? 1 : 0;
  dcb.fOutxCtsFlow = settings.rts_cts_flow ? 1 : 0;
  dcb.fDtrControl = settings.dtr == TVaControlDtr::dtrEnabled     ? DTR_CONTROL_ENABLE
                    : settings.dtr == TVaControlDtr::dtrHandshake ? DTR_CONTROL_HANDSHAKE
                                                                  : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = settings.rts == TVaControlRts::rtsEnabled     ? RTS_CONTROL_ENABLE
                    : settings.rts == TVaControlRts::rtsHandshake ? RTS_CONTROL_HANDSHAKE
                    : settings.rts == TVaControlRts::rtsToggle    ? RTS_CONTROL_TOGGLE
                                                                  : RTS_CONTROL_DISABLE;
  dcb.fOutX = settings.xon_xoff_out ? 1 : 0;
  dcb.fInX = settings.xon_xoff_in ? 1 : 0;
  dcb.fAbortOnError = 0;
  dcb.XonLim = static_cast<WORD>(settings.xon_limit);
  dcb.XoffLim = static_cast<WORD>(settings.xoff_limit);
  dcb.ByteSize = static_cast<BYTE>(static_cast<int>(settings.databits) + 4);
  dcb.Parity = ParityOf(settings.parity);
  dcb.StopBits = StopBitsOf(settings.stopbits);
  dcb.XonChar = static_cast<char>(settings.xon_char);
  dcb.XoffChar = static_cast<char>(settings.xoff_char);
  if (!::SetCommState(PortOf(device)->handle, &dcb)) return Fail(::GetLastError());
  return 0;
}

int ApplyQueueSizes(TVaDeviceHandle device, int read_size, int write_size) {
  if (!::SetupComm(PortOf(device)->handle, static_cast<DWORD>(read_size),
                   static_cast<DWORD>(write_size))) {
    return Fail(::GetLastError());
  }
  return 0;
}

int ApplyNoWaitTimeouts(TVaDeviceHandle device) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (!::SetCommTimeouts(PortOf(device)->handle, &timeouts)) return Fail(::GetLastError());
  return 0;
}

int ApplyDeviceEventMask(TVaDeviceHandle device, std::uint32_t mask) {
  if (!::SetCommMask(PortOf(device)->handle, mask)) return Fail(::GetLastError());
  return 0;
}

// The driver has no such request; an FTDI adapter's timer is read from the
// registry instead (serial/win32/adapter_latency.cpp).
int RequestLowLatency(TVaDeviceHandle) { return 0; }

std::optional<TVaLineCounters> ReadLineCounters(TVaDeviceHandle device) {
  Win32Port& port = *PortOf(device);
  COMSTAT status{};
  if (!QueryComm(port, status)) return std::nullopt;
  std::lock_guard lock(port.status_mutex);
  return port.counters;
}

int ReadModemLines(TVaDeviceHandle device, int& lines) {
  lines = 0;
  DWORD status = 0;
  if (!::GetCommModemStatus(PortOf(device)->handle, &status)) return Fail(::GetLastError());
  // MS_CTS_ON, MS_DSR_ON, MS_RING_ON and MS_RLSD_ON are the contract's bits.
  lines = static_cast<int>(status & (kModemCts | kModemDsr | kModemRing | kModemRlsd));
  return 0;
}

int BytesWaiting(TVaDeviceHandle device) {
  COMSTAT status{};
  if (!QueryComm(*PortOf(device), status)) return -1;
  return static_cast<int>(status.cbInQue);
}

int BytesQueuedOut(TVaDeviceHandle device) {
  Win32Port& port = *PortOf(device);
  COMSTAT status{};
  if (!QueryComm(port, status)) return -1;
  std::lock_guard lock(port.write_mutex);
  // A write still in flight has not left either, nor the part of a completed
  // one that is still to go.
  std::size_t in_flight = port.write_bytes.size();
  if (port.write_pending && HasOverlappedIoCompleted(&port.write_io)) {
    in_flight -= std::min<std::size_t>(port.write_io.InternalHigh, in_flight);
  }
  return static_cast<int>(status.cbOutQue + in_flight);
}

int LastDeviceError() { return last_error; }

bool IsDeviceGone(int error) {
  // ERROR_NOT_READY and ERROR_BROKEN_PIPE: a port whose far end hung up (Wine
  // on a pty); the others: a USB adapter pulled out.
  return error == ERROR_NOT_READY || error == ERROR_BROKEN_PIPE || error == ERROR_BAD_COMMAND ||
         error == ERROR_GEN_FAILURE || error == ERROR_DEVICE_NOT_CONNECTED ||
         error == ERROR_FILE_NOT_FOUND;
}

int DeviceGoneError() { return ERROR_NOT_READY; }

bool IsUnsupported(int error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_INVALID_PARAMETER;
}

std::string DeviceErrorText(int error) {
  char buffer[512];
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  if (text.size() > 255) text.resize(255);
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

long ReadDevice(TVaDeviceHandle device, void* buffer, long count) {
  Win32Port& port = *PortOf(device);
  // Only what is waiting is asked for, so the read completes at once.
  COMSTAT status{};
  if (!QueryComm(port, status)) return IsDeviceGone(last_error) ? kDeviceGone : -1;
  const DWORD wanted = std::min<DWORD>(status.cbInQue, static_cast<DWORD>(count));
  if (wanted == 0) return 0;
  DWORD got = 0;
  ::ResetEvent(port.read_io.hEvent);
  if (!::ReadFile(port.handle, buffer, wanted, &got, &port.read_io)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      // The bytes are there, so the read ends at once; should it not, the
      // main thread is not held: it is cancelled and takes what it got.
      if (::WaitForSingleObject(port.read_io.hEvent, kReadWaitMs) != WAIT_OBJECT_0) {
        ::CancelIoEx(port.handle, &port.read_io);
      }
      if (!SettleAfterSignal(port.read_io)) ::CancelIoEx(port.handle, &port.read_io);
      if (::GetOverlappedResult(port.handle, &port.read_io, &got, TRUE)) {
        return static_cast<long>(got);
      }
      error = ::GetLastError();
      if (error == ERROR_OPERATION_ABORTED) return static_cast<long>(got);
    }
    Fail(error);
    return IsDeviceGone(static_cast<int>(error)) ? kDeviceGone : -1;
  }
  return static_cast<long>(got);
}

// Starts the write of what the port holds in write_bytes, and goes on as long
// as Windows takes part of it at once. True when it is all taken or pending.
bool StartHeldWrite(Win32Port& port) {
  while (!port.write_bytes.empty()) {
    ::ResetEvent(port.write_io.hEvent);
    DWORD written = 0;
    if (::WriteFile(port.handle, port.write_bytes.data(),
                    static_cast<DWORD>(port.write_bytes.size()), &written, &port.write_io)) {
      port.write_bytes.erase(
          port.write_bytes.begin(),
          port.write_bytes.begin() + std::min<std::size_t>(written, port.write_bytes.size()));
      if (written == 0) return true;  // nothing taken: the next call tries again
      continue;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      port.write_pending = true;
      return true;
    }
    Fail(error);
    return false;
  }
  return true;
}

long WriteDevice(TVaDeviceHandle device, const void* data, long count) {
  Win32Port& port = *PortOf(device);
  std::lock_guard lock(port.write_mutex);
  if (port.write_pending) {
    DWORD done = 0;
    if (!::GetOverlappedResult(port.handle, &port.write_io, &done, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return 0;  // the device is still busy with the last one
      port.write_pending = false;
      Fail(error);
      return -1;
    }
    port.write_pending = false;
    // A write may complete with part of its bytes (a pty's queue that was
    // full under Wine): the rest was already promised to the caller, so it
    // goes on before anything new, or the box gets a block with a hole.
    port.write_bytes.erase(
        port.write_bytes.begin(),
        port.write_bytes.begin() + std::min<std::size_t>(done, port.write_bytes.size()));
  }
  if (!port.write_bytes.empty()) {
    if (!StartHeldWrite(port)) return -1;
    if (port.write_pending || !port.write_bytes.empty()) return 0;
  }
  if (count <= 0) return 0;
  // The bytes stay with the port until the write completes; the caller's
  // buffer is free at once, as after a write to a driver's queue.
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  ::ResetEvent(port.write_io.hEvent);
  DWORD written = 0;
  port.write_bytes.assign(bytes, bytes + count);
  if (::WriteFile(port.handle, port.write_bytes.data(), static_cast<DWORD>(count), &written,
                  &port.write_io)) {
    port.write_bytes.clear();
    return static_cast<long>(written);
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    port.write_pending = true;
    return count;
  }
  port.write_bytes.clear();
  Fail(error);
  return -1;
}

TVaDeviceWait WaitDevice(TVaDeviceHandle device, TVaWaitEvent* stop, TVaWaitEvent* kick, int want,
                         int timeout_ms) {
  Win32Port& port = *PortOf(device);
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    HANDLE handles[4] = {};
    TVaDeviceWait answers[4] = {};
    DWORD n = 0;
    DWORD wait_index = 0;
    bool line_polled = false;  // no wait could be started: the queue is looked at
    if (stop != nullptr) {
      handles[n] = reinterpret_cast<HANDLE>(stop->Handle());
      answers[n++] = TVaDeviceWait::Stopped;
    }
    if (kick != nullptr) {
      handles[n] = reinterpret_cast<HANDLE>(kick->Handle());
      answers[n++] = TVaDeviceWait::Kicked;
    }
    if (want & kWaitReadable) {
      if (!port.wait_pending) {
        // Abandoned waits that have ended since are freed.
        std::erase_if(port.abandoned_waits,
                      [](const auto& wait) { return HasOverlappedIoCompleted(&wait->io); });
        LineWait& wait = *port.line_wait;
        ::ResetEvent(wait.io.hEvent);
        wait.mask = 0;
        if (::WaitCommEvent(port.handle, &wait.mask, &wait.io)) {
          return TVaDeviceWait::Readable;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
          Fail(error);
          // Wine ends a wait it cannot keep (995) at once when bytes are
          // waiting; without bytes it is only a wait to start again.
          // A wait refused as one too many (the end of an abandoned one is
          // still to come) is looked at the same way, a slice at a time.
          if (error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_PARAMETER) {
            const int waiting = BytesWaiting(device);
            if (waiting > 0) return TVaDeviceWait::Readable;
            if (waiting < 0) return TVaDeviceWait::Gone;
            line_polled = true;
          } else {
            return TVaDeviceWait::Gone;
          }
        } else {
          port.wait_pending = true;
          port.wait_started = ::GetTickCount64();
        }
      }
      if (port.wait_pending) {
        wait_index = n;
        handles[n] = port.line_wait->io.hEvent;
        answers[n++] = TVaDeviceWait::Readable;
      }
    }
    if (want & kWaitWritable) {
      std::lock_guard lock(port.write_mutex);
      if (!port.write_pending || HasOverlappedIoCompleted(&port.write_io)) {
        return TVaDeviceWait::Writable;
      }
      handles[n] = port.write_io.hEvent;
      answers[n++] = TVaDeviceWait::Writable;
    }

    DWORD wait_ms = INFINITE;
    if (timeout_ms >= 0) {
      const ULONGLONG spent = ::GetTickCount64() - start;
      wait_ms = spent >= static_cast<ULONGLONG>(timeout_ms)
                    ? 0
                    : static_cast<DWORD>(static_cast<ULONGLONG>(timeout_ms) - spent);
    }
    // Overlapped operations are looked at every so often as well: should a
    // completion's signal be lost after all, it costs that long, never a hang.
    const bool line_wait = (want & kWaitReadable) && port.wait_pending;
    const bool write_wait = (want & kWaitWritable) != 0;  // a write is pending, see above
    const DWORD slice =
        line_wait || write_wait || line_polled
            ? std::min<DWORD>(
                  wait_ms, port.driver_polls && line_wait ? kPolledWaitSliceMs : kLineWaitSliceMs)
            : wait_ms;
    if (n == 0) {
      if (slice != 0) ::Sleep(slice == INFINITE ? 0 : slice);
      if (line_polled && slice != wait_ms) continue;
      return TVaDeviceWait::TimedOut;
    }
    DWORD result = ::WaitForMultipleObjects(n, handles, FALSE, slice);
    if (result == WAIT_TIMEOUT && line_wait && HasOverlappedIoCompleted(&port.line_wait->io)) {
      result = WAIT_OBJECT_0 + wait_index;
    } else if (result == WAIT_TIMEOUT && line_wait) {
      // Wine can leave a line-event wait pending for good while bytes arrive
      // or after the far end has hung up: the queue itself tells.
      const TVaDeviceWait seen = LookAtLineBehindWait(port);
      if (seen != TVaDeviceWait::TimedOut) return seen;
      if (slice != wait_ms) continue;
    } else if (result == WAIT_TIMEOUT && write_wait && HasOverlappedIoCompleted(&port.write_io)) {
      return TVaDeviceWait::Writable;
    } else if (result == WAIT_TIMEOUT && slice != wait_ms) {
      continue;
    }
    if (result == WAIT_TIMEOUT) return TVaDeviceWait::TimedOut;
    if (result >= WAIT_OBJECT_0 + n) {
      Fail(::GetLastError());
      return TVaDeviceWait::Gone;
    }
    const TVaDeviceWait answer = answers[result - WAIT_OBJECT_0];
    if (answer == TVaDeviceWait::Writable) {
      std::lock_guard lock(port.write_mutex);
      if (port.write_pending) SettleAfterSignal(port.write_io);
      return answer;
    }
    if (answer != TVaDeviceWait::Readable || !port.wait_pending) return answer;
    if (!SettleAfterSignal(port.line_wait->io)) continue;

    // The line-event wait has ended.
    port.wait_pending = false;
    DWORD ignored = 0;
    if (::GetOverlappedResult(port.handle, &port.line_wait->io, &ignored, FALSE)) {
      return TVaDeviceWait::Readable;
    }
    const DWORD error = ::GetLastError();
    Fail(error);
    if (error != ERROR_OPERATION_ABORTED) return TVaDeviceWait::Gone;
    port.driver_polls = true;
    // Wine gives up its wait on a pty every millisecond or two: look at the
    // queue, and wait again when it is empty.
    const int waiting = BytesWaiting(device);
    if (waiting > 0) return TVaDeviceWait::Readable;
    if (waiting < 0) return TVaDeviceWait::Gone;
    if (timeout_ms >= 0 && ::GetTickCount64() - start >= static_cast<ULONGLONG>(timeout_ms)) {
      return TVaDeviceWait::TimedOut;
    }
  }
}

std::intptr_t CurrentThreadId() { return static_cast<std::intptr_t>(::GetCurrentThreadId()); }

void SetThreadPriorityOf(std::intptr_t thread_id, TThreadPriority priority) {
  static constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                        THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                        THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                        THREAD_PRIORITY_TIME_CRITICAL};
  if (thread_id <= 0) return;
  HANDLE thread = ::OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(thread_id));
  if (thread == nullptr) return;
  ::SetThreadPriority(thread, kPriorities[static_cast<int>(priority)]);
  ::CloseHandle(thread);
}

}  // namespace stbup
