#include "loop/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace stbup {

namespace {

void Arm(std::intptr_t fd, int interval_ms) {
  itimerspec timer{};
  if (interval_ms > 0) {
    timer.it_interval.tv_sec = interval_ms / 1000;
    timer.it_interval.tv_nsec = static_cast<long>(interval_ms % 1000) * 1'000'000;
    timer.it_value = timer.it_interval;
  }
  ::timerfd_settime(static_cast<int>(fd), 0, &timer, nullptr);
}

}  // namespace

std::intptr_t EventLoop::CreateWake() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  return fd;
}

void EventLoop::SignalWake() {
  const std::uint64_t one = 1;
  while (::write(static_cast<int>(wake_fd_), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventLoop::TakeWake() {
  std::uint64_t value = 0;
  while (::read(static_cast<int>(wake_fd_), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

void EventLoop::ReleaseWaitables() {
  for (const auto& [id, source] : sources_) {
    if (source.timer) ::close(static_cast<int>(source.fd));
  }
  ::close(static_cast<int>(wake_fd_));
}

bool EventLoop::TakeTimerTick(Source& timer) {
  std::uint64_t expirations = 0;
  return ::read(static_cast<int>(timer.fd), &expirations, sizeof expirations) > 0;
}

void EventLoop::RemoveSource(int id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;
  if (it->second.timer) ::close(static_cast<int>(it->second.fd));
  sources_.erase(it);
}

int EventLoop::AddTimer(int interval_ms, std::function<void()> callback) {
  const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
  Arm(fd, interval_ms);
  return AddSource({fd, true, std::move(callback), interval_ms, {}});
}

void EventLoop::SetTimerInterval(int id, int interval_ms) {
  const auto it = sources_.find(id);
  if (it != sources_.end() && it->second.timer) Arm(it->second.fd, interval_ms);
}

void EventLoop::RunOnce(int timeout_ms) {
  // Every pass (nested ones too) has its own list, on the stack while the
  // sources are few: a pass runs twice a block, and needs no allocation.
  constexpr std::size_t kOnStack = 8;
  const std::size_t count = sources_.size() + 1;
  std::array<pollfd, kOnStack> stack_entries;
  std::array<int, kOnStack> stack_ids;
  std::vector<pollfd> heap_entries;
  std::vector<int> heap_ids;
  pollfd* entries = stack_entries.data();
  int* ids = stack_ids.data();
  if (count > kOnStack) {
    heap_entries.resize(count);
    heap_ids.resize(count);
    entries = heap_entries.data();
    ids = heap_ids.data();
  }
  entries[0] = {static_cast<int>(wake_fd_), POLLIN, 0};
  std::size_t n = 1;
  for (const auto& [id, source] : sources_) {
    entries[n] = {static_cast<int>(source.fd), POLLIN, 0};
    ids[n] = id;
    ++n;
  }
  const int ready = ::poll(entries, n, timeout_ms);
  if (ready <= 0) return;
  if (entries[0].revents & POLLIN) RunQueuedCalls();
  for (std::size_t i = 1; i < n; ++i) {
    const short revents = entries[i].revents;
    if (revents & (POLLIN | POLLHUP | POLLERR)) Fire(ids[i]);
    // A watched descriptor that has failed would wake every pass from now
    // on: its callback has seen it once, and it is watched no more.
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
      const auto it = sources_.find(ids[i]);
      if (it != sources_.end() && !it->second.timer) sources_.erase(it);
    }
  }
}

}  // namespace stbup
