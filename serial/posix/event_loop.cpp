#include "serial/event_loop.h"

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

constexpr long long kConditionRecheckMs = 10;

std::intptr_t CreateWakeFd() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  return fd;
}

void Drain(std::intptr_t fd) {
  std::uint64_t value = 0;
  while (::read(static_cast<int>(fd), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

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

EventLoop::EventLoop() : main_thread_(std::this_thread::get_id()), wake_fd_(CreateWakeFd()) {}

EventLoop::~EventLoop() {
  {
    std::unique_lock lock(mutex_);
    closing_ = true;
    for (Call* call : queue_) call->abandoned = true;
    queue_.clear();
    finished_.notify_all();
    finished_.wait(lock, [this] { return waiting_callers_ == 0; });
  }
  for (const auto& [id, source] : sources_) {
    if (source.timer) ::close(static_cast<int>(source.fd));
  }
  ::close(static_cast<int>(wake_fd_));
}

void EventLoop::RunOnMainThread(const std::function<void()>& call) {
  if (std::this_thread::get_id() == main_thread_) {
    call();
    return;
  }
  Call entry{&call, false, false, nullptr};
  {
    std::unique_lock lock(mutex_);
    if (closing_) throw std::runtime_error("The main loop has ended");
    queue_.push_back(&entry);
    ++waiting_callers_;
    const std::uint64_t one = 1;
    while (::write(static_cast<int>(wake_fd_), &one, sizeof one) < 0 && errno == EINTR) {
    }
    finished_.wait(lock, [&entry] { return entry.done || entry.abandoned; });
    --waiting_callers_;
    // The destructor may be waiting for the last caller to leave.
    if (closing_) finished_.notify_all();
  }
  if (entry.error) std::rethrow_exception(entry.error);
  if (!entry.done) throw std::runtime_error("The main loop has ended");
}

void EventLoop::RunQueuedCalls() {
  Drain(wake_fd_);
  for (;;) {
    Call* call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      call = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr error;
    try {
      (*call->function)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      call->error = std::move(error);  // the waiting thread alone holds it now
      call->done = true;
    }
    finished_.notify_all();
  }
}

int EventLoop::AddSource(Source source) {
  const int id = next_source_id_++;
  sources_.emplace(id, std::move(source));
  return id;
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

void EventLoop::CancelTimer(int id) { RemoveSource(id); }

int EventLoop::WatchReadable(std::intptr_t fd, std::function<void()> callback) {
  return AddSource({fd, false, std::move(callback), 0, {}});
}

void EventLoop::StopWatching(int id) { RemoveSource(id); }

void EventLoop::Fire(int id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;  // removed by an earlier callback of this pass
  if (it->second.timer) {
    std::uint64_t expirations = 0;
    if (::read(static_cast<int>(it->second.fd), &expirations, sizeof expirations) <= 0) return;
  }
  // A copy: the callback may remove its own source.
  const std::function<void()> callback = it->second.callback;
  if (callback) callback();
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

void EventLoop::Run() {
  while (!quit_) RunOnce(-1);
  quit_ = false;
}

bool EventLoop::RunUntil(const std::function<bool()>& predicate,
                         std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (predicate()) return true;
    if (quit_) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    // The condition may change on another thread without waking the loop.
    RunOnce(static_cast<int>(std::min<long long>(left.count(), kConditionRecheckMs)));
  }
}

}  // namespace stbup
