// The Win32 side of the port, the one wait on {device, stop, kick}: an
// overlapped WaitCommEvent for the line, the pending write's event, and the
// steps that keep the wait honest where Wine's line-event waits are not.
#include <algorithm>
#include <memory>
#include <optional>

#include "serial/va_handle_object.h"
#include "serial/win32/win32_port.h"

namespace stbup {

namespace {

// What one round of the wait watches: each handle with the answer it gives.
struct WaitRound {
  HANDLE handles[4] = {};
  TVaDeviceWait answers[4] = {};
  DWORD n = 0;
  DWORD line_index = 0;      // where the line-event wait is, if watched
  bool line_polled = false;  // no wait could be started: the queue is looked at

  void Add(HANDLE handle, TVaDeviceWait answer) {
    handles[n] = handle;
    answers[n++] = answer;
  }
};

// What the receive queue tells by itself: bytes waiting (Readable), a device
// that fails (Gone), or nothing yet.
std::optional<TVaDeviceWait> AnswerFromQueue(TVaDeviceHandle device) {
  const int waiting = BytesWaiting(device);
  if (waiting > 0) return TVaDeviceWait::Readable;
  if (waiting < 0) return TVaDeviceWait::Gone;
  return std::nullopt;
}

// Wine ends a wait it cannot keep (995) at once, and refuses one too many
// (the end of an abandoned one is still to come): neither is the device's
// failure.
bool IsWaitWineGaveUp(DWORD error) {
  return error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_PARAMETER;
}

// Wine can lose the end of a line-event wait for good: it is cancelled, or,
// when even that does not end it, abandoned (the system may still write to
// it), and the next wait gets a record of its own. False when no new record
// can be made.
bool AbandonLostLineWait(Win32Port& port) {
  ::CancelIoEx(port.handle, &port.line_wait->io);
  ::WaitForSingleObject(port.line_wait->io.hEvent, kCancelWaitMs);
  if (!HasOverlappedIoCompleted(&port.line_wait->io)) {
    std::unique_ptr<LineWait> fresh = NewLineWait();
    if (!fresh) {
      Fail(::GetLastError());
      return false;
    }
    port.abandoned_waits.push_back(std::move(port.line_wait));
    port.line_wait = std::move(fresh);
  }
  port.wait_pending = false;
  return true;
}

// The queue behind a pending line-event wait: bytes are waiting (Readable),
// or the device fails (Gone), or neither (TimedOut). The wait stays pending
// unless it has lost its end: then it is abandoned, so that the next one
// starts afresh.
TVaDeviceWait LookAtLineBehindWait(Win32Port& port) {
  COMSTAT status{};
  if (!QueryComm(port, status)) return TVaDeviceWait::Gone;
  if (status.cbInQue == 0) return TVaDeviceWait::TimedOut;
  if (::GetTickCount64() - port.wait_started < kLostWaitMs) return TVaDeviceWait::Readable;
  return AbandonLostLineWait(port) ? TVaDeviceWait::Readable : TVaDeviceWait::Gone;
}

// Starts a line-event wait unless one is pending. An answer when the wait
// needs none (it ended at once, or could not start); with line_polled set when
// Wine gave it up and the queue is to be looked at a slice at a time.
std::optional<TVaDeviceWait> StartLineWait(Win32Port& port, TVaDeviceHandle device,
                                           bool& line_polled) {
  if (port.wait_pending) return std::nullopt;
  // Abandoned waits that have ended since are freed.
  std::erase_if(port.abandoned_waits,
                [](const auto& wait) { return HasOverlappedIoCompleted(&wait->io); });
  LineWait& wait = *port.line_wait;
  ::ResetEvent(wait.io.hEvent);
  wait.mask = 0;
  if (::WaitCommEvent(port.handle, &wait.mask, &wait.io)) return TVaDeviceWait::Readable;
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    port.wait_pending = true;
    port.wait_started = ::GetTickCount64();
    return std::nullopt;
  }
  Fail(error);
  if (!IsWaitWineGaveUp(error)) return TVaDeviceWait::Gone;
  // With bytes waiting the wait is not needed; without, it is started again.
  if (const auto seen = AnswerFromQueue(device)) return seen;
  line_polled = true;
  return std::nullopt;
}

// The pending line-event wait has ended: Readable, Gone, or nothing when
// Wine gave it up with the queue empty (wait again).
std::optional<TVaDeviceWait> EndLineWait(Win32Port& port, TVaDeviceHandle device) {
  port.wait_pending = false;
  DWORD ignored = 0;
  if (::GetOverlappedResult(port.handle, &port.line_wait->io, &ignored, FALSE)) {
    return TVaDeviceWait::Readable;
  }
  const DWORD error = ::GetLastError();
  Fail(error);
  if (error != ERROR_OPERATION_ABORTED) return TVaDeviceWait::Gone;
  // Wine gives up its wait on a pty every millisecond or two: from now on
  // the wait is looked at in short slices.
  port.driver_polls = true;
  return AnswerFromQueue(device);
}

// What is left of timeout_ms since start; INFINITE without a time-out.
DWORD TimeLeft(ULONGLONG start, int timeout_ms) {
  if (timeout_ms < 0) return INFINITE;
  const ULONGLONG spent = ::GetTickCount64() - start;
  return spent >= static_cast<ULONGLONG>(timeout_ms)
             ? 0
             : static_cast<DWORD>(static_cast<ULONGLONG>(timeout_ms) - spent);
}

// How long one round waits: overlapped operations are looked at every so
// often as well, so that a completion whose signal is lost costs that long,
// never a hang; in short slices where Wine's driver only polls.
DWORD SliceOf(const Win32Port& port, DWORD wait_ms, bool line_wait, bool looked_at) {
  if (!line_wait && !looked_at) return wait_ms;
  return std::min<DWORD>(wait_ms,
                         port.driver_polls && line_wait ? kPolledWaitSliceMs : kLineWaitSliceMs);
}

}  // namespace

