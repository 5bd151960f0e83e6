#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/core/box_session.h"
#include "app/core/va_comm_port.h"
#include "app/core/window_records.h"
#include "app/qt/gui_turn.h"
#include "app/qt/main_frm_controller.h"
#include "app/qt/qt_main_thread_queue.h"
#include "serial/va_comm.h"

namespace stbup {

class Dialogs;
class Settings;

// One run of the operator's window: MainFrm with its serial component VaComm1,
// whose received data the window handles in the user-interface thread's
// turn: on that thread, or on the serial thread while it waits for events.
class GuiSession {
 public:
  // trace_path: the trace of everything shown ($STBUP_TRACE); empty for none.
  // records: where each box's record goes; none for no records. whose: the
  // station, operator and work order the records name (no station: the host).
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
  // What the records' store has to tell, said in the memo as it comes (">>
  // records: FILE: why", the line's server's problems once per cause), once
  // the writer has tried every record handed to it: never half a story.
  void SayRecordsNotices();

  GuiTurn turn_;
  QtMainThreadQueue queue_;
  TVaComm comm_;
  VaCommPort port_;
  RecordSink* records_;
  std::unique_ptr<BoxSession> box_session_;
  std::unique_ptr<MainFrmController> controller_;
  QTimer records_notices_;
};

}  // namespace stbup
