#pragma once

namespace stbup {

// Timer1: stopped (interval 0) or running; each tick sends the poll byte 0x1F.
class PollTimer {
 public:
  static constexpr int kPollInterval = 100;  // ms

  virtual ~PollTimer() = default;
  virtual void Start(int interval_ms = kPollInterval) = 0;
  virtual void Stop() = 0;
  virtual int Interval() const = 0;  // 0 while stopped
};

}  // namespace stbup
