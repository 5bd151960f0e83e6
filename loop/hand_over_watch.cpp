#include "loop/hand_over_watch.h"

#include <chrono>
#include <thread>

namespace stbup {

namespace {

// Long enough for a handler that writes a block and its log line, short
// enough that a watch which misses costs little beside the sleep after it.
constexpr auto kWatch = std::chrono::microseconds(60);

// Tells the CPU this is a wait loop, so a sibling hardware thread gets the core.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

bool WatchBriefly(const std::atomic<bool>& settled) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + kWatch;
  for (;;) {
    // A few looks between readings of the clock, which costs more than a look.
    for (int i = 0; i < 16; ++i) {
      if (settled.load(std::memory_order_acquire)) return true;
      CpuRelax();
    }
    if (Clock::now() >= until) return settled.load(std::memory_order_acquire);
    // A thread waiting for this CPU (the main thread itself, woken here) gets it.
    std::this_thread::yield();
  }
}

}  // namespace stbup
