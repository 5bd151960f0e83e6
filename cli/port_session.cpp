#include "cli/port_session.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/core/memory_port.h"
#include "app/core/memory_settings.h"
#include "app/core/va_comm_port.h"
#include "app/trace/trace_writer.h"
#include "cli/box_verdict.h"
#include "cli/exit_status.h"
#include "cli/ini_ports.h"
#include "cli/loop_timer.h"
#include "cli/platform.h"
#include "seams/null_view.h"
#include "serial/port_diagnosis.h"
#include "serial/va_comm.h"

namespace stbup {

// The command line has no open dialog: the image comes from the arguments.
class NoFileDialog : public FileDialog {
 public:
  std::optional<std::string> Execute(std::string_view, std::string_view,
                                     std::string_view) override {
    return std::nullopt;
  }
};

// What only a window has: nothing to show here; the current directory is the
// process's own when the whole process is ours, else kept aside.
class ConsoleControls : public WindowControls {
 public:
  explicit ConsoleControls(bool change_directory) : change_directory_(change_directory) {
    std::error_code error;
    const auto current = std::filesystem::current_path(error);
    if (!error) directory_ = current.string();
  }
  void SelectPort(int) override {}
  void SetCaption(std::string_view) override {}
  void SetPosition(int, int) override {}
  bool CloseWindow() override { return true; }
  void Terminate() override {}
  std::string CurrentDirectory() const override { return directory_; }
  bool SetCurrentDirectory(std::string_view directory) override {
    if (change_directory_) {
      std::error_code error;
      std::filesystem::current_path(std::filesystem::path(std::string(directory)), error);
      if (error) return false;
    }
    directory_ = directory;
    return true;
  }

