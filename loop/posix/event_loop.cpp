// The command line's main loop on Linux: one poll(2) over an eventfd that
// wakes it for queued calls and the watched descriptors.
#include "loop/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace stbup {

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

void EventLoop::ReleaseWake() { ::close(static_cast<int>(wake_fd_)); }

void EventLoop::Wait(int wait_ms) {
  // Every pass (nested ones too) has its own list, on the stack while the
  // watched descriptors are few: a pass runs twice a block, and needs no
  // allocation.
  constexpr std::size_t kOnStack = 8;
  std::size_t count = 1;
  for (const auto& [id, source] : sources_) count += source.timer ? 0 : 1;
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
    if (source.timer) continue;
    entries[n] = {static_cast<int>(source.fd), POLLIN, 0};
    ids[n] = id;
    ++n;
  }
  // The main thread lends its turn for the wait. When a caller ran a call in
  // it meanwhile, what poll found may be out of date; the descriptors are
  // level-triggered, so the next pass finds again whatever is still there.
  const auto calls_before = LendTurn(wait_ms);
  const int ready = ::poll(entries, n, wait_ms);
  if (!TakeTurnBack(calls_before)) return;
  if (ready <= 0) return;
  if (entries[0].revents & POLLIN) RunQueuedCalls();
  for (std::size_t i = 1; i < n; ++i) {
    const short revents = entries[i].revents;
    const bool failed = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
      FireWatched(ids[i], failed);
    } else if (failed) {
      RemoveSource(ids[i]);  // not a descriptor at all: nothing to hand on
    }
  }
}

}  // namespace stbup
