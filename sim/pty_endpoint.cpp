#include "sim/pty_endpoint.h"

#include <fcntl.h>
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

void PtyEndpoint::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace stbup
