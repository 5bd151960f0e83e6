#pragma once

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
};

}  // namespace stbup
