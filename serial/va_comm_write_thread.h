#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>

#include "serial/va_comm_buffer.h"
#include "serial/va_comm_thread.h"
#include "serial/va_critical_section.h"
#include "serial/va_handle_object.h"

namespace stbup {

// Drains the write queue to the device whenever it is writable, and reports
// on the main thread each time the queue has drained.
class TVaCommWriteThread : public TVaCommThread {
 public:
  TVaCommWriteThread(std::shared_ptr<TVaCommSession> session,
                     std::shared_ptr<TVaCriticalSection> write_lock, std::int32_t capacity);

  // Main thread: queues count bytes, waiting at most timeout_ms for room
  // while the thread drains the queue; false (nothing queued) when room did
  // not appear in time. report_drain: whether the drained queue is to be
  // reported on the main thread (someone listens for it); the latest write
  // decides.
  bool Enqueue(const void* data, std::int32_t count, std::int32_t timeout_ms,
               bool report_drain = true);

  std::int32_t QueuedBytes();

  // Main thread, around the handling of one batch of received data: writes
  // that find the queue idle meanwhile stay queued, and Release hands them to
  // the device together, so a reply made of several writes (a block and its
  // sum) reaches the box in one piece, without waking this thread.
  void Hold();
  void Release();
  // Main thread: the batch's handler is about to wait (a modal box, an error
  // report): what it held goes to the device now, and its later writes (the
  // poll byte of a timer running meanwhile) go out as they are made. The box
  // must never wait for a reply the tool has already written.
  void EndHold();
  // Main thread, before Close stops this thread: hands the device what is
  // queued, waiting at most timeout_ms for a device that does not take it.
  void Drain(int timeout_ms);

 protected:
  void Execute() override;
  TVaWaitEvent& StopEvent() override { return CloseEvent; }

 private:
  void TransferDone(std::int32_t written);
  void NotifyTxEmpty();
  void NotifyError();

  const std::shared_ptr<TVaCriticalSection> WriteLock;
  TVaCommBuffer Queue;
  TVaWaitEvent DataEvent;
  TVaWaitEvent CloseEvent;
  std::condition_variable_any room_;
  bool report_drain_ = true;   // guarded by WriteLock
  bool transferring_ = false;  // guarded by WriteLock: this thread owns a snapshot
  bool held_ = false;          // guarded by WriteLock: queued bytes it was not told of
  int holding_ = 0;            // main thread only: depth of Hold
  bool hold_ended_ = false;    // main thread only: EndHold ran in this batch

  // Under WriteLock: hands held bytes to the device, or to this thread.
  void SendHeldLocked();
};

}  // namespace stbup
