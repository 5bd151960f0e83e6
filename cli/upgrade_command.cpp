#include "cli/upgrade_command.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>

#include "app/core/box_ending.h"
#include "app/trace/trace_writer.h"
#include "cli/console_view.h"
#include "cli/ini_ports.h"
#include "cli/platform.h"
#include "cli/port_session.h"
#include "cli/records_options.h"
#include "cli/signal_watch.h"
#include "cli/time_limit.h"
#include "loop/event_loop.h"
#include "records/records.h"
#include "seams/errors.h"

namespace stbup {
namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

class UpgradeSession {
 public:
  UpgradeSession(const UpgradeOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  int Run();

 private:
  void EndSession(int status);
  int FinalStatus() const;
  // A records file that cannot be written is said once, the run goes on.
  void SayRecordsProblem();
  // Which of --log and --trace could not be written whole, or empty.
  std::string IncompleteRecord() const;

  const UpgradeOptions& options_;
  std::ostream& out_;
  std::ostream& err_;

  std::ofstream log_;
  std::ofstream trace_file_;
  std::unique_ptr<ConsoleView> console_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<TeeView> tee_;
  View* view_ = nullptr;

  std::unique_ptr<RecordSink> records_;
  std::unique_ptr<EventLoop> loop_;
  std::unique_ptr<PortSession> port_;
  std::optional<int> session_status_;
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
  console.raw = options_.raw;
  console.log_name = options_.log_file;
  console_ = std::make_unique<ConsoleView>(console);
  view_ = console_.get();
  if (trace_file_.is_open()) {
    trace_ = std::make_unique<TraceWriter>(trace_file_);
    trace_->SetWriteFailureHandler([this](std::string_view reason) {
      console_->Note("cannot write the trace " + options_.trace_file + ": " + std::string(reason) +
                     "; the trace is incomplete from here on");
    });
    tee_ = std::make_unique<TeeView>(*console_, *trace_);
    view_ = tee_.get();
  }

  std::optional<SignalWatch> signals;
  if (options_.process_wide) signals.emplace();

  loop_ = std::make_unique<EventLoop>();
  PortSession::Options session;
  session.image = options_.image;
  session.port = options_.port;
  session.memory_line = options_.memory_line;
  session.repeat = options_.repeat;
  session.check_only = options_.check_only;
  session.settings_file = options_.settings_file;
  if (!options_.records_file.empty()) {
    records_ = OpenRecordSink(options_.records_file, options_.records_target.server);
    if (!records_) console_->Note("records: this build keeps no records");
  }
  session.records = records_.get();
  // An upgrade whose --log or --trace is not whole ends 11, and says so in
  // its record too.
  session.recorded_status = [this](int status) {
    return status == kExitOk && !IncompleteRecord().empty() ? kExitRecordIncomplete : status;
  };
  session.station_name = options_.records_target.station_name;
  session.operator_name = options_.records_target.Operator();
  session.work_order = options_.records_target.WorkOrder();
  PortSessionListener listener;
  listener.note = [this](std::string_view text) { console_->Note(text); };
  listener.event = [this](const BoxEvent& event) {
    if (const auto* box = std::get_if<BoxEnded>(&event); box != nullptr && box->counted) {
      SayRecordsProblem();
      if (!options_.repeat) return;
      console_->FinishProgress();
      console_->Note("box " + std::to_string(port_->Boxes().size()) + ": " +
                     DescribeBoxStatus(box->status) + " in " + Seconds(box->seconds));
    } else if (const auto* over = std::get_if<SessionOver>(&event)) {
      if (over->status == kExitPortGone) console_->Note(options_.port + " has gone away");
      EndSession(over->status);
    }
  };
  try {
    port_ = std::make_unique<PortSession>(*loop_, *view_, session, listener);
  } catch (const SettingsFileError& error) {
    // The COMn name cannot be mapped: guessing a device could upgrade the wrong box.
    console_->Note(error.what());
    return kExitPortNotOpened;
  }

  switch (port_->Begin()) {
    case PortSession::Start::kRunning:
      break;
    case PortSession::Start::kImageNotAccepted:
      console_->FinishProgress();
      return kExitImageNotAccepted;
    case PortSession::Start::kPortNotOpened:
      console_->FinishProgress();
      for (const auto& line : port_->OpenFailure()) console_->Note(line);
      return kExitPortNotOpened;
  }

  TimeLimit limit(*loop_, options_.timeout_seconds, [this] {
    console_->Note("no result within " + Seconds(options_.timeout_seconds));
    EndSession(kExitTimeout);
  });
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
  // A box cut short by the time limit or a signal has ended too.
  if (session_status_ == kExitTimeout || session_status_ == kExitInterrupted) {
    port_->Abort(*session_status_);
  } else {
    port_->Close();
  }
  if (records_) {
    records_->Flush();
    SayRecordsProblem();
  }
  const std::string incomplete = IncompleteRecord();
  if (options_.repeat) {
    const auto& boxes = port_->Boxes();
    std::size_t upgraded = 0;
    std::size_t after_failure = 0;
    for (const auto& box : boxes) {
      upgraded += box.status == kExitOk ? 1 : 0;
      after_failure += box.status == kExitSuccessAfterFailure ? 1 : 0;
    }
    std::string summary = std::to_string(boxes.size()) +
                          (boxes.size() == 1 ? " box, " : " boxes, ") + std::to_string(upgraded) +
                          " upgraded, " + std::to_string(boxes.size() - upgraded) + " not";
    if (after_failure > 0) {
      summary +=
          " (" + std::to_string(after_failure) + " reported success after a failure: status 9)";
    }
    if (!incomplete.empty()) summary += "; " + incomplete;
    console_->Note(summary);
  } else if (!incomplete.empty()) {
    console_->Note(incomplete);
  }
  int status = FinalStatus();
  // An upgrade whose record was lost says so in its status; a failure's own
  // status says more and stays.
  status = RunExitStatus(status, incomplete.empty());
  if (trace_) trace_->RunEnded(status, DescribeExitStatus(status));
  return status;
}

std::string UpgradeSession::IncompleteRecord() const {
  std::string files;
  if (console_->LogFailed()) files = "the log " + options_.log_file;
  if (trace_ && trace_->WriteFailed()) {
    files += (files.empty() ? "the trace " : " and the trace ") + options_.trace_file;
  }
  return files.empty() ? std::string()
                       : "the record is incomplete: " + files +
                             " could not be written whole (status 11 if upgraded)";
}

void UpgradeSession::SayRecordsProblem() {
  if (!records_) return;
  for (const std::string& notice : TakeRecordsNotices(*records_)) console_->Note(notice);
}

void UpgradeSession::EndSession(int status) {
  if (!session_status_) session_status_ = status;
  loop_->Quit();
}

int UpgradeSession::FinalStatus() const {
  int status = session_status_.value_or(kExitInternalError);
  const auto& boxes = port_->Boxes();
  if (!options_.repeat || status == kExitInterrupted || boxes.empty()) return status;
  // A session over several boxes: the first box that failed decides.
  for (const auto& box : boxes) {
    if (box.status != kExitOk) return box.status;
  }
  return kExitOk;
}

}  // namespace

void SayNoRecordsLocation(std::ostream& err) {
  PrintError(err, "records: no place for the records of boxes " + NoRecordsPlaceReason());
}

int RunUpgrade(const UpgradeOptions& options, std::ostream& out, std::ostream& err) {
  UpgradeSession session(options, out, err);
  return session.Run();
}

void AddUpgradeCommand(CommandRegistry& registry) {
  auto options = std::make_shared<UpgradeOptions>();
  auto no_records = std::make_shared<bool>(false);
  CLI::App* sub =
      registry.Add("upgrade", "Upgrade a box on a serial port with an image, as the window does",
                   [options, no_records](CommandIo& io) {
                     UpgradeOptions run = *options;
                     run.process_wide = true;
                     if (*no_records) {
                       run.records_file.clear();
                       run.records_target.server.clear();
                     } else if (run.records_file.empty()) {
                       run.records_file = DefaultRecordsPath();
                       if (run.records_file.empty()) SayNoRecordsLocation(io.err);
                     }
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
  AddTimeoutOption(sub, options->timeout_seconds,
                   "Give up after SECONDS (exit 8); no limit by default: the box decides");
  sub->add_flag("--repeat", options->repeat,
                "After each box ends, wait for the next; one summary line per box, totals "
                "at the end (Ctrl-C ends: 130; otherwise 0 when every box was upgraded, else "
                "the status of the first box that was not)");
  sub->add_flag("--raw", options->raw,
                "Memo lines on stdout as the box's raw bytes (by default control bytes are "
                "escaped as \\xNN, terminal or pipe; --log always holds raw bytes)");
  sub->add_flag("--check-only", options->check_only,
                "Identify the box and run every check, print the verdict, never answer "
                "\"ack\" (0 accepted, 5 refused)");
  auto* records = sub->add_option(
      "--records", options->records_file,
      std::string("Append each box's record to FILE (default: $STBUP_RECORDS, else ") +
          DefaultRecordsPlace() + ")");
  sub->add_flag("--no-records", *no_records, "Keep no record of the boxes")->excludes(records);
  AddRecordsTargetOptions(*sub, options->records_target);
  sub->footer(
      "Exit status: 0 upgraded (whole download, total checksum and flash check all passed), "
      "1 internal error, 2 usage, 3 image not accepted, 4 port not opened (or the settings "
      "file mapping a COMn name cannot be read), 5 refused, 6 the box started its own "
      "software first, 7 the port went away, 8 timeout, 9 the box reported success after a "
      "failure (flash-write error, bad flash CRC, or no whole download), 11 upgraded but the "
      "--log or --trace record is incomplete (a write failed), 130 interrupted (SIGINT, "
      "SIGTERM or SIGHUP; the box is recorded as interrupted). A closed standard output or "
      "error (a pipe into head) never ends the upgrade: it is said once on stderr where that "
      "is still open, the box goes on and is recorded, and the status is the box's.");
}

}  // namespace stbup
