#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/core/box_session.h"
#include "app/core/va_comm_port.h"
#include "app/core/window_records.h"
#include "app/win32/main_frm_controller.h"
#include "app/win32/win32_poll_timer.h"
#include "app/win32/window_main_thread_queue.h"
#include "serial/va_comm.h"

namespace stbup {

class Dialogs;
class Settings;

// One run of the operator's window: MainFrm with its serial component VaComm1,
// whose received data reaches the window on the user-interface thread through
// its message queue.
class GuiSession {
 public:
  // trace_path: the trace of everything shown ($STBUP_TRACE); empty for none.
  // records: where each box's record goes; none for no records. whose: the
  // station, operator and work order the records name.
  GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path = {},
             RecordSink* records = nullptr, const WindowRecords& whose = {});
  // Closes the port and stops the link's threads, releasing any of them still
  // waiting for the user-interface thread.
  ~GuiSession();
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;

  void Start(std::string_view first_argument);
  // What happens to the boxes on the window's port, after the records have
  // seen it.
  void Subscribe(std::function<void(const BoxEvent&)> listener) {
    box_session_->Subscribe(std::move(listener));
  }

  MainFrmController& Controller() { return *controller_; }
  TMainFrm& Frame() { return controller_->Frame(); }
  TVaComm& VaComm1() { return comm_; }

 private:
  // What the records' file and the line's server have to say, in the memo
  // as it comes (">> records: FILE: why"), each cause once.
  void SayRecordsNotices();

  WindowMainThreadQueue queue_;
  TVaComm comm_;
  VaCommPort port_;
  RecordSink* records_;
  std::unique_ptr<BoxSession> box_session_;
  std::unique_ptr<MainFrmController> controller_;
  std::unique_ptr<Win32PollTimer> records_notices_;
};

}  // namespace stbup