TVaDeviceWait WaitDevice(TVaDeviceHandle device, TVaWaitEvent* stop, TVaWaitEvent* kick, int want,
                         int timeout_ms) {
  Win32Port& port = *PortOf(device);
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    WaitRound round;
    if (stop != nullptr) {
      round.Add(reinterpret_cast<HANDLE>(stop->Handle()), TVaDeviceWait::Stopped);
    }
    if (kick != nullptr) {
      round.Add(reinterpret_cast<HANDLE>(kick->Handle()), TVaDeviceWait::Kicked);
    }
    if (want & kWaitReadable) {
      if (const auto answer = StartLineWait(port, device, round.line_polled)) return *answer;
      if (port.wait_pending) {
        round.line_index = round.n;
        round.Add(port.line_wait->io.hEvent, TVaDeviceWait::Readable);
      }
    }
    if (want & kWaitWritable) {
      std::lock_guard lock(port.write_mutex);
      if (!port.write_pending || HasOverlappedIoCompleted(&port.write_io)) {
        return TVaDeviceWait::Writable;
      }
      round.Add(port.write_io.hEvent, TVaDeviceWait::Writable);
    }

    const DWORD wait_ms = TimeLeft(start, timeout_ms);
    const bool line_wait = (want & kWaitReadable) && port.wait_pending;
    const bool write_wait = (want & kWaitWritable) != 0;  // a write is pending, see above
    const DWORD slice = SliceOf(port, wait_ms, line_wait, write_wait || round.line_polled);
    if (round.n == 0) {
      if (slice != 0) ::Sleep(slice == INFINITE ? 0 : slice);
      if (round.line_polled && slice != wait_ms) continue;
      return TVaDeviceWait::TimedOut;
    }
    DWORD result = ::WaitForMultipleObjects(round.n, round.handles, FALSE, slice);
    if (result == WAIT_TIMEOUT && line_wait && HasOverlappedIoCompleted(&port.line_wait->io)) {
      result = WAIT_OBJECT_0 + round.line_index;  // ended, its signal lost
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
    if (result >= WAIT_OBJECT_0 + round.n) {
      Fail(::GetLastError());
      return TVaDeviceWait::Gone;
    }
    const TVaDeviceWait answer = round.answers[result - WAIT_OBJECT_0];
    if (answer == TVaDeviceWait::Writable) {
      std::lock_guard lock(port.write_mutex);
      if (port.write_pending) SettleAfterSignal(port.write_io);
      return answer;
    }
    if (answer != TVaDeviceWait::Readable || !port.wait_pending) return answer;
    if (!SettleAfterSignal(port.line_wait->io)) continue;
    if (const auto seen = EndLineWait(port, device)) return *seen;
    if (timeout_ms >= 0 && ::GetTickCount64() - start >= static_cast<ULONGLONG>(timeout_ms)) {
      return TVaDeviceWait::TimedOut;
    }
  }
}

}  // namespace stbup
