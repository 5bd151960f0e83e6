#include "sim/posix/fd_box_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "sim/box_simulator.h"

namespace stbup {
namespace {

int PollTimeout(SimClock::time_point deadline) {
  if (deadline == SimClock::time_point::max()) return -1;
  const auto left = deadline - SimClock::now();
  if (left <= SimClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

}  // namespace

FdBoxChannel::FdBoxChannel(int fd) : fd_(fd) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) throw std::runtime_error("eventfd failed");
}

FdBoxChannel::~FdBoxChannel() { ::close(stop_fd_); }

void FdBoxChannel::Stop() noexcept {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(stop_fd_, &one, sizeof one);
}

void FdBoxChannel::HangUp() { ::close(fd_); }

void FdBoxChannel::PauseUntil(SimClock::time_point until) {
  // A paced line is the yardstick the tool is measured against: each pause
  // the kernel stretches by its default timer slack (50 us) would be charged
  // to the tool, several times a block. Set once per thread (each box has one).
  thread_local const bool tight = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  static_cast<void>(tight);
  for (;;) {
    const auto left = until - SimClock::now();
    if (left <= SimClock::duration::zero()) return;
    if (left >= std::chrono::milliseconds(1)) {
      pollfd p{stop_fd_, POLLIN, 0};
      const auto ms = std::chrono::floor<std::chrono::milliseconds>(left).count();
      if (::poll(&p, 1, static_cast<int>(std::min<long long>(ms, 1 << 30))) > 0) {
        throw SimulatorStopped();
      }
    } else {
      // poll cannot wait finer than a millisecond; a paced line needs it.
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timespec ts{0, static_cast<long>(ns)};
      ::nanosleep(&ts, nullptr);
    }
  }
}

std::size_t FdBoxChannel::Read(std::span<std::uint8_t> out, SimClock::time_point deadline) {
  for (;;) {
    pollfd polls[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int r = ::poll(polls, 2, PollTimeout(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw LineClosed(std::string("poll: ") + std::strerror(errno));
    }
    if (polls[1].revents & POLLIN) throw SimulatorStopped();
    if (r == 0) return 0;
    if (polls[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(fd_, out.data(), out.size());
      if (n > 0) return static_cast<std::size_t>(n);
      if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(polls[0].revents & POLLHUP)) continue;
      throw LineClosed(n == 0 ? "end of file" : std::string("read: ") + std::strerror(errno));
    }
    if (polls[0].revents & POLLNVAL) throw LineClosed("descriptor closed");
  }
}

void FdBoxChannel::WaitWritable(SimClock::time_point deadline) {
  for (;;) {
    pollfd polls[2] = {{fd_, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
    const int r = ::poll(polls, 2, PollTimeout(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw LineClosed(std::string("poll: ") + std::strerror(errno));
    }
    if (polls[1].revents & POLLIN) throw SimulatorStopped();
    if (r == 0) throw LineClosed("the tool stopped reading");
    if (polls[0].revents & (POLLHUP | POLLERR | POLLNVAL)) throw LineClosed("hang-up on write");
    if (polls[0].revents & POLLOUT) return;
  }
}

std::size_t FdBoxChannel::Write(std::span<const std::uint8_t> bytes,
                                SimClock::time_point deadline) {
  for (;;) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      WaitWritable(deadline);
      continue;
    }
    throw LineClosed(std::string("write: ") + std::strerror(errno));
  }
}

std::vector<SimulationSummary> BoxSimulator::Run(int fd, LineHooks hooks) {
  FdBoxChannel channel(fd);
  return Run(channel, std::move(hooks));
}

}  // namespace stbup
