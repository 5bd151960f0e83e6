#include "records/socket_wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace stbup {

bool WaitSocket(int socket, bool for_write, std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd watched{socket, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the caller's call reports the failure
  }
}

}  // namespace stbup
