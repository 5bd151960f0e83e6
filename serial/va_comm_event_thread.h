#pragma once

#include <cstdint>
#include <memory>

#include "serial/va_comm_thread.h"
#include "serial/va_handle_object.h"

namespace stbup {

// Waits on the device for the events of EventMask and hands each batch to the
// main thread, blocking until it has been handled. Input counts as new only
// when bytes arrived since the last batch, so bytes a handler leaves are
// reported again only with the next arrival.
class TVaCommEventThread : public TVaCommThread {
 public:
  TVaCommEventThread(std::shared_ptr<TVaCommSession> session, std::uint32_t event_mask,
                     int read_size);

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
  const std::uint32_t event_mask_;
  const int read_size_;
};

}  // namespace stbup
