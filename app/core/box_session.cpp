#include "app/core/box_session.h"

#include <exception>

#include "app/core/main_window.h"
#include "app/core/port.h"
#include "seams/exit_status.h"
#include "seams/text_format.h"

namespace stbup {

BoxSession::BoxSession(Options options) : options_(std::move(options)) {
  box_.single_box = options_.serving == Serving::kOneBox;
  box_.check_only = options_.check_only;
  if (options_.records != nullptr) {
    recorder_ = std::make_unique<BoxRecorder>(*options_.records, options_.where);
  }
}

BoxSession::~BoxSession() { *alive_ = false; }

void BoxSession::Attach(MainWindow& window, Port& port) {
  window_ = &window;
  port_ = &port;
  Engine& engine = window.GetEngine();
  engine.SetCheckOnly(options_.check_only);
  engine.SetRunEventHandler([this](RunEvent event) { OnRunEvent(event); });
  engine.SetProgressHandler([this](RunProgress progress) { OnProgress(progress); });
}

void BoxSession::Subscribe(std::function<void(const BoxEvent&)> listener) {
  listeners_.push_back(std::move(listener));
}

void BoxSession::Emit(const BoxEvent& event) {
  for (const auto& listener : listeners_) listener(event);
}

void BoxSession::Started() { box_started_ = Clock::now(); }

std::string BoxSession::LoaderText() const {
  const Engine& engine = window_->GetEngine();
  std::string loader = engine.State().LoaderKind == kLoader2LL ? "2LL" : "5518";
  if (!engine.LoaderLabel().empty()) loader += " " + engine.LoaderLabel();
  return loader;
}

void BoxSession::OnRunEvent(RunEvent event) {
  if (recorder_) recorder_->Observe(event);
  if (over_) return;
  switch (event) {
    case RunEvent::kAnnounced:
      // In the window a box may follow a box without a re-arm: the operator
      // (or the box) starts it.
      if (box_.ended && options_.serving == Serving::kOperator) box_.ended = false;
      box_.announced = true;
      Emit(BoxAnnounced{LoaderText()});
      return;
    case RunEvent::kAccepted:
      if (!box_.ended) {
        box_.accepted = true;
        Emit(BoxAccepted{});
      }
      break;
    case RunEvent::kRefused:
    case RunEvent::kUpgradeSuccess:
    case RunEvent::kSuccessAfterFailure:
    case RunEvent::kNormalStart:
      break;
  }
  if (const auto ending = EndingOfRunEvent(event, box_)) {
    Conclude(ending->verdict, ending->counted);
    AfterBox(ExitStatusOf(ending->verdict), ending->counted);
  } else if (event == RunEvent::kNormalStart && options_.serving == Serving::kEveryBox) {
    // The box that just ended restarting, or one that never spoke: the
    // next box is awaited all the same.
    Rearm();
  }
}

void BoxSession::OnProgress(RunProgress progress) {
  if (over_ || box_.ended) return;
  const Engine& engine = window_->GetEngine();
  switch (progress) {
    case RunProgress::kIdentified: {
      const TargetInfo& target = engine.State().TargetInfo;
      Emit(BoxIdentified{LoaderText(), target.ModelName,
                         FormatVersionTriple(target.HardwareVersion),
                         FormatVersionTriple(target.SoftwareVersion)});
      return;
    }
    case RunProgress::kDownloading: {
      constexpr long long kBlock = 1024;
      const long long done = engine.DownloadBytesDone();
      const long long total = engine.DownloadBytesTotal();
      Emit(
          BoxDownloading{(done + kBlock - 1) / kBlock, (total + kBlock - 1) / kBlock, done, total});
      return;
    }
    case RunProgress::kFlashWriting:
      Emit(BoxFlashWriting{});
      return;
  }
}

void BoxSession::Conclude(Verdict verdict, bool counted) {
  BoxEnded ended;
  ended.verdict = verdict;
  ended.status = ExitStatusOf(verdict);
  ended.seconds = std::chrono::duration<double>(Clock::now() - box_started_).count();
  ended.counted = counted;
  if (window_ != nullptr) ended.warnings = window_->GetEngine().Warnings();
  box_.ended = true;
  // A counted box always leaves a record; one cut short before its checks
  // only when it spoke.
  if (recorder_ && window_ != nullptr && (counted || recorder_->BoxInProgress())) {
    if (options_.where.port.empty() && port_ != nullptr) recorder_->SetPort(port_->DeviceName());
    recorder_->Finish(
        *window_, verdict,
        options_.recorded_status ? options_.recorded_status(ended.status) : ended.status);
  }
  if (counted) boxes_.push_back(ended);
  Emit(ended);
}

void BoxSession::AfterBox(int status, bool counted) {
  switch (options_.serving) {
    case Serving::kOneBox:
      Finish(status);
      return;
    case Serving::kEveryBox:
      if (counted && !taking_boxes_) {
        Finish(status);
      } else {
        Rearm();
      }
      return;
    case Serving::kOperator:
      AwaitNextBox();
      return;
  }
}

void BoxSession::AwaitNextBox() {
  // The window waits for the next box by itself; until one announces
  // itself, nothing on the line is news.
  box_ = BoxSoFar{.check_only = options_.check_only};
  box_.ended = true;
  box_started_ = Clock::now();
  if (recorder_) recorder_->Await();
}

void BoxSession::PortLost() { Abort(Verdict::kPortGone); }

void BoxSession::Abort(Verdict verdict) {
  if (over_) return;
  if (const auto ending = EndingOfCut(verdict, box_)) Conclude(ending->verdict, ending->counted);
  // The operator may reconnect the window: its session goes on.
  if (options_.serving == Serving::kOperator) {
    AwaitNextBox();
    return;
  }
  Finish(ExitStatusOf(verdict));
}

void BoxSession::TakeNoMoreBoxes() {
  taking_boxes_ = false;
  if (!BoxInProgress() && !over_) Finish(kExitOk);
}

void BoxSession::Rearm() {
  if (!options_.post) return;
  // Not inside the engine's own handling of the line: once it has returned.
  std::weak_ptr<bool> alive = alive_;
  options_.post([this, alive] {
    if (alive.expired() || over_) return;
    box_ = BoxSoFar{.single_box = false, .check_only = options_.check_only};
    box_started_ = Clock::now();
    if (recorder_) recorder_->Await();
    try {
      if (port_->Active()) {
        window_->ResetConnection();
      } else {
        window_->FormKeyPress(MainWindow::kEnter);
      }
    } catch (const std::exception& error) {
      if (options_.report_error) options_.report_error(error.what());
    }
  });
}

void BoxSession::Finish(int status) {
  if (over_) return;
  over_ = true;
  Emit(SessionOver{status});
}

std::function<void(const BoxEvent&)> QuitAfterRun(std::function<void(int status)> quit) {
  return [quit = std::move(quit)](const BoxEvent& event) {
    const auto* ended = std::get_if<BoxEnded>(&event);
    if (ended == nullptr) return;
    quit(ended->verdict == Verdict::kUpgraded ? 0 : 1);
  };
}

}  // namespace stbup
