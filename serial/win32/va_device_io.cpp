// The Win32 side of the port, reads and writes: overlapped ReadFile of what
// is waiting, and WriteFile of bytes the port keeps until the write completes.
#include <algorithm>
#include <cstdint>

#include "serial/win32/win32_port.h"

namespace stbup {

namespace {

// A write may complete with part of its bytes (a pty's queue that was full
// under Wine): what was taken leaves the held bytes, the rest goes on.
void DropWrittenPart(Win32Port& port, DWORD written) {
  port.write_bytes.erase(
      port.write_bytes.begin(),
      port.write_bytes.begin() + std::min<std::size_t>(written, port.write_bytes.size()));
}

// Starts the write of what the port holds in write_bytes, and goes on as long
// as Windows takes part of it at once. True when it is all taken or pending.
bool StartHeldWrite(Win32Port& port) {
  while (!port.write_bytes.empty()) {
    ::ResetEvent(port.write_io.hEvent);
    DWORD written = 0;
    if (::WriteFile(port.handle, port.write_bytes.data(),
                    static_cast<DWORD>(port.write_bytes.size()), &written, &port.write_io)) {
      DropWrittenPart(port, written);
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

// Reads up to count of the bytes the driver's queue holds. Only what is
// waiting is asked for, so the read completes at once.
long ReadQueued(Win32Port& port, std::uint8_t* buffer, long count) {
  COMSTAT status{};
  if (!QueryComm(port, status)) return IsDeviceGone(LastDeviceError()) ? kDeviceGone : -1;
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

}  // namespace

int BytesWaiting(TVaDeviceHandle device) {
  Win32Port& port = *PortOf(device);
  std::lock_guard lock(port.receive_mutex);
  TakeEndedRead(port);
  // Bytes a read took count with the queue; they stay readable after a
  // hang-up, so a failing queue hides them not.
  const int held = static_cast<int>(port.received.size());
  COMSTAT status{};
  if (!QueryComm(port, status)) return held > 0 ? held : -1;
  return held + static_cast<int>(status.cbInQue);
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

long ReadDevice(TVaDeviceHandle device, void* buffer, long count) {
  Win32Port& port = *PortOf(device);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::lock_guard lock(port.receive_mutex);
  TakeEndedRead(port);
  const long held = std::min<long>(count, static_cast<long>(port.received.size()));
  std::copy_n(port.received.begin(), held, bytes);
  port.received.erase(port.received.begin(), port.received.begin() + held);
  // While a read is pending, the bytes in the queue may be bound for it:
  // they come with its end, in their order.
  if (held == count || port.read_pending) return held;
  const long more = ReadQueued(port, bytes + held, count - held);
  if (more < 0) return held > 0 ? held : more;
  return held + more;
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
    // The rest of a write that completed with part of its bytes was already
    // promised to the caller, so it goes on before anything new, or the box
    // gets a block with a hole.
    DropWrittenPart(port, done);
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

}  // namespace stbup
