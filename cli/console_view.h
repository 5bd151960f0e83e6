#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/closed_output.h"
#include "seams/view.h"

namespace stbup {

// The command line's View. Memo lines go to stdout one per line with their
// control bytes escaped, terminal or pipe alike (a pipe often ends in a
// terminal: "| tee run.log"), so a box cannot drive the operator's terminal;
// raw only when asked for. Progress goes to stderr: bars
// with rate and time left on a terminal, else a plain line every 10%. Message
// boxes and errors go to stderr as "stbup: TEXT". The log file, when given,
// receives exactly the memo lines, raw.
class ConsoleView : public View {
 public:
  struct Options {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    std::ostream* log = nullptr;
    bool out_is_terminal = false;
    bool err_is_terminal = false;
    bool quiet = false;    // no memo lines and no progress; messages and errors stay
    bool raw = false;      // memo lines on stdout as raw bytes
    std::string log_name;  // the log file's name, for the one note when it fails
  };
  using Clock = std::chrono::steady_clock;

  explicit ConsoleView(Options options);

  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override {}
  void SetMemoColour(Colour) override {}
  std::string Label3Caption() const override { return label3_; }
  void SetLabel3(std::string_view caption, Colour) override { label3_ = caption; }
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour>,
               std::optional<Colour>) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view text) override;
  void ShowConnect(bool, std::string_view) override {}
  void EnableSetupControls(bool) override {}
  void SetEdit(Edit edit, std::string_view text) override { edits_[edit] = text; }
  std::string EditText(Edit edit) const override;
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override;

  // A line of the command's own ("stbup: TEXT") on stderr, around the bars.
  void Note(std::string_view text);
  // Ends the bar being drawn, so later output starts on a fresh line.
  void FinishProgress();

  const std::string& Logo() const { return logo_; }
  // The log file could not be written whole (said once, on stderr).
  bool LogFailed() const { return log_failed_; }

  // Control bytes, DEL and the upper half as \xNN.
  static std::string EscapeForTerminal(std::string_view bytes);
  // "(1024 / 786432)" -> 1024, 786432.
  static bool ParseFileSize(std::string_view text, long long& done, long long& total);

 private:
  struct Bar {
    explicit Bar(const char* bar_name) : name(bar_name) {}
    const char* name;
    int percent = -1;
    int reported_decile = 0;
    std::optional<Clock::time_point> started;
    long long start_bytes = 0;
  };

  void ClearBarLine();
  void DrawBar();
  Bar& BarOf(ProgressBar bar) { return bar == ProgressBar::kPb1 ? download_ : flash_; }

  Options options_;
  std::string label3_ = "???";
  std::string logo_ = "Simple and Speedy";
  std::map<Edit, std::string> edits_;
  Bar download_{"DownLoad"};
  Bar flash_{"Flash Write"};
  Bar* drawn_ = nullptr;  // the bar on the terminal's last line, if any
  long long bytes_done_ = 0;
  long long bytes_total_ = 0;
  bool log_failed_ = false;
  ClosedOutput closed_;
};

}  // namespace stbup
