#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/trace/trace_writer.h"
#include "cli/port_session.h"
#include "seams/view.h"

namespace stbup {

// One line of the station's table: where a port stands now.
struct StationRow {
  std::string port;
  std::string loader;  // "5518 L 217", once the box has announced itself
  std::string model;   // from the box's identification
  std::string phase;
  long long block = 0;  // blocks sent of blocks
  long long blocks = 0;
  int percent = -1;  // of the bar now moving; -1: none
  double rate = 0;   // bytes a second of the download; 0: not known yet
  double elapsed = 0;
  std::string verdict;  // of the last box that ended
  int upgraded = 0;
  int failed = 0;
};

// Where a port's memo log and trace go: the port's name as a file name, one
// name to one file ("/dev/serial/by-id/usb-X" -> "dev_serial_by-id_usb-X",
// "/dev/serial/by-id/usb-A_B" -> "dev_serial_by-id_usb-A%5FB", "COM3" ->
// "COM3").
std::string StationFileName(std::string_view port);

// One port of a station: what the window would show for it, kept as a row of
// the table and written to the port's memo log and trace, and the port's run
// of boxes. A port that vanishes and comes back runs again on the same row;
// its log and trace go on where they were.
class StationPort : public View {
 public:
  using Clock = std::chrono::steady_clock;

  struct Files {
    std::string log;    // empty: none
    std::string trace;  // empty: none
  };
  struct Listener {
    // A line worth an operator's attention (box identified, verdict, port gone).
    std::function<void(StationPort&, std::string_view)> event;
    std::function<void(StationPort&)> accepted;
    std::function<void(StationPort&, const BoxEnded&)> box_ended;
    // The session has stopped serving the port (status as PortSessionListener).
    std::function<void(StationPort&, int status)> ended;
  };

  // Opens the files; throws EFileError when one cannot be created.
  StationPort(std::string port, Files files, Listener listener);
  ~StationPort() override;

  // Opens the port and starts waiting for boxes; false when it could not be
  // opened (the reason has been told as an event).
  bool Serve(EventLoop& loop, const PortSession::Options& options);
  // Stops serving: a box in progress ends with status (when given), the port
  // is closed. phase is what the row says afterwards.
  void Release(std::optional<int> status, std::string_view phase);
  void TakeNoMoreBoxes();

  bool Serving() const { return session_ != nullptr; }
  bool BoxInProgress() const { return session_ != nullptr && session_->BoxInProgress(); }
  const std::string& Port() const { return row_.port; }
  StationRow Row(Clock::time_point now) const;
  // Every box that ended on this port, in order.
  const std::vector<BoxEnded>& Boxes() const { return boxes_; }
  const std::vector<std::string>& Verdicts() const { return verdicts_; }
  // The port's log and trace files that could not be written whole.
  std::vector<std::string> IncompleteFiles() const;

  // View
  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override {}
  void SetMemoColour(Colour) override {}
  std::string Label3Caption() const override { return label3_; }
  void SetLabel3(std::string_view caption, Colour) override { label3_ = caption; }
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour>,
               std::optional<Colour>) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view) override {}
  void ShowConnect(bool, std::string_view) override {}
  void EnableSetupControls(bool) override {}
  void SetEdit(Edit edit, std::string_view text) override { edits_[edit] = text; }
  std::string EditText(Edit edit) const override;
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override {}

 private:
  void Event(std::string_view text);
  // The row follows the box's typed events, whatever its memo lines say.
  void OnBoxEvent(const BoxEvent& event);
  void OnDownloading(const BoxDownloading& progress);
  void OnBoxEnded(const BoxEnded& box);
  // Between boxes the row shows no progress.
  void ClearProgress();
  // The session is done with: closed now, destroyed once the loop is out of
  // its handlers (at the next Serve or with the port).
  void RetireSession();

  std::string port_;
  Listener listener_;
  Files files_;
  bool log_failed_ = false;
  bool trace_failed_ = false;
  std::ofstream log_;
  std::ofstream trace_file_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<TeeView> tee_;
  EventLoop* loop_ = nullptr;
  std::unique_ptr<PortSession> session_;
  std::vector<std::unique_ptr<PortSession>> retired_;

  bool check_only_ = false;
  StationRow row_;
  std::string label3_ = "???";
  std::map<Edit, std::string> edits_;
  std::optional<Clock::time_point> box_started_;
  std::optional<Clock::time_point> box_ended_at_;
  std::optional<Clock::time_point> download_started_;
  long long download_start_bytes_ = 0;
  std::vector<BoxEnded> boxes_;
  std::vector<std::string> verdicts_;
};

}  // namespace stbup
