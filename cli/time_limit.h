#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>

#include "loop/event_loop.h"

namespace stbup {

// The longest --timeout taken: ten years of 366 days. The loop's timers
// count milliseconds in an int, so a longer limit is waited for a day at a
// time against the steady clock.
inline constexpr double kMaxTimeoutSeconds = 10.0 * 366 * 24 * 3600;

// --timeout SECONDS: a number from 0 (no limit) to kMaxTimeoutSeconds; NaN,
// infinities, negative and larger values are usage errors (status 2).
CLI::Option* AddTimeoutOption(CLI::App* sub, double& seconds, const std::string& help);

// Calls expired once, on the loop, when the seconds have passed; nothing
// for 0 or less. Cancelled with the object.
class TimeLimit {
 public:
  TimeLimit(EventLoop& loop, double seconds, std::function<void()> expired);
  ~TimeLimit();
  TimeLimit(const TimeLimit&) = delete;
  TimeLimit& operator=(const TimeLimit&) = delete;

  // The loop's timer's next interval: what is left, at most a day.
  static int NextIntervalMs(std::chrono::steady_clock::duration left);

 private:
  void Arm();

  EventLoop& loop_;
  std::chrono::steady_clock::time_point deadline_;
  std::function<void()> expired_;
  int timer_ = 0;
};

}  // namespace stbup
