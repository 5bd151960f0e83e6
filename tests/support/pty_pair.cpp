#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace stbup::testing {

PtyPair::PtyPair() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) < 0) {
    throw std::system_error(errno, std::generic_category(), "openpty");
  }
  slave_path_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseMaster();
  CloseSlave();
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::CloseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

void PtyPair::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(master_, bytes.data(), bytes.size());
    if (done > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(done));
    } else if (errno == EAGAIN) {
      pollfd entry{master_, POLLOUT, 0};
      ::poll(&entry, 1, 100);
    } else if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "write to pty master");
    }
  }
}

std::string PtyPair::Read(std::size_t count, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  std::string result;
  char buffer[4096];
  while (result.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd entry{master_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, count - result.size()));
    if (got > 0) {
      result.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // no slave open any more
    }
  }
  return result;
}

std::string PtyPair::ReadAvailable() {
  std::string result;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0) {
      result.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return result;
    }
  }
}

std::string PtyPair::ReadUntilQuiet(std::chrono::milliseconds quiet) {
  std::string result;
  char buffer[4096];
  for (;;) {
    pollfd entry{master_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(quiet.count())) <= 0) break;
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0) {
      result.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  return result;
}

}  // namespace stbup::testing
