#pragma once

#include <functional>

#include <QTimer>

#include "seams/poll_timer.h"

namespace stbup {

// Timer1 on a QTimer: its ticks arrive on the user-interface thread.
class QtPollTimer : public PollTimer {
 public:
  explicit QtPollTimer(std::function<void()> on_tick);

  void Start(int interval_ms = kPollInterval) override;
  void Stop() override;
  int Interval() const override;

 private:
  QTimer timer_;
};

}  // namespace stbup
