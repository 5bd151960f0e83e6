#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/core/main_window.h"
#include "app/qt/form_view.h"
#include "app/qt/frame_controls.h"
#include "app/qt/gui_thread_view.h"
#include "app/qt/main_frm.h"
#include "app/qt/qt_poll_timer.h"
#include "app/trace/trace_file.h"

namespace stbup {

class Dialogs;
class GuiTurn;
class Port;
class Settings;
class TeeView;

// TMainFrm with its logic: the controls' events go to MainWindow's handlers,
// and MainWindow shows everything through the View over the controls (teed
// into a trace file when one is asked for).
class MainFrmController {
 public:
  // trace_path: where to write the trace of everything shown; empty for none.
  // also_shown: a View that sees everything shown as well (the records' tap).
  // turn: the user-interface thread's, where serial threads may run the
  // logic; none when everything runs on that thread.
  MainFrmController(Port& port, Settings& settings, Dialogs& dialogs,
                    const std::string& trace_path = {}, View* also_shown = nullptr,
                    GuiTurn* turn = nullptr);
  ~MainFrmController();
  MainFrmController(const MainFrmController&) = delete;
  MainFrmController& operator=(const MainFrmController&) = delete;

  // Shows the window and runs the start-up sequence.
  void Start(std::string_view first_argument);

  // VaComm1's OnRxChar, delivered on the user-interface thread.
  void VaComm1RxChar() { logic_.VaComm1RxChar(); }

  TMainFrm& Frame() { return frame_; }
  MainWindow& Logic() { return logic_; }
  View& ShownView() { return view_; }
  QtPollTimer& Timer1() { return timer_; }
  // At shutdown: what serial threads still show is dropped (see GuiThreadView).
  void CloseView() { gui_view_.Close(); }

 private:
  TMainFrm frame_;
  FormView form_view_;
  GuiThreadView gui_view_;
  std::unique_ptr<TraceFile> trace_;
  std::unique_ptr<TeeView> also_shown_;
  View& view_;
  FrameControls controls_;
  FrameFileDialog file_dialog_;
  QtPollTimer timer_;
  MainWindow logic_;
};

}  // namespace stbup
