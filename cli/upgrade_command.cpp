#include "cli/upgrade_command.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <vector>

#include "app/core/main_window.h"
#include "app/core/memory_settings.h"
#include "app/core/va_comm_port.h"
#include "cli/console_view.h"
#include "cli/ini_ports.h"
#include "cli/loop_timer.h"
#include "cli/trace_writer.h"
#include "seams/errors.h"
#include "serial/event_loop.h"
#include "serial/port_diagnosis.h"

namespace stbup {
namespace {

using SteadyClock = std::chrono::steady_clock;

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
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) != nullptr) directory_ = buffer;
  }
  void SelectPort(int) override {}
  void SetCaption(std::string_view) override {}
  void SetPosition(int, int) override {}
  bool CloseWindow() override { return true; }
  void Terminate() override {}
  std::string CurrentDirectory() const override { return directory_; }
  bool SetCurrentDirectory(std::string_view directory) override {
    if (change_directory_ && ::chdir(std::string(directory).c_str()) != 0) return false;
    directory_ = directory;
    return true;
  }

 private:
  bool change_directory_;
  std::string directory_;
};

// SIGINT and SIGTERM as a descriptor the loop watches, blocked in every
// thread (the serial threads inherit the mask) for the life of the run.
class SignalWatch {
 public:
  SignalWatch() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~SignalWatch() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  int Fd() const { return fd_; }
  bool Raised() {
    signalfd_siginfo info{};
    return fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

struct BoxResult {
  int status;
  double seconds;
};

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string Describe(int status) {
  switch (status) {
    case kExitOk:
      return "upgraded";
    case kExitRefused:
      return "refused (Upgrade Fail)";
    case kExitNormalStart:
      return "started its own software before success";
    default:
      return "ended with status " + std::to_string(status);
  }
}

class UpgradeSession {
 public:
  UpgradeSession(const UpgradeOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  int Run();

 private:
  void OnRunEvent(RunEvent event);
  void EndBox(int status);
  void EndSession(int status);
  // After a box ends, the next one is waited for as after Enter.
  void Rearm();
  int FinalStatus() const;
  int ExplainClosedPort();

  const UpgradeOptions& options_;
  std::ostream& out_;
  std::ostream& err_;

  std::ofstream log_;
  std::ofstream trace_file_;
  std::unique_ptr<ConsoleView> console_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<TeeView> tee_;
  View* view_ = nullptr;

  std::unique_ptr<EventLoop> loop_;
  std::unique_ptr<TVaComm> comm_;
  std::unique_ptr<VaCommPort> port_;
  std::unique_ptr<LoopTimer> timer_;
  std::unique_ptr<MainWindow> window_;

  std::optional<int> session_status_;
  std::vector<BoxResult> boxes_;
  bool box_accepted_ = false;
  bool box_ended_ = false;
  SteadyClock::time_point box_started_ = SteadyClock::now();
};

int UpgradeSession::Run() {
  if (!options_.log_file.empty()) {
    log_.open(options_.log_file, std::ios::binary | std::ios::trunc);
    if (!log_) {
      PrintError(err_, EFileError::CannotCreate(options_.log_file, errno).what());
      return kExitInternalError;
    }
  }
  if (!options_.trace_file.empty()) {
    trace_file_.open(options_.trace_file, std::ios::binary | std::ios::trunc);
    if (!trace_file_) {
      PrintError(err_, EFileError::CannotCreate(options_.trace_file, errno).what());
      return kExitInternalError;
    }
  }

  ConsoleView::Options console;
  console.out = &out_;
  console.err = &err_;
  console.log = log_.is_open() ? &log_ : nullptr;
  console.out_is_terminal = options_.out_is_terminal.value_or(::isatty(STDOUT_FILENO) == 1);
  console.err_is_terminal = options_.err_is_terminal.value_or(::isatty(STDERR_FILENO) == 1);
  console.quiet = options_.quiet;
  console_ = std::make_unique<ConsoleView>(console);
  view_ = console_.get();
  if (trace_file_.is_open()) {
    trace_ = std::make_unique<TraceWriter>(trace_file_);
    tee_ = std::make_unique<TeeView>(*console_, *trace_);
    view_ = tee_.get();
  }

  // The store the window would read: the image and the port as given, the
  // selector on COM1 (the device name and the index are independent), and
  // the COMn map of the settings file.
  MemorySettings settings;
  settings.keys[std::string(MainWindow::kKeyPath)] = {
      {"FileName", options_.image}, {"ComPort", options_.port}, {"PortIndex", "0"}};
  settings.ports =
      ReadPortMap(options_.settings_file.empty() ? SettingsFilePath() : options_.settings_file);

  std::optional<SignalWatch> signals;
  if (options_.process_wide) signals.emplace();

  loop_ = std::make_unique<EventLoop>();
  comm_ = std::make_unique<TVaComm>(*loop_);
  ConfigureVaComm1(*comm_);
  comm_->SetPortResolver([&settings](std::string_view name) { return settings.PortPath(name); });
  port_ = std::make_unique<VaCommPort>(*comm_);
  timer_ = std::make_unique<LoopTimer>(*loop_);
  NoFileDialog dialog;
  ConsoleControls controls(options_.process_wide);
  window_ = std::make_unique<MainWindow>(*view_, *port_, *timer_, settings, dialog, controls);
  ConnectVaComm1(*comm_, *window_, *view_);
  timer_->SetTick([this] { window_->Timer1Timer(); });
  comm_->OnDeviceLost = [this](TVaComm&) {
    console_->Note(options_.port + " has gone away");
    EndSession(kExitPortGone);
  };
  window_->GetEngine().SetCheckOnly(options_.check_only);
  window_->GetEngine().SetRunEventHandler([this](RunEvent event) { OnRunEvent(event); });

  window_->FormCreate(options_.image);
  box_started_ = SteadyClock::now();
  if (!port_->Active()) return ExplainClosedPort();

  if (options_.timeout_seconds > 0) {
    auto ms = static_cast<int>(options_.timeout_seconds * 1000);
    loop_->AddTimer(ms < 1 ? 1 : ms, [this] {
      console_->Note("no result within " + Seconds(options_.timeout_seconds));
      EndSession(kExitTimeout);
    });
  }
  int signal_watch = 0;
  if (signals && signals->Fd() >= 0) {
    signal_watch = loop_->WatchReadable(signals->Fd(), [this, &signals] {
      if (signals->Raised()) {
        console_->Note("interrupted");
        EndSession(kExitInterrupted);
      }
    });
  }

  loop_->Run();
  if (signal_watch != 0) loop_->StopWatching(signal_watch);

  console_->FinishProgress();
  timer_->Stop();
  comm_->Close();
  if (options_.repeat) {
    int upgraded = 0;
    for (const auto& box : boxes_) upgraded += box.status == kExitOk ? 1 : 0;
    console_->Note(std::to_string(boxes_.size()) + (boxes_.size() == 1 ? " box, " : " boxes, ") +
                   std::to_string(upgraded) + " upgraded, " +
                   std::to_string(boxes_.size() - upgraded) + " not");
  }
  return FinalStatus();
}

int UpgradeSession::ExplainClosedPort() {
  console_->FinishProgress();
  if (port_->FailedOpens() == 0) return kExitImageNotAccepted;
  console_->Note(port_->LastOpenError());
  std::string reason = DiagnosePort(comm_->DevicePath());
  if (!reason.empty()) console_->Note(reason);
  return kExitPortNotOpened;
}

void UpgradeSession::OnRunEvent(RunEvent event) {
  switch (event) {
    case RunEvent::kAccepted:
      box_accepted_ = true;
      if (options_.check_only) {
        console_->Note("check-only: the image would be accepted by this box");
        EndBox(kExitOk);
      }
      break;
    case RunEvent::kRefused:
      if (options_.check_only) {
        console_->Note("check-only: the image would be refused by this box:");
        for (const auto& line : console_->RecentReasons()) console_->Note("  " + line);
      }
      EndBox(kExitRefused);
      break;
    case RunEvent::kUpgradeSuccess:
      EndBox(kExitOk);
      break;
    case RunEvent::kNormalStart:
      // The box that just ended restarting is no news; one that was being
      // upgraded (or, for a single run, any box before success) has failed.
      if (!box_ended_ && (box_accepted_ || !options_.repeat)) {
        EndBox(kExitNormalStart);
      } else if (options_.repeat) {
        Rearm();
      }
      break;
  }
}

void UpgradeSession::EndBox(int status) {
  double seconds = std::chrono::duration<double>(SteadyClock::now() - box_started_).count();
  boxes_.push_back({status, seconds});
  box_ended_ = true;
  if (!options_.repeat) {
    EndSession(status);
    return;
  }
  console_->FinishProgress();
  console_->Note("box " + std::to_string(boxes_.size()) + ": " + Describe(status) + " in " +
                 Seconds(seconds));
  Rearm();
}

void UpgradeSession::Rearm() {
  // Not inside the engine's own handling of the line: once it has returned.
  PostToLoop(*loop_, [this] {
    box_accepted_ = false;
    box_ended_ = false;
    box_started_ = SteadyClock::now();
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

void UpgradeSession::EndSession(int status) {
  if (!session_status_) session_status_ = status;
  loop_->Quit();
}

int UpgradeSession::FinalStatus() const {
  int status = session_status_.value_or(kExitInternalError);
  if (!options_.repeat || status == kExitInterrupted || boxes_.empty()) return status;
  // A session over several boxes: the first box that failed decides.
  for (const auto& box : boxes_) {
    if (box.status != kExitOk) return box.status;
  }
  return kExitOk;
}

}  // namespace

int RunUpgrade(const UpgradeOptions& options, std::ostream& out, std::ostream& err) {
  UpgradeSession session(options, out, err);
  return session.Run();
}

void AddUpgradeCommand(CommandRegistry& registry) {
  auto options = std::make_shared<UpgradeOptions>();
  CLI::App* sub =
      registry.Add("upgrade", "Upgrade a box on a serial port with an image, as the window does",
                   [options](CommandIo& io) {
                     UpgradeOptions run = *options;
                     run.process_wide = true;
                     return RunUpgrade(run, io.out, io.err);
                   });
  sub->add_option("IMAGE", options->image, "Firmware image file (*.bin)")->required();
  sub->add_option("--port", options->port,
                  "Serial device: a path (/dev/ttyUSB0) or COMn (mapped through the settings "
                  "file's Ports group, else /dev/ttyS<n-1>)")
      ->required();
  sub->add_option("--log", options->log_file, "Write exactly the memo lines, raw, to FILE");
  sub->add_option("--trace", options->trace_file, "Write everything shown as JSON Lines to FILE");
  sub->add_flag("--quiet", options->quiet,
                "No memo lines and no progress on the terminal; messages and errors stay");
  sub->add_option("--timeout", options->timeout_seconds,
                  "Give up after SECONDS (exit 8); no limit by default: the box decides")
      ->check(CLI::NonNegativeNumber);
  sub->add_flag("--repeat", options->repeat,
                "After each box ends, wait for the next; one summary line per box, totals "
                "at the end (Ctrl-C ends: 130; otherwise 0 when every box was upgraded, else "
                "the status of the first box that was not)");
  sub->add_flag("--check-only", options->check_only,
                "Identify the box and run every check, print the verdict, never answer "
                "\"ack\" (0 accepted, 5 refused)");
  sub->footer(
      "Exit status: 0 upgraded, 1 internal error, 2 usage, 3 image not accepted, 4 port not "
      "opened, 5 refused, 6 the box started its own software first, 7 the port went away, "
      "8 timeout, 130 interrupted.");
}

}  // namespace stbup
