#pragma once

#include <string>
#include <string_view>

#include "seams/link.h"

namespace stbup {

// VaComm1 as the window uses it: the Link the engine talks through, plus
// opening and naming. TVaComm sits behind it through a thin adapter; tests
// use a fake that can refuse to open.
class Port : public Link {
 public:
  // Opens the device named by DeviceName(); any failure is thrown
  // (EVaCommError with the link's message).
  virtual void Open() = 0;
  // Refused while open ("Can't perform this operation while port is open").
  virtual void SetDeviceName(std::string_view name) = 0;
  // Replies held back while received data is handled leave now: the main
  // thread is about to wait for the operator.
  virtual void SendHeldWrites() {}
  // The device a port name opens ("COM3" through the map, a path as it is).
  virtual std::string DevicePathOf(std::string_view name) const { return std::string(name); }
  // After a failed Open: what the operator can do about it (the device is
  // missing; a group to join; the program holding it); empty when unknown.
  virtual std::string OpenFailureReason() const { return {}; }
};

}  // namespace stbup
