#include "loop/loop_timer.h"

#include <memory>

namespace stbup {

LoopTimer::~LoopTimer() {
  if (id_ != 0) loop_.CancelTimer(id_);
}

void LoopTimer::Start(int interval_ms) {
  interval_ = interval_ms > 0 ? interval_ms : 0;
  if (id_ == 0) {
    id_ = loop_.AddTimer(interval_, [this] {
      if (tick_) tick_();
    });
  } else {
    loop_.SetTimerInterval(id_, interval_);
  }
}

void LoopTimer::Stop() {
  interval_ = 0;
  if (id_ != 0) loop_.SetTimerInterval(id_, 0);
}

void PostToLoop(EventLoop& loop, std::function<void()> call) {
  auto id = std::make_shared<int>(0);
  *id = loop.AddTimer(1, [&loop, id, call = std::move(call)] {
    loop.CancelTimer(*id);
    call();
  });
}

}  // namespace stbup
