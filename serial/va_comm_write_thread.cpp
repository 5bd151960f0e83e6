#include "serial/va_comm_write_thread.h"

#include <chrono>
#include <exception>
#include <mutex>

#include "serial/va_comm.h"

namespace stbup {

namespace {
// A transfer that failed is tried again after this pause.
constexpr int kRetryPauseMs = 100;
}  // namespace

TVaCommWriteThread::TVaCommWriteThread(std::shared_ptr<TVaCommSession> session,
                                       std::shared_ptr<TVaCriticalSection> write_lock,
                                       std::int32_t capacity)
    : TVaCommThread(std::move(session)), WriteLock(std::move(write_lock)), Queue(capacity) {}

bool TVaCommWriteThread::Enqueue(const void* data, std::int32_t count, std::int32_t timeout_ms,
                                 bool report_drain) {
  if (count < 0) return false;
  std::unique_lock lock(*WriteLock);
  const auto fits = [&] {
    return static_cast<std::int64_t>(Queue.Size()) + count <= Queue.Capacity();
  };
  if (!fits()) {
    if (held_) {  // the thread has to make room, so it has to know of them
      held_ = false;
      DataEvent.SetSignal();
    }
    // Sleeps until the thread has consumed enough; the main thread waits
    // here and nowhere else, at most the time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    if (!room_.wait_until(lock, deadline, fits)) return false;
  }
  report_drain_ = report_drain;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const bool holding = holding_ > 0 && !hold_ended_;
  if (held_ || (holding && Queue.Size() == 0 && !transferring_ && !report_drain)) {
    Queue.Append(bytes, count);
    held_ = !report_drain;
    if (!held_) DataEvent.SetSignal();
    return true;
  }
  if (Queue.Size() == 0 && !report_drain && count > 0) {
    // Nothing queued means no transfer in flight (a transfer keeps its bytes
    // queued until it is done), so the bytes may go to the device at once:
    // a reply then leaves without waking this thread. What the device does
    // not take now is queued as usual; a drain somebody listens for still
    // goes through the thread, which reports it.
    const long written = session_->Write(bytes, count);
    if (written == count) return true;
    if (written > 0) {
      bytes += written;
      count -= static_cast<std::int32_t>(written);
    }
  }
  Queue.Append(bytes, count);
  DataEvent.SetSignal();
  return true;
}

void TVaCommWriteThread::Hold() { ++holding_; }

void TVaCommWriteThread::Release() {
  if (holding_ > 0 && --holding_ > 0) return;
  hold_ended_ = false;
  std::lock_guard lock(*WriteLock);
  SendHeldLocked();
}

void TVaCommWriteThread::EndHold() {
  if (holding_ == 0) return;
  hold_ended_ = true;
  std::lock_guard lock(*WriteLock);
  SendHeldLocked();
}

void TVaCommWriteThread::SendHeldLocked() {
  if (!held_) return;
  held_ = false;
  if (Terminated()) return;  // closed meanwhile: queued output is dropped
  if (!transferring_) {
    // The thread is idle and was not told of these bytes, so nobody else
    // writes them; what the device does not take now the thread sends.
    const long written = session_->Write(Queue.Data(), Queue.Size());
    if (written > 0) Queue.Consume(static_cast<std::int32_t>(written));
  }
  if (Queue.Size() > 0) DataEvent.SetSignal();
}

void TVaCommWriteThread::Drain(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::unique_lock lock(*WriteLock);
  held_ = false;
  while (Queue.Size() > 0 && !Terminated()) {
    if (transferring_) {
      // The thread owns a snapshot of the queue's front; it reports back.
      if (room_.wait_until(lock, deadline) == std::cv_status::timeout) return;
      continue;
    }
    // Idle (or ended after a failed notification): nobody else writes now.
    const long written = session_->Write(Queue.Data(), Queue.Size());
    if (written > 0) {
      Queue.Consume(static_cast<std::int32_t>(written));
      continue;
    }
    if (written < 0) return;  // the device is gone
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return;
    lock.unlock();
    const TVaDeviceWait ready =
        WaitDevice(session_->fd, nullptr, nullptr, kWaitWritable, static_cast<int>(left));
    lock.lock();
    if (ready != TVaDeviceWait::Writable) return;
  }
}

std::int32_t TVaCommWriteThread::QueuedBytes() {
  std::lock_guard lock(*WriteLock);
  return Queue.Size();
}

void TVaCommWriteThread::Execute() {
  const TVaDeviceHandle fd = session_->fd;
  try {
    for (;;) {
      const int signalled =
          TVaHandleObject::WaitForAny({&CloseEvent, &DataEvent}, TVaHandleObject::kInfinite);
      if (signalled == 0 || Terminated()) return;
      if (signalled != 1) {
        if (!Pause(kRetryPauseMs)) return;
        continue;
      }

      const std::uint8_t* start;
      std::int32_t n;
      {
        // Appends only add bytes after the first n, and nothing moves until
        // TransferDone, so the transfer may read them without the lock.
        std::lock_guard lock(*WriteLock);
        start = Queue.Data();
        n = Queue.Size();
        transferring_ = true;
        held_ = false;  // a snapshot takes held bytes too: this thread sends them now
      }
      if (n <= 0) {
        TransferDone(0);
        continue;
      }
      const long written = session_->Write(start, n);
      if (written > 0) {
        TransferDone(static_cast<std::int32_t>(written));
        continue;
      }
      const int write_error = LastDeviceError();
      {
        // Nothing of the snapshot went out: this thread holds none while it
        // waits or reports, so Close may hand the queue over meanwhile.
        std::lock_guard lock(*WriteLock);
        transferring_ = false;
      }
      room_.notify_all();
      if (written == 0) {
        const TVaDeviceWait ready = WaitDevice(fd, &CloseEvent, nullptr, kWaitWritable, -1);
        if (ready == TVaDeviceWait::Stopped || Terminated()) return;
        if (ready != TVaDeviceWait::Gone) continue;
        ReportDeviceLost();
      } else if (IsDeviceGone(write_error)) {
        ReportDeviceLost();
      }
      // The queue keeps its bytes; the next pass writes it again.
      NotifyError();
      if (!Pause(kRetryPauseMs)) return;
    }
  } catch (const std::exception& error) {
    // An exception from a notification ends the thread: nothing more is sent,
    // and further writes fail once the queue is full. Say why, once.
    // The operator may have several ports: the report names this one.
    try {
      const std::string message = error.what();
      RunOnOwner([&message](TVaCustomComm& owner) {
        owner.HandleException(
            EVaCommError(owner.DeviceText() + ": " + message + " (nothing more is sent)"));
      });
    } catch (...) {
    }
  }
}

void TVaCommWriteThread::TransferDone(std::int32_t written) {
  bool empty;
  bool report;
  {
    std::lock_guard lock(*WriteLock);
    transferring_ = false;
    Queue.Consume(written);
    empty = Queue.Size() <= 0;
    if (empty) DataEvent.ResetSignal();
    report = report_drain_;
  }
  room_.notify_all();
  if (empty) {
    // A drain nobody listens for would only cost the main thread a wake-up
    // and this thread a wait, once per block of a download.
    if (report) NotifyTxEmpty();
  } else {
    DataEvent.SetSignal();
  }
}

void TVaCommWriteThread::NotifyTxEmpty() {
  RunOnOwner([](TVaCustomComm& owner) { owner.DoEvent(EV_TXEMPTY); });
}

void TVaCommWriteThread::NotifyError() {
  RunOnOwner([](TVaCustomComm& owner) { owner.DoEvent(EV_ERR); });
}

}  // namespace stbup
