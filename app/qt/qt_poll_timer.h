#pragma once

#include <functional>

#include <QTimer>

#include "seams/poll_timer.h"

namespace stbup {

// Timer1 on a QTimer: its ticks arrive on the user-interface thread. A serial
// thread in that thread's turn may start or stop it too: the QTimer, which
// belongs to the user-interface thread, follows there, and a tick that comes
// in between from a timer already stopped is not delivered.
class QtPollTimer : public PollTimer {
 public:
  explicit QtPollTimer(std::function<void()> on_tick);

  void Start(int interval_ms = kPollInterval) override;
  void Stop() override;
  int Interval() const override { return interval_; }

 private:
  // The QTimer as interval_ says; on the user-interface thread.
  void Follow();
  void Changed();

  QTimer timer_;
  // Read and written in the user-interface thread's turn.
  int interval_ = 0;
};

}  // namespace stbup
