#include "loop/hand_over_watch.h"

#include <chrono>
#include <thread>

namespace stbup {

namespace {

// Long enough for a handler that writes a block and its log line, short
// enough that a watch which misses costs little beside the sleep after it.
constexpr auto kWatch = std::chrono::microseconds(60);
constexpr auto kYieldEvery = std::chrono::microseconds(10);

// Tells the CPU this is a wait loop, so a sibling hardware thread gets the core.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

template <typename Seen>
bool Watch(Seen&& seen) {
  using Clock = std::chrono::steady_clock;
  auto now = Clock::now();
  const auto until = now + kWatch;
  auto next_yield = now + kYieldEvery;
  for (;;) {
    // A few looks between readings of the clock, which costs more than a look.
    for (int i = 0; i < 16; ++i) {
      if (seen()) return true;
      CpuRelax();
    }
    now = Clock::now();
    if (now >= until) return seen();
    if (now >= next_yield) {
      // A thread waiting for this CPU (the main thread itself, woken here)
      // gets it; now and then only, as giving it up is a system call.
      std::this_thread::yield();
      next_yield = now + kYieldEvery;
    }
  }
}

}  // namespace

bool WatchBriefly(const std::atomic<bool>& settled) {
  return Watch([&settled] { return settled.load(std::memory_order_acquire); });
}

bool WatchBriefly(const std::function<bool()>& seen) { return Watch(seen); }

std::unique_lock<std::mutex> AwaitSettled(const std::atomic<bool>& settled, bool watch,
                                          std::mutex& mutex, std::condition_variable& changed) {
  if (watch) WatchBriefly(settled);
  std::unique_lock lock(mutex);
  changed.wait(lock, [&settled] { return settled.load(std::memory_order_relaxed); });
  return lock;
}

}  // namespace stbup
