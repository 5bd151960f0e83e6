#include "serial/va_comm_event_thread.h"

#include <chrono>
#include <exception>
#include <thread>

#include "serial/va_comm.h"
#include "serial/va_comm_write_thread.h"
#include "serial/va_device.h"

namespace stbup {

namespace {

// While bytes sit unread, or a direct write awaits its transmit-empty event,
// the device is looked at this often instead of being waited on (a level-
// triggered poll would report the same bytes without end).
constexpr int kRecheckMs = 10;
// A device that has gone away is looked at again after this pause.
constexpr int kLostPauseMs = 100;
// The modem lines give poll no signal: while their events are monitored they
// are sampled this often.
constexpr int kModemSampleMs = 20;
constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
// Not reported: EV_RXFLAG, EV_EVENT1/2 need the data read; EV_PERR has no Linux counterpart.

// The events of the modem lines that changed between two samples. Ring is
// reported at the end of a ring (on to off), as a UART's ring indicator is.
std::uint32_t ModemLineEvents(int before, int after) {
  const int changed = before ^ after;
  std::uint32_t events = 0;
  if (changed & kModemCts) events |= EV_CTS;
  if (changed & kModemDsr) events |= EV_DSR;
  if ((before & kModemRing) && !(after & kModemRing)) events |= EV_RING;
  if (changed & kModemRlsd) events |= EV_RLSD;
  return events;
}

}  // namespace

TVaCommEventThread::TVaCommEventThread(std::shared_ptr<TVaCommSession> session,
                                       std::uint32_t event_mask, int read_size, bool watch_replies)
    : TVaCommThread(std::move(session)),
      event_mask_(event_mask),
      read_size_(read_size),
      watch_replies_(watch_replies) {}

TVaDeviceWait TVaCommEventThread::WaitForInput(ReplyWatch& watch) {
  using Clock = ReplyWatch::Clock;
  const TVaDeviceHandle fd = session_->fd;
  TVaDeviceWait ready = TVaDeviceWait::TimedOut;
  const auto window = watch.Next(session_->LastWrite());
  if (window && Clock::now() < window->until) {
    // Asleep until the watch begins, in whole milliseconds that end no later.
    const auto asleep =
        std::chrono::floor<std::chrono::milliseconds>(window->from - Clock::now()).count();
    if (asleep > 0) {
      ready = WaitDevice(fd, &WaitEvent, &KickEvent, kWaitReadable, static_cast<int>(asleep));
    }
    while (ready == TVaDeviceWait::TimedOut && Clock::now() < window->until) {
      ready = WaitDevice(fd, &WaitEvent, &KickEvent, kWaitReadable, 0);
      if (ready == TVaDeviceWait::TimedOut) std::this_thread::sleep_for(ReplyWatch::kLookEvery);
    }
  }
  if (ready == TVaDeviceWait::TimedOut) {
    ready = WaitDevice(fd, &WaitEvent, &KickEvent, kWaitReadable, -1);
  }
  if (ready == TVaDeviceWait::Readable) watch.Arrived(session_->LastWrite(), Clock::now());
  return ready;
}

void TVaCommEventThread::DispatchEvents(TVaCustomComm& owner, std::uint32_t reported_mask,
                                        const TVaRxSighting& seen) {
  struct Release {
    std::shared_ptr<TVaCommWriteThread> thread;
    ~Release() {
      if (thread) thread->Release();
    }
  } held{owner.HoldWrites()};
  try {
    if (reported_mask & EV_RXCHAR) {
      owner.DispatchRxChar(seen);
      reported_mask &= ~EV_RXCHAR;
    }
    if (reported_mask != 0) owner.DoEvent(reported_mask);
  } catch (const std::exception& error) {
    // The error box waits for the operator; the replies made before the
    // error must not wait with it.
    if (held.thread) held.thread->EndHold();
    owner.HandleException(error);
  } catch (...) {
    if (held.thread) held.thread->EndHold();
    owner.HandleException(EVaCommError("Unknown exception in a serial event handler"));
  }
}

void TVaCommEventThread::Execute() {
  const TVaDeviceHandle fd = session_->fd;
  std::uint64_t last_total = 0;  // bytes ever received, as last seen
  int last_unread = 0;
  bool more = false;  // new bytes came while the last batch was handled
  const TVaDeviceQueries& queries = session_->queries;
  TVaLineCounters counters = session_->LineCounters({});

  // A device without modem lines (a pty) is not sampled again this opening.
  bool sample_lines = (event_mask_ & kModemEvents) != 0;
  bool have_lines = false;  // lines holds a sample to compare with
  int lines = 0;
  const auto sample = [&]() -> std::uint32_t {
    int now = 0;
    const int error = queries.ModemLines(fd, now);
    if (error != 0 && IsUnsupported(error)) sample_lines = false;
    if (error != 0) return 0;
    const std::uint32_t events = have_lines ? ModemLineEvents(lines, now) : 0;
    lines = now;
    have_lines = true;
    return events;
  };
  if (sample_lines) sample();
  ReplyWatch replies;

  while (!Terminated()) {
    const bool tx_watch = (event_mask_ & EV_TXEMPTY) && session_->tx_pending;
    const bool recheck = last_unread > 0 || tx_watch;
    const int timeout = recheck ? kRecheckMs : sample_lines ? kModemSampleMs : -1;
    // Bytes that came while the last batch was handled are reported at once:
    // asking the device first would only hear that they are there, one
    // system call more on the way to every reply. A hang-up behind them is
    // found by the wait that follows once they have been read.
    const TVaDeviceWait ready =
        more ? TVaDeviceWait::Readable
        : watch_replies_ && last_unread == 0 && timeout < 0
            ? WaitForInput(replies)
            : WaitDevice(fd, &WaitEvent, &KickEvent, last_unread > 0 ? 0 : kWaitReadable, timeout);
    if (Terminated() || ready == TVaDeviceWait::Stopped) break;
    if (ready == TVaDeviceWait::Kicked) KickEvent.ResetSignal();

    const bool gone = ready == TVaDeviceWait::Gone;
    std::uint32_t found = 0;

    // Read the component's count first: a read between the two looks like
    // less input, never like more, and the next look puts it right.
    const std::uint64_t read_so_far = session_->bytes_read;
    const int waiting = BytesWaiting(fd);
    if (waiting > 0 && read_so_far + static_cast<std::uint64_t>(waiting) > last_total) {
      found |= EV_RXCHAR;
      if (read_size_ > 0 &&
          static_cast<std::int64_t>(waiting) * 10 >= static_cast<std::int64_t>(read_size_) * 8) {
        found |= EV_RX80FULL;
      }
    }

    if (sample_lines) found |= sample();

    const TVaLineCounters now = session_->LineCounters(counters);
    if (now != counters) {
      const std::uint32_t errors = LineErrorBits(counters, now);
      if (errors & ~CE_BREAK) found |= EV_ERR;
      if (errors & CE_BREAK) found |= EV_BREAK;
      counters = now;
    }

    if (tx_watch && BytesQueuedOut(fd) == 0) {
      session_->tx_pending = false;
      found |= EV_TXEMPTY;
    }

    found &= event_mask_;
    try {
      if (gone) ReportDeviceLost();
      const TVaRxSighting seen{session_.get(), read_so_far, waiting};
      if (found != 0 && !RunOnOwner([found, &seen](TVaCustomComm& owner) {
            DispatchEvents(owner, found, seen);
          })) {
        break;
      }
    } catch (...) {
      // The main-thread queue itself has failed (it is shutting down).
      break;
    }

    // What was waiting before the batch counts as reported; bytes that came
    // during the handler and are still there are new for the next pass.
    if (waiting >= 0) last_total = read_so_far + static_cast<std::uint64_t>(waiting);
    if (waiting >= 0 && session_->bytes_read >= last_total) {
      // The handlers read all that was reported. What came since, the next
      // wait finds; asking now would cost every reply a system call, as the
      // box's next line is seldom there yet.
      last_unread = 0;
      more = false;
    } else {
      const int left = BytesWaiting(fd);
      last_unread = left > 0 ? left : 0;
      more = last_unread > 0 &&
             session_->bytes_read + static_cast<std::uint64_t>(last_unread) > last_total;
    }

    if (gone) {
      if (!Pause(kLostPauseMs)) break;
    } else if (found == 0 && ready == TVaDeviceWait::Readable && waiting <= 0) {
      // Readable with nothing to read: do not let it turn into a busy loop.
      if (!Pause(kRecheckMs)) break;
    }
  }
}

}  // namespace stbup
