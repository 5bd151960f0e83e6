#include "cli/time_limit.h"

#include <cmath>
#include <cstdio>

namespace stbup {

CLI::Option* AddTimeoutOption(CLI::App* sub, double& seconds, const std::string& help) {
  char maximum[32];
  std::snprintf(maximum, sizeof maximum, "%.0f", kMaxTimeoutSeconds);
  const std::string range = std::string("a number of seconds from 0 to ") + maximum;
  CLI::Validator limit(
      [range](std::string& text) -> std::string {
        double value = 0;
        // CLI11 takes "nan" and "inf" as numbers; neither is a time.
        if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0 ||
            value > kMaxTimeoutSeconds) {
          return range + " (ten years), not " + text;
        }
        return {};
      },
      "SECONDS", "time limit");
  return sub->add_option("--timeout", seconds, help + " (at most " + maximum + ", ten years)")
      ->check(limit);
}

int TimeLimit::NextIntervalMs(std::chrono::steady_clock::duration left) {
  using namespace std::chrono;
  constexpr milliseconds kDay = hours(24);
  const auto ms = duration_cast<milliseconds>(left + milliseconds(1) - nanoseconds(1));
  if (ms <= milliseconds(0)) return 1;
  return static_cast<int>(ms > kDay ? kDay.count() : ms.count());
}

TimeLimit::TimeLimit(EventLoop& loop, double seconds, std::function<void()> expired)
    : loop_(loop), expired_(std::move(expired)) {
  if (!(seconds > 0)) return;
  deadline_ = std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(seconds));
  Arm();
}

TimeLimit::~TimeLimit() {
  if (timer_ != 0) loop_.CancelTimer(timer_);
}

void TimeLimit::Arm() {
  const auto left = deadline_ - std::chrono::steady_clock::now();
  timer_ = loop_.AddTimer(NextIntervalMs(left), [this] {
    loop_.CancelTimer(timer_);
    timer_ = 0;
    if (std::chrono::steady_clock::now() < deadline_) {
      Arm();
      return;
    }
    expired_();
  });
}

}  // namespace stbup
