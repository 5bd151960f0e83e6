#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "app/core/box_ending.h"
#include "app/core/box_recorder.h"
#include "protocol/engine.h"
#include "seams/record_sink.h"

namespace stbup {

class MainWindow;
class Port;

// What happens to one box, in order, as every front end learns it.
struct BoxAnnounced {
  std::string loader;  // "5518 L 217": the loader's kind and its version as the caption shows it
};
struct BoxIdentified {
  std::string loader;
  std::string model;
  std::string hardware;  // "01.02.03"
  std::string software;
};
// The checks let the box through: from here it counts as a box.
struct BoxAccepted {};
struct BoxDownloading {
  long long block = 0;  // blocks sent of blocks
  long long blocks = 0;
  long long bytes = 0;  // bytes sent of the region's bytes
  long long total_bytes = 0;
};
struct BoxFlashWriting {};
struct BoxEnded {
  Verdict verdict = Verdict::kFailed;
  int status = 1;        // the exit status for this ending
  double seconds = 0;    // from the moment the box was awaited
  bool counted = false;  // a box to the summary; one cut short before its checks is only recorded
  std::vector<RunWarning> warnings;  // why, when the checks warned
};
// The session serves no more boxes: its one box has ended, the port went
// away, or no more boxes were to be taken.
struct SessionOver {
  int status = 0;
};
using BoxEvent = std::variant<BoxAnnounced, BoxIdentified, BoxAccepted, BoxDownloading,
                              BoxFlashWriting, BoxEnded, SessionOver>;

// One port's boxes under one window logic, below every front end: the
// engine's run events, device loss, abort and time-out turned into a verdict
// and an exit status through the one table (box_ending.h), the record of
// each box, re-arming for the next box, and typed events for the views,
// summaries and quit hooks above it. Nothing here reads memo text.
class BoxSession {
 public:
  using Clock = std::chrono::steady_clock;

  // How boxes follow one another on the port.
  enum class Serving {
    kOneBox,    // one box, then the session is over ("stbup upgrade")
    kEveryBox,  // after each box the next is awaited as after Enter (--repeat, a station)
    kOperator,  // the operator drives the window; the session only follows
  };

  struct Options {
    Serving serving = Serving::kOperator;
    bool check_only = false;
    // Where each box's record goes; none for no records.
    RecordSink* records = nullptr;
    // Whose records they are; an empty port is the window's port as its
    // device names it at the box's end.
    BoxRecorder::Where where;
    // Runs a call on the window's thread once the current handler has
    // returned; needed to re-arm (kEveryBox).
    std::function<void(std::function<void()>)> post;
    // Where a failed re-arm is reported (the View's error report).
    std::function<void(std::string_view)> report_error;
    // The status a box's record keeps, from the status of its ending: the
    // command's own where it ends otherwise (a log not written whole, 11).
    std::function<int(int status)> recorded_status;
  };

  explicit BoxSession(Options options);
  ~BoxSession();
  BoxSession(const BoxSession&) = delete;
  BoxSession& operator=(const BoxSession&) = delete;

  // Teed beside what the front end shows: the log lines a record keeps.
  // Null without records. Built before the window, which takes its View at birth.
  View* RecordTap() { return recorder_ ? &recorder_->Tap() : nullptr; }
  // Takes the window's engine events from here on.
  void Attach(MainWindow& window, Port& port);
  // Every event goes to every listener, in the order they were added.
  void Subscribe(std::function<void(const BoxEvent&)> listener);

  // The window has started: the first box is awaited from now.
  void Started();
  // After the window's own device-loss transition: a box on the line has
  // ended with the port, and the session with it (the window's goes on).
  void PortLost();
  // The run was cut short (time limit, interrupt): a box on the line ends
  // so; the session is over unless the operator drives it.
  void Abort(Verdict verdict);
  // After the box in progress, if any, no further box is taken.
  void TakeNoMoreBoxes();

  // A box has been accepted and has not ended yet (data may be moving).
  bool BoxInProgress() const { return box_.accepted && !box_.ended; }
  bool Over() const { return over_; }
  Clock::time_point BoxStarted() const { return box_started_; }
  // Every box that counted, as it ended.
  const std::vector<BoxEnded>& Boxes() const { return boxes_; }

 private:
  void OnRunEvent(RunEvent event);
  void OnProgress(RunProgress progress);
  // Gives the box its verdict: records it and tells the listeners.
  void Conclude(Verdict verdict, bool counted);
  // What comes after a box: the next one, or the end of the session.
  void AfterBox(int status, bool counted);
  void Rearm();
  void AwaitNextBox();
  void Finish(int status);
  void Emit(const BoxEvent& event);
  std::string LoaderText() const;

  Options options_;
  std::unique_ptr<BoxRecorder> recorder_;
  MainWindow* window_ = nullptr;
  Port* port_ = nullptr;
  std::vector<std::function<void(const BoxEvent&)>> listeners_;

  BoxSoFar box_;
  bool taking_boxes_ = true;
  bool over_ = false;
  Clock::time_point box_started_ = Clock::now();
  std::vector<BoxEnded> boxes_;
  // Tells a posted call that its session is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The quit-after-run hook of both windows: once a box has ended, quit with
// 0 when it was upgraded, else 1. quit runs on the window's thread, after the
// engine has finished with the line that ended the run.
std::function<void(const BoxEvent&)> QuitAfterRun(std::function<void(int status)> quit);

}  // namespace stbup
