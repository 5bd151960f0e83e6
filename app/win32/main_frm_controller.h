#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/core/main_window.h"
#include "app/trace/trace_file.h"
#include "app/win32/form_view.h"
#include "app/win32/frame_controls.h"
#include "app/win32/main_frm.h"
#include "app/win32/win32_poll_timer.h"

namespace stbup {

class Dialogs;
class Port;
class Settings;

// TMainFrm with its logic: the controls' events go to MainWindow's handlers,
// and MainWindow shows everything through the View over the controls (teed
// into a trace file when one is asked for).
class MainFrmController {
 public:
  // trace_path: where to write the trace of everything shown; empty for none.
  // also_shown: a View that sees everything shown too (the records' log tail).
  MainFrmController(Port& port, Settings& settings, Dialogs& dialogs,
                    const std::string& trace_path = {}, View* also_shown = nullptr);
  MainFrmController(const MainFrmController&) = delete;
  MainFrmController& operator=(const MainFrmController&) = delete;

  // Runs the start-up sequence, then shows the window.
  void Start(std::string_view first_argument);

  TMainFrm& Frame() { return frame_; }
  MainWindow& Logic() { return logic_; }
  View& ShownView() { return view_; }
  FormView& Form() { return form_view_; }
  Win32PollTimer& Timer1() { return timer_; }

 private:
  TMainFrm frame_;
  FormView form_view_;
  std::unique_ptr<TraceFile> trace_;
  std::unique_ptr<TeeView> also_shown_;
  View& view_;
  FrameControls controls_;
  FrameFileDialog file_dialog_;
  Win32PollTimer timer_;
  MainWindow logic_;
};

}  // namespace stbup
