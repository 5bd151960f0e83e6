#include "seams/memory_line.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace stbup {

// One direction: a ring of fixed size, written by one end and read by the
// other.
struct Direction {
  explicit Direction(std::size_t capacity) : ring(capacity) {}
  std::vector<std::uint8_t> ring;
  std::size_t start = 0;
  std::size_t size = 0;
  std::uint64_t arrived = 0;
};

// Both directions under one lock: the line is small and a wait may depend on
// either (a write waits for room, a read for bytes, both for a hang-up).
struct MemoryLineEnd::Shared {
  explicit Shared(std::size_t capacity) : towards{Direction(capacity), Direction(capacity)} {}
  std::mutex mutex;
  std::condition_variable changed;
  Direction towards[2];  // towards[side]: the bytes end `side` reads
  bool closed[2] = {false, false};
};

namespace {

bool IsSet(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// True when the deadline has passed; a deadline of max() means none (a wait
// until max() is not safe with every library's clock conversions).
bool WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
               MemoryLineEnd::Clock::time_point deadline) {
  if (deadline == MemoryLineEnd::Clock::time_point::max()) {
    changed.wait(lock);
    return false;
  }
  return changed.wait_until(lock, deadline) == std::cv_status::timeout;
}

}  // namespace

MemoryLineEnd::MemoryLineEnd(std::shared_ptr<Shared> shared, int side)
    : shared_(std::move(shared)), side_(side) {}

MemoryLineEnd::~MemoryLineEnd() { Close(); }

MemoryLineEnd::Wait MemoryLineEnd::WaitReadable(Clock::time_point deadline,
                                                const std::atomic<bool>* stop) {
  std::unique_lock lock(shared_->mutex);
  const Direction& in = shared_->towards[side_];
  for (;;) {
    if (IsSet(stop)) return Wait::kStopped;
    if (shared_->closed[side_]) return Wait::kClosed;
    if (in.size > 0) return Wait::kReady;
    if (shared_->closed[1 - side_]) return Wait::kClosed;
    if (WaitUntil(shared_->changed, lock, deadline)) {
      if (IsSet(stop)) return Wait::kStopped;
      if (shared_->closed[side_]) return Wait::kClosed;
      if (in.size > 0) return Wait::kReady;
      return shared_->closed[1 - side_] ? Wait::kClosed : Wait::kTimedOut;
    }
  }
}

MemoryLineEnd::Wait MemoryLineEnd::WaitArrival(std::uint64_t seen, Clock::time_point deadline,
                                               const std::atomic<bool>* stop) {
  std::unique_lock lock(shared_->mutex);
  const Direction& in = shared_->towards[side_];
  for (;;) {
    if (IsSet(stop)) return Wait::kStopped;
    if (shared_->closed[side_]) return Wait::kClosed;
    if (in.arrived != seen) return Wait::kReady;
    if (shared_->closed[1 - side_]) return Wait::kClosed;
    if (WaitUntil(shared_->changed, lock, deadline) && in.arrived == seen && !IsSet(stop)) {
      return Wait::kTimedOut;
    }
  }
}

std::size_t MemoryLineEnd::Read(std::span<std::uint8_t> out) {
  std::size_t taken = 0;
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed[side_]) return 0;
    Direction& in = shared_->towards[side_];
    const std::size_t capacity = in.ring.size();
    while (taken < out.size() && in.size > 0) {
      const std::size_t run = std::min({out.size() - taken, in.size, capacity - in.start});
      std::copy_n(in.ring.begin() + static_cast<std::ptrdiff_t>(in.start), run,
                  out.begin() + static_cast<std::ptrdiff_t>(taken));
      in.start = (in.start + run) % capacity;
      in.size -= run;
      taken += run;
    }
  }
  // A writer may be waiting for the room just made.
  if (taken > 0) shared_->changed.notify_all();
  return taken;
}

std::size_t MemoryLineEnd::Waiting() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->towards[side_].size;
}

std::uint64_t MemoryLineEnd::Arrived() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->towards[side_].arrived;
}

MemoryLineEnd::Wait MemoryLineEnd::Write(std::span<const std::uint8_t> bytes,
                                         Clock::time_point deadline, std::size_t& written,
                                         const std::atomic<bool>* stop) {
  written = 0;
  if (bytes.empty()) return Wait::kReady;
  {
    std::unique_lock lock(shared_->mutex);
    Direction& out = shared_->towards[1 - side_];
    const std::size_t capacity = out.ring.size();
    for (;;) {
      if (IsSet(stop)) return Wait::kStopped;
      if (shared_->closed[side_] || shared_->closed[1 - side_]) return Wait::kClosed;
      if (out.size < capacity) break;
      if (WaitUntil(shared_->changed, lock, deadline) && out.size == capacity && !IsSet(stop)) {
        return Wait::kTimedOut;
      }
    }
    while (written < bytes.size() && out.size < capacity) {
      const std::size_t end = (out.start + out.size) % capacity;
      const std::size_t room = end >= out.start ? capacity - end : out.start - end;
      const std::size_t run = std::min(bytes.size() - written, room);
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(written), run,
                  out.ring.begin() + static_cast<std::ptrdiff_t>(end));
      out.size += run;
      written += run;
    }
    out.arrived += written;
  }
  shared_->changed.notify_all();
  return Wait::kReady;
}

MemoryLineEnd::Wait MemoryLineEnd::SleepUntil(Clock::time_point until,
                                              const std::atomic<bool>& stop) {
  std::unique_lock lock(shared_->mutex);
  while (!stop.load()) {
    if (WaitUntil(shared_->changed, lock, until)) {
      return stop.load() ? Wait::kStopped : Wait::kTimedOut;
    }
  }
  return Wait::kStopped;
}

void MemoryLineEnd::Close() {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->closed[side_]) return;
    shared_->closed[side_] = true;
    // What was sent to this end is never read now.
    Direction& in = shared_->towards[side_];
    in.start = 0;
    in.size = 0;
  }
  shared_->changed.notify_all();
}

bool MemoryLineEnd::Closed() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->closed[side_];
}

bool MemoryLineEnd::PeerClosed() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->closed[1 - side_];
}

void MemoryLineEnd::Wake() {
  // Taking the lock orders the caller's stop flag before any waiter's next
  // look at it, so no wake-up is lost.
  { std::lock_guard lock(shared_->mutex); }
  shared_->changed.notify_all();
}

std::pair<std::shared_ptr<MemoryLineEnd>, std::shared_ptr<MemoryLineEnd>> OpenMemoryLine(
    std::size_t capacity) {
  auto shared = std::make_shared<MemoryLineEnd::Shared>(std::max<std::size_t>(capacity, 1));
  return {std::make_shared<MemoryLineEnd>(shared, 0), std::make_shared<MemoryLineEnd>(shared, 1)};
}

}  // namespace stbup
