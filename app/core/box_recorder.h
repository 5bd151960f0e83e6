#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/engine.h"
#include "seams/box_record.h"
#include "seams/null_view.h"
#include "seams/record_sink.h"
#include "seams/text_format.h"
#include "seams/utc_timestamp.h"

namespace stbup {

class MainWindow;

// Builds one record per box of a window's runs and hands it to a sink. It
// reads what the engine knows of the box and the loaded image; the front end
// tees its Tap() beside what it shows (for the log lines that explain a
// failure), tells it the engine's run events and says when a box has ended.
class BoxRecorder {
 public:
  static constexpr std::size_t kTailLines = 16;

  struct Where {
    std::string station;    // the station's name (the host name unless given)
    std::string front_end;  // "upgrade", "station" or "window"
    std::string port;       // as the operator named it; empty: the window's COMn
    std::optional<std::string> operator_name;
    std::optional<std::string> work_order;
  };

  BoxRecorder(RecordSink& sink, Where where);

  // A View that shows nothing and keeps the last memo lines.
  View& Tap() { return tap_; }

  // The engine's milestones, as they come.
  void Observe(RunEvent event);
  // The next box is awaited (after a verdict, or at start-up).
  void Await();
  // The port as the front end names it now (a window's port can change).
  void SetPort(std::string port) { where_.port = std::move(port); }
  // A box has spoken since it was awaited and has no verdict yet.
  bool BoxInProgress() const { return announced_ && !finished_; }
  // Records the end of the box on the window's line; once per box (later
  // calls until Await are ignored).
  void Finish(const MainWindow& window, Verdict verdict, int exit_status);

 private:
  class Tail : public NullView {
   public:
    void AddMemoLine(std::string_view line) override;
    std::deque<std::string> lines;
  };

  RecordSink& sink_;
  Where where_;
  Tail tap_;
  std::chrono::system_clock::time_point awaited_at_;
  std::chrono::steady_clock::time_point awaited_steady_;
  std::optional<std::chrono::system_clock::time_point> announced_at_;
  std::chrono::steady_clock::time_point announced_steady_;
  bool announced_ = false;
  bool identified_ = false;
  bool finished_ = false;
};

// The verdict a run event gives a box that has spoken (or, not in progress,
// one that has its verdict already), from the one table in box_ending.h.
std::optional<Verdict> WindowVerdictOf(RunEvent event, bool box_in_progress);

}  // namespace stbup
