#include "cli/station_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>
#include <set>

#include "app/core/main_window.h"
#include "cli/closed_output.h"
#include "cli/console_view.h"
#include "cli/ini_ports.h"
#include "cli/records_options.h"
#include "cli/signal_watch.h"
#include "cli/station_port.h"
#include "cli/station_ports.h"
#include "cli/station_table.h"
#include "cli/terminal_output.h"
#include "cli/time_limit.h"
#include "cli/upgrade_command.h"
#include "image/check_code.h"
#include "image/image_loader.h"
#include "loop/event_loop.h"
#include "loop/loop_timer.h"
#include "records/records.h"
#include "seams/null_view.h"

namespace stbup {
namespace {

using Clock = std::chrono::steady_clock;

// The image's own verdict when it is loaded once before any port opens:
// what the window would show, for the operator's stderr.
class LoadReport : public NullView {
 public:
  void AddMemoLine(std::string_view line) override { lines.emplace_back(line); }
  void ShowMessage(std::string_view text) override { lines.emplace_back(text); }
  void ReportError(std::string_view text) override { lines.emplace_back(text); }
  std::vector<std::string> lines;
};

class Station {
 public:
  Station(const StationOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err), closed_(err) {}

  int Run();

 private:
  // A port of the station, given or found by the glob.
  struct Slot {
    std::unique_ptr<StationPort> port;
    std::string device;    // what is looked for to know the port is there
    bool present = false;  // the device was there at the last look
  };

  bool LoadImageOnce();
  bool PrepareDirectory(const std::string& dir);
  Slot& AddSlot(const std::string& name);
  void Serve(Slot& slot);
  void Look();
  void OnEvent(StationPort& port, std::string_view text);
  void OnEnded(StationPort& port, int status);
  void CheckBoxLimit();
  void StopTakingBoxes(std::string_view why);
  void Abort(int status, std::string_view why);
  void CheckDrained();
  void Note(std::string_view text);
  // A line under the live table; the oldest goes.
  void Recent(std::string_view line);
  // A records file that cannot be written is said once; the station goes on.
  void SayRecordsProblem();
  void Redraw(bool final);
  int BoxesTaken() const;
  // What a box that succeeded did.
  std::string SuccessWord() const { return options_.check_only ? "accepted" : "upgraded"; }

  const StationOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_ = false;
  ClosedOutput closed_;

  std::string image_;
  std::string watch_;  // the pattern, anchored: on Linux a glob from the root
  PortSession::Options session_;
  std::map<std::string, std::string, std::less<>> port_map_;
  std::unique_ptr<RecordSink> records_;
  std::unique_ptr<EventLoop> loop_;
  std::vector<Slot> slots_;
  bool taking_boxes_ = true;
  int interrupts_ = 0;
  std::optional<int> aborted_status_;
  std::set<std::string> refused_;    // watched ports whose files cannot be written
  std::vector<std::string> recent_;  // the last events, under the live table
  std::size_t drawn_lines_ = 0;
  bool finished_ = false;  // the table is drawn for the last time
};

bool Station::LoadImageOnce() {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = fs::absolute(options_.image, error);
  image_ = error ? options_.image : path.lexically_normal().string();
  ImageInfo info;
  info.ImageFileName = image_;
  LoadReport report;
  LoaderContext context;
  context.caption = std::string(MainWindow::kCaptionPrefix) + std::string(MainWindow::kVersionText);
  context.image_check_code = BuildImageCheckCode();
  bool accepted = false;
  try {
    accepted = LoadImage(info, report, context);
  } catch (const std::exception& problem) {
    report.lines.emplace_back(problem.what());
  }
  if (accepted) return true;
  for (const auto& line : report.lines) {
    if (!line.empty()) PrintError(err_, ConsoleView::EscapeForTerminal(line));
  }
  return false;
}

bool Station::PrepareDirectory(const std::string& dir) {
  if (dir.empty()) return true;
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir)) {
    PrintError(err_, "cannot use " + dir + " for the port files: " +
                         (error ? error.message() : std::string("not a folder")));
    return false;
  }
  return true;
}

Station::Slot& Station::AddSlot(const std::string& name) {
  for (auto& slot : slots_) {
    if (slot.port->Port() == name) return slot;
  }
  StationPort::Files files;
  std::string file = StationPortFileName(name);
  if (!options_.log_dir.empty()) files.log = options_.log_dir + "/" + file + ".log";
  if (!options_.trace_dir.empty()) files.trace = options_.trace_dir + "/" + file + ".jsonl";
  StationPort::Listener listener;
  listener.event = [this](StationPort& port, std::string_view text) { OnEvent(port, text); };
  listener.accepted = [this](StationPort&) { CheckBoxLimit(); };
  listener.box_ended = [this](StationPort&, const BoxEnded&) {
    SayRecordsProblem();
    CheckBoxLimit();
  };
  listener.ended = [this](StationPort& port, int status) { OnEnded(port, status); };
  Slot slot;
  slot.port = std::make_unique<StationPort>(name, files, listener);
  slot.device = StationPortDevice(name, port_map_);
  slots_.push_back(std::move(slot));
  return slots_.back();
}

