#include "serial/adapter_latency.h"

#include <cstdio>

namespace stbup {

namespace {

// One block on the wire at 10 bits a byte: the box's request line, the 1024
// bytes and their sum, and its acknowledgement line. Both lines are short and
// come back to back, so the adapter holds them once per block.
constexpr int kBlockCycleBytes = 22 + 1025 + 22;

}  // namespace

std::optional<std::string> AdapterLatencyWarning(std::string_view port, int timer_ms,
                                                 int baudrate) {
  if (timer_ms <= 1 || baudrate <= 0) return std::nullopt;
  const double cycle_ms = kBlockCycleBytes * 10.0 * 1000.0 / baudrate;
  const double cost = 100.0 * timer_ms / cycle_ms;
  char figures[160];
  std::snprintf(figures, sizeof figures,
                "%d ms (its latency timer); at %d bit/s that makes each block up to %.0f %% "
                "slower.",
                timer_ms, baudrate, cost);
  return std::string(port) + ": the USB adapter holds each reply of the box up to " + figures +
         " To lower it for good: " + LowerLatencyAdvice();
}

}  // namespace stbup
