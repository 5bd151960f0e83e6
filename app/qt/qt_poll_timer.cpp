#include "app/qt/qt_poll_timer.h"

#include <QThread>

namespace stbup {

QtPollTimer::QtPollTimer(std::function<void()> on_tick) {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this, tick = std::move(on_tick)] {
    if (interval_ > 0) tick();
  });
}

void QtPollTimer::Start(int interval_ms) {
  // An interval of 0 is the stopped state, as the design's Timer1 has it.
  interval_ = interval_ms > 0 ? interval_ms : 0;
  Changed();
}

void QtPollTimer::Stop() {
  interval_ = 0;
  Changed();
}

void QtPollTimer::Changed() {
  if (QThread::currentThread() == timer_.thread()) {
    Follow();
    return;
  }
  QMetaObject::invokeMethod(
      &timer_, [this] { Follow(); }, Qt::QueuedConnection);
}

void QtPollTimer::Follow() {
  if (interval_ > 0) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace stbup