void Station::Serve(Slot& slot) {
  session_.port = slot.port->Port();
  slot.port->Serve(*loop_, session_);
}

// Ports that appeared since the last look are served, watched ones that
// vanished are released; a given port that comes back is served again.
void Station::Look() {
  const PortLook ports;
  if (!watch_.empty()) {
    for (const auto& path : ports.Matching(watch_)) {
      bool known = std::any_of(slots_.begin(), slots_.end(),
                               [&](const Slot& slot) { return slot.port->Port() == path; });
      if (known || !taking_boxes_ || refused_.contains(path)) continue;
      try {
        AddSlot(path);
      } catch (const std::exception& problem) {
        // Its log or trace cannot be written: said once, and the port is
        // left alone rather than served without them.
        refused_.insert(path);
        Note(path + " is not served: " + problem.what());
      }
    }
  }
  for (auto& slot : slots_) {
    bool present = ports.Present(slot.device);
    if (present && !slot.present && !slot.port->Serving() && taking_boxes_) Serve(slot);
    if (!present && slot.present && slot.port->Serving()) {
      OnEvent(*slot.port, "gone");
      slot.port->Release(kExitPortGone, "gone");
      CheckDrained();
    }
    slot.present = present;
  }
}

void Station::OnEvent(StationPort& port, std::string_view text) {
  std::string line =
      ConsoleView::EscapeForTerminal(port.Port()) + ": " + ConsoleView::EscapeForTerminal(text);
  if (terminal_) {
    Recent(line);
    return;
  }
  // One whole line at a time; nothing else writes to this stream meanwhile.
  errno = 0;
  out_ << LocalClockTime() << ' ' << line << '\n';
  out_.flush();
  closed_.Check(out_, "standard output");
}

void Station::OnEnded(StationPort& port, int status) {
  // Not inside the port's own handling: once it has returned.
  PostToLoop(*loop_, [this, &port, status] {
    if (!port.Serving()) return;
    if (status == kExitPortGone) {
      OnEvent(port, "gone");
      port.Release(std::nullopt, "gone");
    } else {
      port.Release(std::nullopt, "closed");
    }
    CheckDrained();
  });
}

int Station::BoxesTaken() const {
  int taken = 0;
  for (const auto& slot : slots_) {
    taken += static_cast<int>(slot.port->Boxes().size()) + (slot.port->BoxInProgress() ? 1 : 0);
  }
  return taken;
}

void Station::CheckBoxLimit() {
  if (options_.boxes > 0 && taking_boxes_ && BoxesTaken() >= options_.boxes) {
    StopTakingBoxes(std::to_string(options_.boxes) + (options_.boxes == 1 ? " box" : " boxes") +
                    " taken: no new boxes");
  }
}

void Station::StopTakingBoxes(std::string_view why) {
  if (!taking_boxes_) return;
  taking_boxes_ = false;
  Note(why);
  // Posted: this may run inside a port's own handling of a box.
  PostToLoop(*loop_, [this] {
    for (auto& slot : slots_) slot.port->TakeNoMoreBoxes();
    CheckDrained();
  });
}

void Station::Abort(int status, std::string_view why) {
  taking_boxes_ = false;
  Note(why);
  for (auto& slot : slots_) {
    if (slot.port->Serving()) slot.port->Release(status, "closed");
  }
  loop_->Quit();
}

void Station::CheckDrained() {
  if (taking_boxes_) return;
  bool serving = std::any_of(slots_.begin(), slots_.end(),
                             [](const Slot& slot) { return slot.port->Serving(); });
  if (!serving) loop_->Quit();
}

void Station::Recent(std::string_view line) {
  constexpr std::size_t kRecent = 6;
  recent_.push_back(LocalClockTime() + " " + ConsoleView::EscapeForTerminal(line));
  if (recent_.size() > kRecent) recent_.erase(recent_.begin());
}

void Station::Note(std::string_view text) {
  if (terminal_ && !finished_) {
    Recent(text);
    return;
  }
  PrintError(err_, text);
}

void Station::SayRecordsProblem() {
  if (!records_) return;
  for (const std::string& notice : TakeRecordsNotices(*records_)) Note(notice);
}

