#include "app/qt/qt_poll_timer.h"

namespace stbup {

QtPollTimer::QtPollTimer(std::function<void()> on_tick) {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(on_tick)] { tick(); });
}

void QtPollTimer::Start(int interval_ms) {
  // An interval of 0 is the stopped state, as the design's Timer1 has it.
  if (interval_ms <= 0) {
    Stop();
    return;
  }
  timer_.start(interval_ms);
}

void QtPollTimer::Stop() { timer_.stop(); }

int QtPollTimer::Interval() const { return timer_.isActive() ? timer_.interval() : 0; }

}  // namespace stbup
