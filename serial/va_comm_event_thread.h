#pragma once

#include <cstdint>
#include <memory>

#include "serial/reply_watch.h"
#include "serial/va_comm_thread.h"
#include "serial/va_handle_object.h"

namespace stbup {

// Waits on the device for the events of EventMask and hands each batch to the
// main thread, blocking until it has been handled. Input counts as new only
// when bytes arrived since the last batch, so bytes a handler leaves are
// reported again only with the next arrival.
class TVaCommEventThread : public TVaCommThread {
 public:
  // watch_replies: learn when the box answers a write and watch the line
  // then rather than sleep (ReplyWatch).
  TVaCommEventThread(std::shared_ptr<TVaCommSession> session, std::uint32_t event_mask,
                     int read_size, bool watch_replies = false);

  // On the main thread: one reported batch, inside the component's exception
  // guard (an exception is reported and ends the batch).
  static void DispatchEvents(TVaCustomComm& owner, std::uint32_t reported_mask,
                             const TVaRxSighting& seen);
  // A direct write has finished: start watching for the transmit queue to empty.
  void WatchTransmit() { KickEvent.SetSignal(); }

 protected:
  void Execute() override;
  TVaWaitEvent& StopEvent() override { return WaitEvent; }

 private:
  TVaWaitEvent WaitEvent;
  TVaWaitEvent KickEvent;
  // The wait for input with nothing unread and no time limit, watching the
  // line where an answer is due.
  TVaDeviceWait WaitForInput(ReplyWatch& watch);

  const std::uint32_t event_mask_;
  const int read_size_;
  const bool watch_replies_;
};

}  // namespace stbup