void Station::Redraw(bool final) {
  if (!terminal_) return;
  auto now = Clock::now();
  std::vector<StationRow> rows;
  for (const auto& slot : slots_) rows.push_back(slot.port->Row(now));
  std::size_t width = OutputColumns();
  std::vector<std::string> lines = StationTable(rows, width);
  int upgraded = 0;
  int failed = 0;
  for (const auto& row : rows) {
    upgraded += row.upgraded;
    failed += row.failed;
  }
  std::string status = std::to_string(rows.size()) + (rows.size() == 1 ? " port, " : " ports, ") +
                       std::to_string(upgraded) + " " + SuccessWord() + ", " +
                       std::to_string(failed) + " failed";
  if (!final) {
    status += taking_boxes_ ? "   Ctrl-C: take no new boxes"
                            : "   taking no new boxes; Ctrl-C again: abort";
  }
  lines.push_back("");
  lines.push_back(status.substr(0, width));
  for (const auto& event : recent_) lines.push_back(event.substr(0, width));
  errno = 0;
  DrawLiveFrame(out_, drawn_lines_, lines);
  closed_.Check(out_, "standard output");
  drawn_lines_ = lines.size();
}

int Station::Run() {
  if (options_.ports.empty() && options_.watch.empty()) {
    PrintError(err_, "give at least one --port or a --watch pattern");
    return kExitUsage;
  }
  if (!LoadImageOnce()) return kExitImageNotAccepted;
  if (!PrepareDirectory(options_.log_dir) || !PrepareDirectory(options_.trace_dir)) {
    return kExitInternalError;
  }
  terminal_ = options_.out_is_terminal ? *options_.out_is_terminal : PrepareLiveTableOutput();
  // Only a COMn name needs the settings file's map, as for upgrade: a
  // station of device paths never reads it, damaged or not.
  if (StationNeedsPortMap(options_.ports)) {
    try {
      port_map_ =
          ReadPortMap(options_.settings_file.empty() ? SettingsFilePath() : options_.settings_file);
    } catch (const SettingsFileError& error) {
      // Guessing a device could upgrade the wrong box.
      PrintError(err_, error.what());
      return kExitPortNotOpened;
    }
  }
  watch_ = AnchorWatchPattern(options_.watch);
  session_.image = image_;
  session_.repeat = true;
  session_.check_only = options_.check_only;
  session_.settings_file = options_.settings_file;
  if (!options_.records_file.empty()) {
    records_ = OpenRecordSink(options_.records_file, options_.records_target.server);
  }
  session_.records = records_.get();
  session_.station_name = options_.records_target.station_name;
  session_.operator_name = options_.records_target.Operator();
  session_.work_order = options_.records_target.WorkOrder();
  session_.front_end = "station";
  session_.watch_replies = false;

  std::optional<SignalWatch> signals;
  if (options_.process_wide) signals.emplace();
  loop_ = std::make_unique<EventLoop>();

  try {
    for (const auto& port : options_.ports) {
      Slot& slot = AddSlot(port);
      slot.present = true;
      Serve(slot);
    }
    Look();
  } catch (const std::exception& problem) {
    PrintError(err_, problem.what());
    slots_.clear();
    return kExitInternalError;
  }

  int look = loop_->AddTimer(options_.watch_interval_ms, [this] {
    try {
      Look();
    } catch (const std::exception& problem) {
      Note(problem.what());
    }
  });
  int redraw = loop_->AddTimer(options_.redraw_interval_ms, [this] { Redraw(false); });
  auto limit = std::make_unique<TimeLimit>(*loop_, options_.timeout_seconds, [this] {
    char text[64];
    std::snprintf(text, sizeof text, "time limit of %.1f s reached", options_.timeout_seconds);
    Abort(kExitTimeout, text);
  });
  int signal_watch = 0;
  if (signals && signals->Fd() >= 0) {
    signal_watch = loop_->WatchReadable(signals->Fd(), [this, &signals] {
      if (!signals->Raised()) return;
      // The terminal gone or an end asked for: nobody is left to wait for
      // the boxes, which are recorded as interrupted.
      if (signals->Urgent()) {
        aborted_status_ = kExitInterrupted;
        Abort(kExitInterrupted, "hang-up or termination: aborting");
        return;
      }
      if (++interrupts_ == 1) {
        StopTakingBoxes(
            "interrupted: no new boxes; boxes being upgraded finish (Ctrl-C again "
            "aborts them)");
      } else {
        aborted_status_ = kExitInterrupted;
        Abort(kExitInterrupted, "interrupted again: aborting");
      }
    });
  }
  Redraw(false);
  loop_->Run();
  if (signal_watch != 0) loop_->StopWatching(signal_watch);
  loop_->CancelTimer(look);
  loop_->CancelTimer(redraw);
  limit.reset();
  for (auto& slot : slots_) {
    if (slot.port->Serving()) slot.port->Release(kExitInterrupted, "closed");
  }
  Redraw(true);
  finished_ = true;
  if (records_) {
    records_->Flush();
    SayRecordsProblem();
  }

  std::vector<StationPortSummary> summary;
  bool all_succeeded = true;
  for (const auto& slot : slots_) {
    StationPortSummary port;
    port.port = slot.port->Port();
    const auto& boxes = slot.port->Boxes();
    const auto& verdicts = slot.port->Verdicts();
    for (std::size_t i = 0; i < boxes.size() && i < verdicts.size(); ++i) {
      port.boxes.push_back({boxes[i].status == kExitOk, verdicts[i]});
      all_succeeded = all_succeeded && boxes[i].status == kExitOk;
    }
    summary.push_back(std::move(port));
  }
  std::string incomplete;
  for (const auto& slot : slots_) {
    for (const std::string& file : slot.port->IncompleteFiles()) {
      incomplete += (incomplete.empty() ? "" : ", ") + file;
    }
  }
  errno = 0;
  out_ << '\n';
  for (const auto& line : StationSummary(summary, SuccessWord())) out_ << line << '\n';
  if (!incomplete.empty()) {
    out_ << "incomplete (could not be written whole): " << incomplete << '\n';
  }
  out_.flush();
  closed_.Check(out_, "standard output");
  slots_.clear();
  if (aborted_status_) return *aborted_status_;
  if (!all_succeeded) return kExitSomeBoxNotUpgraded;
  // Every box upgraded, but what the station was to keep of them is not whole.
  return incomplete.empty() ? kExitOk : kExitRecordIncomplete;
}

}  // namespace

