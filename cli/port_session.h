#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/box_recorder.h"
#include "app/core/main_window.h"
#include "seams/view.h"
#include "serial/event_loop.h"

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

// How one box on a port ended, as an exit status of "stbup upgrade"
// (0 upgraded, 5 refused, 6 the box started its own software, 7 the port
// went away during the box, ...), and how long it took from the moment the
// port was ready for it.
struct BoxOutcome {
  int status = 0;
  double seconds = 0;
};

// What a port's run tells its owner. Every call comes on the loop's thread.
struct PortSessionListener {
  // A line of the command's own about this port (not a memo line).
  std::function<void(std::string_view)> note;
  // A box has been accepted: from here it counts as a box that ends one way
  // or another.
  std::function<void()> accepted;
  // A box has ended; the session goes on with the next one when repeating.
  std::function<void(const BoxOutcome&)> box_ended;
  // The session cannot go on: the single box has ended, or the port has gone
  // away (status 7). Called once.
  std::function<void(int status)> ended;
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
    // The window makes the image's folder the current directory; only a
    // command that owns the whole process lets it.
    bool change_directory = false;
    // Where the COMn map comes from.
    std::string settings_file;
    // Where each box's record goes (shared by the ports of a station); none
    // for no records. The records name the command: "upgrade" or "station".
    RecordSink* records = nullptr;
    std::string front_end = "upgrade";
    // The station's name the records give (empty: the host name), and who
    // runs the boxes for which work order.
    std::string station_name;
    std::optional<std::string> operator_name;
    std::optional<std::string> work_order;
    // The tool's end of an in-memory line to a simulated box, used instead
    // of a serial device (the demo); port is then only the name the log
    // shows for it.
    std::shared_ptr<MemoryLineEnd> memory_line;
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
  // Closes the port now; a box in progress ends with status.
  void Abort(int status);
  // After the box in progress (if any) no further box is taken: the port is
  // closed as soon as no box is in progress.
  void TakeNoMoreBoxes();

  // A box has been accepted and has not ended yet (data may be moving).
  bool BoxInProgress() const { return box_accepted_ && !box_ended_; }
  bool Active() const;
  // The port's failed opening explained: the component's message and, when
  // the device tells more, why.
  std::vector<std::string> OpenFailure() const;

  const std::vector<BoxOutcome>& Boxes() const { return boxes_; }
  const MainWindow& Window() const { return *window_; }
  Clock::time_point BoxStarted() const { return box_started_; }

 private:
  class ReasonsView;

  void Note(std::string_view text);
  int FailedOpens() const;
  void OnRunEvent(RunEvent event);
  void OnDeviceLost();
  void EndBox(int status);
  void RecordBox(int status);
  // A box that spoke but was not accepted yet is no box to the summary, but
  // the records keep that it was cut short.
  void RecordUnacceptedBox(int status);
  void End(int status);
  // After a box ends, the next one is waited for as after Enter.
  void Rearm();

  EventLoop& loop_;
  Options options_;
  PortSessionListener listener_;

  std::unique_ptr<ReasonsView> reasons_;
  std::unique_ptr<View> tee_;
  std::unique_ptr<BoxRecorder> recorder_;
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

  std::vector<BoxOutcome> boxes_;
  bool box_accepted_ = false;
  bool box_ended_ = false;
  bool taking_boxes_ = true;
  bool ended_ = false;
  Clock::time_point box_started_ = Clock::now();
  // Tells a posted call that its session is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Exit-status texts for a box's outcome, e.g. "refused (Upgrade Fail)".
std::string DescribeBoxStatus(int status);
// The meaning of any exit status of "stbup upgrade", as --help gives it.
std::string DescribeExitStatus(int status);

}  // namespace stbup