 private:
  bool change_directory_;
  std::string directory_;
};

// The warning and hint lines (">> ", "> ") since the last "[ Upgrade mode. ]":
// the reasons behind a check-only verdict.
class PortSession::ReasonsView : public NullView {
 public:
  void AddMemoLine(std::string_view line) override {
    if (line == kUpgradeModeLine) {
      lines.clear();
    } else if (line.starts_with(">") && lines.size() < kMaxLines) {
      lines.emplace_back(line);
    }
  }
  static constexpr std::size_t kMaxLines = 64;
  std::vector<std::string> lines;
};

std::string DescribeBoxStatus(int status) {
  switch (status) {
    case kExitOk:
      return "upgraded";
    case kExitRefused:
      return "refused (Upgrade Fail)";
    case kExitNormalStart:
      return "started its own software before success";
    case kExitPortGone:
      return "the port went away";
    case kExitTimeout:
      return "not done within the time limit";
    case kExitSuccessAfterFailure:
      return "the box reported success after a failure";
    case kExitInterrupted:
      return "interrupted";
    default:
      return "ended with status " + std::to_string(status);
  }
}

std::string DescribeExitStatus(int status) {
  switch (status) {
    case kExitInternalError:
      return "internal error";
    case kExitUsage:
      return "usage";
    case kExitImageNotAccepted:
      return "image not accepted";
    case kExitPortNotOpened:
      return "port not opened";
    case kExitRecordIncomplete:
      return "upgraded, but the log or trace record is incomplete";
    default:
      return DescribeBoxStatus(status);
  }
}

PortSession::PortSession(EventLoop& loop, View& view, Options options, PortSessionListener listener)
    : loop_(loop),
      options_(std::move(options)),
      listener_(std::move(listener)),
      reasons_(std::make_unique<ReasonsView>()),
      tee_(std::make_unique<TeeView>(view, *reasons_)),
      view_(tee_.get()) {
  if (options_.records != nullptr) {
    recorder_ = std::make_unique<BoxRecorder>(
        *options_.records,
        BoxRecorder::Where{options_.station_name.empty() ? HostName() : options_.station_name,
                           options_.front_end, options_.port, options_.operator_name,
                           options_.work_order});
    records_tee_ = std::make_unique<TeeView>(*view_, recorder_->Tap());
    view_ = records_tee_.get();
  }
  // The store the window would read: the image and the port as given, the
  // selector on COM1 (the device name and the index are independent), and
  // the COMn map of the settings file.
  settings_ = std::make_unique<MemorySettings>();
  settings_->keys[std::string(MainWindow::kKeyPath)] = {
      {"FileName", options_.image}, {"ComPort", options_.port}, {"PortIndex", "0"}};
  // Only a COMn name needs the map: a path, or the name of an in-memory
  // line, never makes the settings file read.
  if (!options_.memory_line && PortNameNeedsMap(options_.port)) {
    settings_->ports =
        ReadPortMap(options_.settings_file.empty() ? SettingsFilePath() : options_.settings_file);
  }

  if (options_.memory_line) {
    memory_port_ = std::make_unique<MemoryPort>(loop_, options_.memory_line, options_.port);
    port_ = memory_port_.get();
  } else {
    comm_ = std::make_unique<TVaComm>(loop_);
    ConfigureVaComm1(*comm_);
    comm_->SetPortResolver(
        [settings = settings_.get()](std::string_view name) { return settings->PortPath(name); });
    serial_port_ = std::make_unique<VaCommPort>(*comm_);
    port_ = serial_port_.get();
  }
  timer_ = std::make_unique<LoopTimer>(loop_);
  dialog_ = std::make_unique<NoFileDialog>();
  controls_ = std::make_unique<ConsoleControls>(options_.change_directory);
  window_ = std::make_unique<MainWindow>(*view_, *port_, *timer_, *settings_, *dialog_, *controls_);
  timer_->SetTick([this] { window_->Timer1Timer(); });
  // The window's own transition tears down (timer, run, port, log lines);
  // the session only ends with 7.
  if (memory_port_) {
    ConnectMemoryPort(*memory_port_, *window_, *view_);
    memory_port_->OnDeviceLost = [this, lost = memory_port_->OnDeviceLost] {
      lost();
      OnDeviceLost();
    };
  } else {
    ConnectVaComm1(*comm_, *window_, *view_);
    comm_->OnDeviceLost = [this, lost = comm_->OnDeviceLost](TVaComm& comm) {
      lost(comm);
      OnDeviceLost();
    };
  }
  window_->GetEngine().SetCheckOnly(options_.check_only);
  window_->GetEngine().SetRunEventHandler([this](RunEvent event) { OnRunEvent(event); });
}

PortSession::~PortSession() {
  *alive_ = false;
  timer_->Stop();
  port_->Close();
}

PortSession::Start PortSession::Begin() {
  window_->FormCreate(options_.image);
  box_started_ = Clock::now();
  if (port_->Active()) return Start::kRunning;
  timer_->Stop();
  ended_ = true;
  return FailedOpens() == 0 ? Start::kImageNotAccepted : Start::kPortNotOpened;
}

int PortSession::FailedOpens() const {
  return memory_port_ ? memory_port_->FailedOpens() : serial_port_->FailedOpens();
}

std::vector<std::string> PortSession::OpenFailure() const {
  if (memory_port_) return {memory_port_->LastOpenError()};
  std::vector<std::string> lines{serial_port_->LastOpenError()};
  std::string reason = DiagnosePort(comm_->DevicePath());
  if (!reason.empty()) lines.push_back(reason);
  return lines;
}

bool PortSession::Active() const { return port_->Active(); }

void PortSession::Close() {
  ended_ = true;
  timer_->Stop();
  port_->Close();
}

void PortSession::TakeNoMoreBoxes() {
  taking_boxes_ = false;
  if (!BoxInProgress() && !ended_) End(kExitOk);
}

void PortSession::Note(std::string_view text) {
  if (listener_.note) listener_.note(text);
}

void PortSession::OnDeviceLost() {
  if (ended_) return;
  // A box the port took with it has failed; one not yet accepted is no box.
  if (BoxInProgress()) {
    RecordBox(kExitPortGone);
  } else {
    RecordUnacceptedBox(kExitPortGone);
  }
  End(kExitPortGone);
}

void PortSession::Abort(int status) {
  if (BoxInProgress()) {
    RecordBox(status);
  } else {
    RecordUnacceptedBox(status);
  }
  Close();
}

void PortSession::RecordBox(int status) {
  double seconds = std::chrono::duration<double>(Clock::now() - box_started_).count();
  boxes_.push_back({status, seconds});
  box_ended_ = true;
  if (recorder_) {
    recorder_->Finish(*window_, VerdictOfStatus(status, options_.check_only), status);
  }
  if (listener_.box_ended) listener_.box_ended(boxes_.back());
}

void PortSession::RecordUnacceptedBox(int status) {
  if (recorder_ && recorder_->BoxInProgress()) {
    recorder_->Finish(*window_, VerdictOfStatus(status, options_.check_only), status);
  }
}

void PortSession::OnRunEvent(RunEvent event) {
  if (recorder_) recorder_->Observe(event);
  switch (event) {
    case RunEvent::kAnnounced:
      break;
    case RunEvent::kAccepted:
      box_accepted_ = true;
      if (listener_.accepted) listener_.accepted();
      if (options_.check_only) {
        Note("check-only: the image would be accepted by this box");
        EndBox(kExitOk);
      }
      break;
    case RunEvent::kRefused:
      if (options_.check_only) {
        Note("check-only: the image would be refused by this box:");
        for (const auto& line : reasons_->lines) Note("  " + line);
      }
      EndBox(kExitRefused);
      break;
    case RunEvent::kUpgradeSuccess:
      EndBox(kExitOk);
      break;
    case RunEvent::kSuccessAfterFailure:
      Note("the box reported success after a failure (" + window_->GetEngine().SuccessFailures() +
           ")");
      EndBox(kExitSuccessAfterFailure);
      break;
    case RunEvent::kNormalStart:
      // The box that just ended restarting is no news; one that was being
      // upgraded (or, for a single run, any box before success) has failed.
      if (!box_ended_ && (box_accepted_ || !options_.repeat)) {
        EndBox(kExitNormalStart);
      } else if (options_.repeat) {
        RecordUnacceptedBox(kExitNormalStart);
        Rearm();
      }
      break;
  }
}

void PortSession::EndBox(int status) {
  RecordBox(status);
  if (!options_.repeat || !taking_boxes_) {
    End(status);
  } else {
    Rearm();
  }
}

void PortSession::Rearm() {
  // Not inside the engine's own handling of the line: once it has returned.
  std::weak_ptr<bool> alive = alive_;
  PostToLoop(loop_, [this, alive] {
    if (alive.expired() || ended_) return;
    box_accepted_ = false;
    box_ended_ = false;
    box_started_ = Clock::now();
    if (recorder_) recorder_->Await();
    try {
      if (port_->Active()) {
        window_->ResetConnection();
      } else {
        window_->FormKeyPress(MainWindow::kEnter);
      }
    } catch (const std::exception& error) {
      view_->ReportError(error.what());
    }
  });
}

void PortSession::End(int status) {
  if (ended_) return;
  ended_ = true;
  if (listener_.ended) listener_.ended(status);
}

}  // namespace stbup
