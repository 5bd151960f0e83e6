#include "records/socket_wait.h"

#include <winsock2.h>

#include <algorithm>

namespace stbup {

// select rather than WSAPoll: WSAPoll on older Windows never reports a
// connection that failed, and the wait would last to the deadline.
bool WaitSocket(int socket, bool for_write, std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  // libpq hands its SOCKET over as an int.
  const auto handle = static_cast<SOCKET>(socket);
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return false;
    const long long wait = std::min<long long>(left, 60000);
    fd_set ready_set;
    fd_set failed_set;
    FD_ZERO(&ready_set);
    FD_ZERO(&failed_set);
    FD_SET(handle, &ready_set);
    FD_SET(handle, &failed_set);
    timeval timeout{static_cast<long>(wait / 1000), static_cast<long>((wait % 1000) * 1000)};
    // The first argument is ignored on Windows.
    const int ready = ::select(0, for_write ? nullptr : &ready_set,
                               for_write ? &ready_set : nullptr, &failed_set, &timeout);
    if (ready > 0) return true;
    if (ready == SOCKET_ERROR && ::WSAGetLastError() != WSAEINTR) {
      return true;  // the caller's call reports the failure
    }
  }
}

}  // namespace stbup
