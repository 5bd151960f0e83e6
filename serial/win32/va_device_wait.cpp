// The Win32 side of the port, the one wait on {device, stop, kick}: an
// overlapped WaitCommEvent for the line (or, where that only polls, a read
// kept pending), the pending write's event, and the steps that keep the wait
// honest where Wine's line-event waits are not.
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
  DWORD line_index = 0;      // where the line-event wait or pending read is, if watched
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
  // Wine gives up its wait on a pty every millisecond or two (and notices
  // bytes only at that pace): from now on a pending read stands in for it.
  port.driver_polls = true;
  return AnswerFromQueue(device);
}

// Where Wine's line-event wait only polls, a read is kept pending instead:
// Wine keeps that in its server until a byte arrives, so the wait blocks.

// The timeouts the pending read needs: none at all, so that it waits for its
// byte (Wine never ends a read under MAXDWORD, MAXDWORD, n). A read of what
// is waiting ends at once under them too, as under the no-wait timeouts.
bool SetBlockingReads(Win32Port& port) {
  if (port.reads_block) return true;
  COMMTIMEOUTS timeouts{};
  if (!::SetCommTimeouts(port.handle, &timeouts)) {
    Fail(::GetLastError());
    return false;
  }
  port.reads_block = true;
  return true;
}

// What the bytes and failures of ended reads answer: Readable while bytes
// are held, Gone once for a read that failed (ERROR_BROKEN_PIPE when the far
// end hung up; the next read fails at once again, and the caller pauses).
// Called with port.receive_mutex held.
std::optional<TVaDeviceWait> AnswerFromReceived(Win32Port& port) {
  TakeEndedRead(port);
  if (!port.received.empty()) return TVaDeviceWait::Readable;
  if (port.read_error != 0) {
    Fail(port.read_error);
    port.read_error = 0;
    return TVaDeviceWait::Gone;
  }
  return std::nullopt;
}

