#include "app/win32/win32_poll_timer.h"

namespace stbup {

void Win32PollTimer::Start(int interval_ms) {
  // An interval of 0 is the stopped state, as the design's Timer1 has it.
  if (interval_ms <= 0) {
    Stop();
    return;
  }
  // SetTimer on the same id replaces a running timer with the new interval.
  if (::SetTimer(window_, id_, static_cast<UINT>(interval_ms), nullptr) != 0) {
    interval_ = interval_ms;
  }
}

void Win32PollTimer::Stop() {
  if (interval_ == 0) return;
  if (::IsWindow(window_)) ::KillTimer(window_, id_);
  interval_ = 0;
}

}  // namespace stbup
