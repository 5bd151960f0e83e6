#include "sim/posix/pty_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace stbup {

PtyEndpoint::PtyEndpoint() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
    throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slave_path_ = name;
}

PtyEndpoint::~PtyEndpoint() {
  ReleaseSlave();
  CloseMaster();
}

void PtyEndpoint::ReleaseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

void PtyEndpoint::LingerUntilToolCloses(std::chrono::milliseconds at_most) {
  if (master_ < 0) return;
  const auto until = std::chrono::steady_clock::now() + at_most;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
    char drop[4096];
    const ssize_t n = ::read(master_, drop, sizeof drop);
    if (n > 0) continue;
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    return;  // EIO: the tool's end is closed
  }
}

void PtyEndpoint::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace stbup