// Where the far end has taken every byte sent to it, its answer may be a
// moment away, and Wine tells a pending read's end a few hundred microseconds
// after the byte came: the queue is looked at for that moment first. While
// bytes are still going out (a block at the line's rate), no answer can come
// before they have left, and the read is started at once.
bool AnswerCameMeanwhile(Win32Port& port) {
  COMSTAT status{};
  if (!QueryComm(port, status) || status.cbOutQue > 0) return false;
  LARGE_INTEGER now{}, frequency{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  const LONGLONG until = now.QuadPart + frequency.QuadPart * kAnswerLookUs / 1'000'000;
  while (status.cbInQue == 0 && now.QuadPart < until) {
    ::SwitchToThread();
    if (!QueryComm(port, status)) return false;
    ::QueryPerformanceCounter(&now);
  }
  return status.cbInQue > 0;
}

// Starts the pending read unless one is pending. An answer when the wait
// needs none (bytes are held, the read failed); with line_polled set when a
// read ended at once with nothing, so that it is not started again at once.
std::optional<TVaDeviceWait> StartPendingRead(Win32Port& port, bool& line_polled) {
  {
    std::lock_guard lock(port.receive_mutex);
    if (const auto answer = AnswerFromReceived(port)) return answer;
    if (port.read_pending) return std::nullopt;
  }
  // Looked at without the lock, so that reads are not held meanwhile.
  if (AnswerCameMeanwhile(port)) return TVaDeviceWait::Readable;
  std::lock_guard lock(port.receive_mutex);
  if (const auto answer = AnswerFromReceived(port)) return answer;
  if (port.read_pending) return std::nullopt;
  if (!SetBlockingReads(port)) return TVaDeviceWait::Gone;
  PendingRead& read = *port.pending_read;
  ::ResetEvent(read.io.hEvent);
  DWORD got = 0;
  if (::ReadFile(port.handle, read.bytes.data(), kPendingReadSize, &got, &read.io)) {
    if (KeepReadBytes(port, got) > 0) return TVaDeviceWait::Readable;
    line_polled = true;
    return std::nullopt;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    port.read_pending = true;
    port.read_lost_since = 0;
    return std::nullopt;
  }
  Fail(error);
  return TVaDeviceWait::Gone;
}

// The pending read has ended (or was taken by ReadDevice or BytesWaiting
// meanwhile): Readable, Gone, or nothing when it brought no byte (a read
// cancelled before its byte came, or one that ended empty).
std::optional<TVaDeviceWait> EndPendingRead(Win32Port& port, TVaDeviceHandle device) {
  {
    std::lock_guard lock(port.receive_mutex);
    if (const auto answer = AnswerFromReceived(port)) return answer;
    if (port.read_pending) return std::nullopt;
  }
  return AnswerFromQueue(device);
}

// Wine could, as with its line-event waits, lose the end of a pending read:
// bytes wait behind it for kLostWaitMs. It is then cancelled, and keeps the
// bytes it took. TimedOut while nothing is seen to wait behind it.
TVaDeviceWait LookBehindPendingRead(Win32Port& port, TVaDeviceHandle device) {
  {
    std::lock_guard lock(port.receive_mutex);
    if (const auto answer = AnswerFromReceived(port)) return *answer;
    if (!port.read_pending) return TVaDeviceWait::TimedOut;  // taken meanwhile: start again
    COMSTAT status{};
    if (!QueryComm(port, status)) return TVaDeviceWait::Gone;
    const ULONGLONG now = ::GetTickCount64();
    if (status.cbInQue == 0) {
      port.read_lost_since = 0;
      return TVaDeviceWait::TimedOut;
    }
    if (port.read_lost_since == 0) port.read_lost_since = now;
    if (now - port.read_lost_since < kLostWaitMs) return TVaDeviceWait::TimedOut;
    ::CancelIoEx(port.handle, &port.pending_read->io);
    ::WaitForSingleObject(port.pending_read->io.hEvent, kCancelWaitMs);
    if (const auto answer = AnswerFromReceived(port)) return *answer;
    // One that ends not even now stays pending (its bytes must not be lost);
    // the next look cancels it again.
    if (port.read_pending) return TVaDeviceWait::TimedOut;
  }
  return AnswerFromQueue(device).value_or(TVaDeviceWait::TimedOut);
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
// never a hang; a short slice where the pending read is not started this round.
DWORD SliceOf(DWORD wait_ms, bool watched, bool looked_at, bool short_slice) {
  if (short_slice) return std::min<DWORD>(wait_ms, kPolledWaitSliceMs);
  if (!watched && !looked_at) return wait_ms;
  return std::min<DWORD>(wait_ms, kLineWaitSliceMs);
}

}  // namespace

TVaDeviceWait WaitDevice(TVaDeviceHandle device, TVaWaitEvent* stop, TVaWaitEvent* kick, int want,
                         int timeout_ms) {
  Win32Port& port = *PortOf(device);
  const ULONGLONG start = ::GetTickCount64();
  bool read_came_empty = false;  // the last pending read brought no byte
  for (;;) {
    WaitRound round;
    if (stop != nullptr) {
      round.Add(reinterpret_cast<HANDLE>(stop->Handle()), TVaDeviceWait::Stopped);
    }
    if (kick != nullptr) {
      round.Add(reinterpret_cast<HANDLE>(kick->Handle()), TVaDeviceWait::Kicked);
    }
    // Once the line-event wait is seen to give up by itself, the pending read
    // stands in for it. A read that brought nothing is not started again in
    // the same moment: the round waits a short slice first, so that reads
    // that end empty at once cost what polling did, never a spin.
    const bool by_read = (want & kWaitReadable) && port.driver_polls;
    bool read_wait = false;
    if (by_read && read_came_empty) {
      round.line_polled = true;
    } else if (by_read) {
      if (const auto answer = StartPendingRead(port, round.line_polled)) return *answer;
      read_wait = !round.line_polled;
      if (read_wait) {
        round.line_index = round.n;
        round.Add(port.pending_read->io.hEvent, TVaDeviceWait::Readable);
      }
    } else if (want & kWaitReadable) {
      if (const auto answer = StartLineWait(port, device, round.line_polled)) return *answer;
      if (port.wait_pending) {
        round.line_index = round.n;
        round.Add(port.line_wait->io.hEvent, TVaDeviceWait::Readable);
      }
    }
    read_came_empty = false;
    if (want & kWaitWritable) {
      std::lock_guard lock(port.write_mutex);
      if (!port.write_pending || HasOverlappedIoCompleted(&port.write_io)) {
        return TVaDeviceWait::Writable;
      }
      round.Add(port.write_io.hEvent, TVaDeviceWait::Writable);
    }

    const DWORD wait_ms = TimeLeft(start, timeout_ms);
    const bool line_wait = (want & kWaitReadable) && !by_read && port.wait_pending;
    const bool write_wait = (want & kWaitWritable) != 0;  // a write is pending, see above
    const DWORD slice = SliceOf(wait_ms, line_wait || read_wait, write_wait || round.line_polled,
                                by_read && round.line_polled);
    if (round.n == 0) {
      if (slice != 0) ::Sleep(slice == INFINITE ? 0 : slice);
      if (round.line_polled && slice != wait_ms) continue;
      return TVaDeviceWait::TimedOut;
    }
    DWORD result = ::WaitForMultipleObjects(round.n, round.handles, FALSE, slice);
    if (result == WAIT_TIMEOUT && read_wait && HasOverlappedIoCompleted(&port.pending_read->io)) {
      result = WAIT_OBJECT_0 + round.line_index;  // ended, its signal lost
    } else if (result == WAIT_TIMEOUT && read_wait) {
      const TVaDeviceWait seen = LookBehindPendingRead(port, device);
      if (seen != TVaDeviceWait::TimedOut) return seen;
      if (slice != wait_ms) continue;
    } else if (result == WAIT_TIMEOUT && line_wait &&
               HasOverlappedIoCompleted(&port.line_wait->io)) {
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
    if (answer != TVaDeviceWait::Readable) return answer;
    if (read_wait) {
      if (!SettleAfterSignal(port.pending_read->io)) continue;
      if (const auto seen = EndPendingRead(port, device)) return *seen;
      read_came_empty = true;
    } else {
      if (!port.wait_pending) return answer;
      if (!SettleAfterSignal(port.line_wait->io)) continue;
      if (const auto seen = EndLineWait(port, device)) return *seen;
    }
    if (timeout_ms >= 0 && ::GetTickCount64() - start >= static_cast<ULONGLONG>(timeout_ms)) {
      return TVaDeviceWait::TimedOut;
    }
  }
}

}  // namespace stbup
