#pragma once

#include <chrono>

namespace stbup {

// Waits until the socket can be read (or written) or the deadline passes:
// every wait on the line's server goes through here, so none is unbounded.
// True when the socket is ready (or has failed: the caller's next call says
// how), false when the deadline passed first.
bool WaitSocket(int socket, bool for_write, std::chrono::steady_clock::time_point deadline);

}  // namespace stbup
