#pragma once

#include <functional>

#include "loop/event_loop.h"
#include "seams/poll_timer.h"

namespace stbup {

// Timer1 on the command line's event loop.
class LoopTimer : public PollTimer {
 public:
  explicit LoopTimer(EventLoop& loop) : loop_(loop) {}
  ~LoopTimer() override;
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;

  void SetTick(std::function<void()> tick) { tick_ = std::move(tick); }
  void Start(int interval_ms = kPollInterval) override;
  void Stop() override;
  int Interval() const override { return interval_; }

 private:
  EventLoop& loop_;
  std::function<void()> tick_;
  int id_ = 0;
  int interval_ = 0;
};

// Runs call once on the loop's next pass, after the current handler returned.
void PostToLoop(EventLoop& loop, std::function<void()> call);

}  // namespace stbup
