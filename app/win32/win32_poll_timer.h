#pragma once

#include "app/win32/windows_api.h"

#include "seams/poll_timer.h"

namespace stbup {

// Timer1 on SetTimer: its ticks arrive as WM_TIMER on the window, on the
// user-interface thread, also while a modal box is open.
class Win32PollTimer : public PollTimer {
 public:
  Win32PollTimer(HWND window, UINT_PTR id) : window_(window), id_(id) {}
  ~Win32PollTimer() override { Stop(); }
  Win32PollTimer(const Win32PollTimer&) = delete;
  Win32PollTimer& operator=(const Win32PollTimer&) = delete;

  void Start(int interval_ms = kPollInterval) override;
  void Stop() override;
  int Interval() const override { return interval_; }

 private:
  HWND window_;
  UINT_PTR id_;
  int interval_ = 0;
};

}  // namespace stbup
