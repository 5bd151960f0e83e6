#include "cli/port_session.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "app/core/box_ending.h"
#include "app/core/memory_port.h"
#include "app/core/memory_settings.h"
#include "app/core/va_comm_port.h"
#include "app/trace/trace_writer.h"
#include "cli/ini_ports.h"
#include "cli/platform.h"
#include "loop/loop_timer.h"
#include "seams/exit_status.h"
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

// What only a window has: nothing to show here. The folder the window would
// make current is only the window logic's working folder: the command line
// never changes the process's folder, so every path an operator gave stays
// relative to the folder stbup was started in, whatever the image's folder.
class ConsoleControls : public WindowControls {
 public:
  ConsoleControls() {
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
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::path(std::string(directory)), error)) {
      return false;
    }
    directory_ = directory;
    return true;
  }

 private:
  std::string directory_;
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
    : loop_(loop), options_(std::move(options)), listener_(std::move(listener)), view_(&view) {
  BoxSession::Options box;
  box.serving = options_.repeat ? BoxSession::Serving::kEveryBox : BoxSession::Serving::kOneBox;
  box.check_only = options_.check_only;
  box.records = options_.records;
  box.where = {options_.station_name.empty() ? HostName() : options_.station_name,
               options_.front_end, options_.port, options_.operator_name, options_.work_order};
  std::weak_ptr<bool> alive = alive_;
  box.post = [this, alive](std::function<void()> call) {
    PostToLoop(loop_, [alive, call = std::move(call)] {
      if (!alive.expired()) call();
    });
  };
  box.report_error = [this](std::string_view text) { view_->ReportError(text); };
  box.recorded_status = options_.recorded_status;
  session_ = std::make_unique<BoxSession>(std::move(box));
  if (View* tap = session_->RecordTap()) {
    records_tee_ = std::make_unique<TeeView>(*view_, *tap);
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
    comm_->SetWatchReplies(options_.watch_replies);
    comm_->SetPortResolver(
        [settings = settings_.get()](std::string_view name) { return settings->PortPath(name); });
    serial_port_ = std::make_unique<VaCommPort>(*comm_);
    port_ = serial_port_.get();
  }
  timer_ = std::make_unique<LoopTimer>(loop_);
  dialog_ = std::make_unique<NoFileDialog>();
  controls_ = std::make_unique<ConsoleControls>();
  window_ = std::make_unique<MainWindow>(*view_, *port_, *timer_, *settings_, *dialog_, *controls_);
  timer_->SetTick([this] { window_->Timer1Timer(); });
  // The window's own transition tears down (timer, run, port, log lines);
  // the session then ends the box and itself with the port.
  if (memory_port_) {
    ConnectMemoryPort(*memory_port_, *window_, *view_);
    memory_port_->OnDeviceLost = [this, lost = memory_port_->OnDeviceLost] {
      lost();
      session_->PortLost();
    };
  } else {
    ConnectVaComm1(*comm_, *window_, *view_);
    comm_->OnDeviceLost = [this, lost = comm_->OnDeviceLost](TVaComm& comm) {
      lost(comm);
      session_->PortLost();
    };
  }
  session_->Attach(*window_, *port_);
  session_->Subscribe([this](const BoxEvent& event) {
    if (const auto* ended = std::get_if<BoxEnded>(&event)) NoteEnding(*ended);
    if (listener_.event) listener_.event(event);
  });
}

PortSession::~PortSession() {
  *alive_ = false;
  timer_->Stop();
  port_->Close();
}

PortSession::Start PortSession::Begin() {
  window_->FormCreate(options_.image);
  session_->Started();
  if (port_->Active()) return Start::kRunning;
  timer_->Stop();
  return FailedOpens() == 0 ? Start::kImageNotAccepted : Start::kPortNotOpened;
}

int PortSession::FailedOpens() const {
  return memory_port_ ? memory_port_->FailedOpens() : serial_port_->FailedOpens();
}

std::vector<std::string> PortSession::OpenFailure() const {
  if (memory_port_) return {memory_port_->LastOpenError()};
  std::vector<std::string> lines{serial_port_->LastOpenError()};
  std::string reason = serial_port_->OpenFailureAdvice();
  if (!reason.empty()) lines.push_back(reason);
  return lines;
}

bool PortSession::Active() const { return port_->Active(); }

void PortSession::Close() {
  timer_->Stop();
  port_->Close();
}

void PortSession::Abort(int status) {
  session_->Abort(VerdictOfStatus(status, options_.check_only));
  Close();
}

void PortSession::NoteEnding(const BoxEnded& ended) {
  if (!listener_.note) return;
  if (options_.check_only && ended.verdict == Verdict::kAccepted) {
    listener_.note("check-only: the image would be accepted by this box");
  } else if (options_.check_only && ended.verdict == Verdict::kRefused) {
    listener_.note("check-only: the image would be refused by this box:");
    for (const RunWarning& warning : ended.warnings) {
      for (const std::string& line : warning.lines) listener_.note("  " + line);
    }
  } else if (ended.verdict == Verdict::kSuccessAfterFailure) {
    listener_.note("the box reported success after a failure (" +
                   window_->GetEngine().SuccessFailures() + ")");
  }
}

}  // namespace stbup