int RunStation(const StationOptions& options, std::ostream& out, std::ostream& err) {
  Station station(options, out, err);
  return station.Run();
}

void AddStationCommand(CommandRegistry& registry) {
  auto options = std::make_shared<StationOptions>();
  auto no_records = std::make_shared<bool>(false);
  CLI::App* sub = registry.Add(
      "station", "Upgrade boxes on many ports at once, each port as \"upgrade --repeat\" does",
      [options, no_records](CommandIo& io) {
        StationOptions run = *options;
        run.process_wide = true;
        if (*no_records) {
          run.records_file.clear();
          run.records_target.server.clear();
        } else if (run.records_file.empty()) {
          run.records_file = DefaultRecordsPath();
          if (run.records_file.empty()) SayNoRecordsLocation(io.err);
        }
        return RunStation(run, io.out, io.err);
      });
  sub->add_option("IMAGE", options->image, "Firmware image file (*.bin)")->required();
  sub->add_option("--port", options->ports,
                  "Serial device to serve: a path or COMn; repeat for each port");
  sub->add_option("--watch", options->watch, WatchPatternHelp());
  sub->add_option("--boxes", options->boxes,
                  "End after N boxes in all (boxes being upgraded when the count is reached "
                  "finish)")
      ->check(CLI::PositiveNumber);
  sub->add_option("--log-dir", options->log_dir,
                  "Write each port's memo lines, raw, to DIR/<port>.log");
  sub->add_option("--trace-dir", options->trace_dir,
                  "Write each port's trace as JSON Lines to DIR/<port>.jsonl");
  sub->add_flag("--check-only", options->check_only,
                "Identify each box and run every check, never answer \"ack\"");
  AddTimeoutOption(sub, options->timeout_seconds,
                   "End after SECONDS; boxes still being upgraded count as not upgraded");
  auto* records = sub->add_option(
      "--records", options->records_file,
      std::string("Append each box's record to FILE (default: $STBUP_RECORDS, else ") +
          DefaultRecordsPlace() + ")");
  sub->add_flag("--no-records", *no_records, "Keep no record of the boxes")->excludes(records);
  AddRecordsTargetOptions(*sub, options->records_target);
  sub->footer(
      "On a terminal a live table, one row per port; otherwise one line per event. Ctrl-C "
      "once: no new boxes, boxes being upgraded finish; twice: abort and close every port. " +
      std::string(EndAtOnceWords()) +
      " abort at once, as a second Ctrl-C (boxes cut short are recorded as "
      "interrupted; 130). A closed standard output or error (a pipe into head) never ends "
      "the station: it is said once on stderr where that is still open, and the boxes go "
      "on.\n"
      "Exit status: 0 every box that ended was upgraded, 2 usage, 3 image not accepted, 4 the "
      "settings file mapping a COMn name cannot be read, 10 at least one box ended otherwise "
      "(the summary says which and why), 11 every box upgraded but a port's log or trace could "
      "not be written whole (said once per file; the summary names them), 130 aborted by a "
      "second Ctrl-C.");
}

}  // namespace stbup
