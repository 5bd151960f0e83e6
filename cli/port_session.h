#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/box_session.h"
#include "app/core/main_window.h"
#include "loop/event_loop.h"
#include "seams/view.h"

namespace stbup {

class TVaComm;
class VaCommPort;
class MemoryPort;
class MemoryLineEnd;
class Port;
class LoopTimer;
class MemorySettings;
class NoFileDialog;
class ConsoleControls;

// What a port's run tells its owner. Every call comes on the loop's thread.
struct PortSessionListener {
  // A line of the command's own about this port (not a memo line).
  std::function<void(std::string_view)> note;
  // What happens to the port's boxes, in order (see BoxSession).
  std::function<void(const BoxEvent&)> event;
};

// One port's exchanges exactly as the window runs them after start-up: the
// window logic over its own serial component on the caller's event loop,
// showing everything through the caller's View. Without repeat one box;
// with repeat, after each box the next one is waited for as after Enter.
// Several sessions share one loop; each keeps to its own port.
class PortSession {
 public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    std::string image;
    std::string port;  // as given: a path or COMn
    bool repeat = false;
    bool check_only = false;
    // Where the COMn map comes from.
    std::string settings_file;
    // Where each box's record goes (shared by the ports of a station); none
    // for no records. The records name the command: "upgrade" or "station".
    RecordSink* records = nullptr;
    std::string front_end = "upgrade";
    // The command's status for a box that ended with status, as its record
    // keeps it (an upgrade whose log could not be written ends 11); none:
    // the box's own.
    std::function<int(int status)> recorded_status;
    // The station's name the records give (empty: the host name), and who
    // runs the boxes for which work order.
    std::string station_name;
    std::optional<std::string> operator_name;
    std::optional<std::string> work_order;
    // The tool's end of an in-memory line to a simulated box, used instead
    // of a serial device (the demo); port is then only the name the log
    // shows for it.
    std::shared_ptr<MemoryLineEnd> memory_line;
    // Whether the port's event thread watches the line where the box's
    // answer is due (one box's port); a station of many ports does not.
    bool watch_replies = true;
  };

  // What Start found.
  enum class Start { kRunning, kImageNotAccepted, kPortNotOpened };

  // Throws SettingsFileError when the port is a COMn name and the settings
  // file that maps it cannot be read.
  PortSession(EventLoop& loop, View& view, Options options, PortSessionListener listener);
  ~PortSession();
  PortSession(const PortSession&) = delete;
  PortSession& operator=(const PortSession&) = delete;

  // The window's start-up: loads the image, opens the port, starts polling.
  Start Begin();
  // Stops polling and closes the port; no box is waited for any more.
  void Close();
  // Closes the port now; a box in progress ends with status (the time
  // limit, an interrupt).
  void Abort(int status);
  // After the box in progress (if any) no further box is taken: the port is
  // closed as soon as no box is in progress.
  void TakeNoMoreBoxes() { session_->TakeNoMoreBoxes(); }

  // A box has been accepted and has not ended yet (data may be moving).
  bool BoxInProgress() const { return session_->BoxInProgress(); }
  bool Active() const;
  // The port's failed opening explained: the component's message and, when
  // the device tells more, why.
  std::vector<std::string> OpenFailure() const;

  // Every box that counted, as it ended.
  const std::vector<BoxEnded>& Boxes() const { return session_->Boxes(); }

 private:
  int FailedOpens() const;
  // The command's own lines about a box's ending.
  void NoteEnding(const BoxEnded& ended);

  EventLoop& loop_;
  Options options_;
  PortSessionListener listener_;

  std::unique_ptr<BoxSession> session_;
  std::unique_ptr<View> records_tee_;
  View* view_;

  std::unique_ptr<MemorySettings> settings_;
  // The window's port: VaComm1 on a serial device, or an in-memory line.
  std::unique_ptr<TVaComm> comm_;
  std::unique_ptr<VaCommPort> serial_port_;
  std::unique_ptr<MemoryPort> memory_port_;
  Port* port_ = nullptr;
  std::unique_ptr<LoopTimer> timer_;
  std::unique_ptr<NoFileDialog> dialog_;
  std::unique_ptr<ConsoleControls> controls_;
  std::unique_ptr<MainWindow> window_;

  // Tells a posted call that its session is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Exit-status texts for a box's outcome, e.g. "refused (Upgrade Fail)".
std::string DescribeBoxStatus(int status);
// The meaning of any exit status of "stbup upgrade", as --help gives it.
std::string DescribeExitStatus(int status);

}  // namespace stbup
