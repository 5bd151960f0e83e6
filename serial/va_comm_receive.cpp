// The receive path of the port: status, reads and the events a batch raises.
#include <mutex>

#include "serial/va_comm.h"
#include "serial/va_comm_thread.h"

namespace stbup {

TVaCommStatus TVaCustomComm::ReadStatus() { return QueryStatus(true); }

TVaCommStatus TVaCustomComm::QueryStatus(bool with_out_queue) {
  std::lock_guard lock(*ReadLock);
  TVaCommStatus status;
  if (!Active()) return status;
  const int waiting = BytesWaiting(handle_);
  if (waiting < 0) RaiseCommError("Error retrieving statistics (%d), %s", LastDeviceError());
  const int queued_out = with_out_queue ? BytesQueuedOut(handle_) : 0;
  const TVaLineCounters counters = session_->LineCounters(status_baseline_);
  // Each query reports the errors since the previous one, and so clears them.
  status.Errors = LineErrorBits(status_baseline_, counters);
  status_baseline_ = counters;
  status.cbInQue = static_cast<std::uint32_t>(waiting);
  status.cbOutQue = static_cast<std::uint32_t>(queued_out > 0 ? queued_out : 0);
  return status;
}

int TVaCustomComm::ReadBufUsed() {
  if (!Active()) return 0;
  return static_cast<int>(QueryStatus(false).cbInQue);
}

int TVaCustomComm::ReadBuf(void* buffer, int count) {
  if (!Active() || count <= 0) return 0;
  std::lock_guard lock(*ReadLock);
  const long got = ReadDevice(handle_, buffer, count);
  if (got >= 0) {
    session_->bytes_read += static_cast<std::uint64_t>(got);
    return static_cast<int>(got);
  }
  if (got == kDeviceGone) {
    session_->device_lost = true;
    return 0;
  }
  const int error = LastDeviceError();
  if (IsDeviceGone(error)) session_->device_lost = true;
  RaiseCommError("Read error (%d), %s", error);
}

std::string TVaCustomComm::ReadText() {
  // What is there is read without asking first how much: the count would be
  // one more call into the driver on the way to every reply.
  std::string text;
  char chunk[4096];
  for (;;) {
    const int got = ReadBuf(chunk, static_cast<int>(sizeof chunk));
    text.append(chunk, static_cast<std::size_t>(got));
    if (got < static_cast<int>(sizeof chunk)) break;
  }
  // The count query it saves would have cleared the line errors.
  ClearLineErrors();
  return text;
}

void TVaCustomComm::ClearLineErrors() {
  std::lock_guard lock(*ReadLock);
  if (!Active()) return;
  status_baseline_ = session_->LineCounters(status_baseline_);
}

void TVaCustomComm::DispatchRxChar(const TVaRxSighting& seen) {
  // The sighting lives on the event thread's stack for this batch only.
  rx_sighting_ = &seen;
  struct Forget {
    const TVaRxSighting*& sighting;
    ~Forget() { sighting = nullptr; }
  } forget{rx_sighting_};
  DoRxChar();
}

int TVaCustomComm::WaitingForRxChar() {
  const TVaRxSighting* seen = rx_sighting_;
  if (seen && Active() && seen->session == session_.get() &&
      session_->bytes_read.load() == seen->read_before) {
    // Nothing was read since the event thread counted, so at least those
    // bytes wait; more may have come, and the handler's read takes them too.
    ClearLineErrors();
    return seen->waiting;
  }
  return ReadBufUsed();
}

void TVaCustomComm::DoRxChar() {
  const int count = WaitingForRxChar();
  if (count <= 0) return;
  if (OnRxChar) OnRxChar(Self(), count);
}

void TVaCustomComm::DoEvent(std::uint32_t mask) {
  const auto raise = [this, mask](std::uint32_t bit, const TNotifyEvent& handler) {
    if ((mask & bit) && handler) handler(Self());
  };
  if (mask & EV_ERR) DoError();
  raise(EV_RXFLAG, OnRxFlag);
  raise(EV_CTS, OnCts);
  raise(EV_DSR, OnDsr);
  raise(EV_RING, OnRing);
  raise(EV_RLSD, OnRlsd);
  raise(EV_TXEMPTY, OnTxEmpty);
  raise(EV_BREAK, OnBreak);
  raise(EV_PERR, OnPErr);
  raise(EV_RX80FULL, OnRx80Full);
  raise(EV_EVENT1, OnEvent1);
  raise(EV_EVENT2, OnEvent2);
}

bool TVaCustomComm::DoError() {
  const std::uint32_t errors = ReadStatus().Errors;
  if (errors != 0 && OnError) {
    try {
      OnError(Self(), static_cast<int>(errors));
    } catch (const std::exception& error) {
      HandleException(error);
    }
  }
  return errors != 0;
}

}  // namespace stbup
