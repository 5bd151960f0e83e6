#pragma once

#include <linux/serial.h>

#include <functional>

namespace stbup {

// The driver's serial_struct, read and written; 0 or the error code.
struct SerialInfoCalls {
  std::function<int(int fd, serial_struct& info)> get;
  std::function<int(int fd, const serial_struct& info)> set;
};

// TIOCGSERIAL and TIOCSSERIAL on the descriptor.
SerialInfoCalls DriverSerialInfoCalls();

// Asks the driver to hand received bytes on at once (ASYNC_LOW_LATENCY),
// keeping every other setting it reported; nothing is written when the flag
// is already set. 0, or the error code of the refusing call.
int AskLowLatency(int fd, const SerialInfoCalls& calls);

}  // namespace stbup
