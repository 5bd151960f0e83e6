#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

#include "seams/view.h"

namespace stbup {

// A View that writes everything shown as JSON Lines, one record per change, in
// order: {"t":12.5,"memo":"[ Upgrade mode. ]"} and the other shapes of the
// trace file. Texts are byte strings: bytes 0x80-0xFF come out as
// \u0080-\u00ff. It keeps the banner and the edits, so each logo record
// carries caption, fg and bg, and each image record all six edits.
class TraceWriter : public View {
 public:
  // Milliseconds since start.
  using Clock = std::function<double()>;

  explicit TraceWriter(std::ostream& out, Clock clock = {});

  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override;
  void SetMemoColour(Colour colour) override;
  std::string Label3Caption() const override { return label3_; }
  void SetLabel3(std::string_view caption, Colour colour) override;
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
               std::optional<Colour> background) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view text) override;
  void ShowConnect(bool visible, std::string_view caption) override;
  void EnableSetupControls(bool enabled) override;
  void SetEdit(Edit edit, std::string_view text) override;
  std::string EditText(Edit edit) const override;
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override;
  void Timer1Changed(int interval) override;
  void PortChanged(bool open, std::string_view device) override;

  // How the run ended, as the command line's exit status and its meaning:
  // {"t":T,"exit":{"status":9,"meaning":"the box reported success after a failure"}}
  void RunEnded(int status, std::string_view meaning);

  // Called once, with the system's reason, when a record could not be
  // written whole (a full disk, /dev/full); the trace is incomplete from then on.
  void SetWriteFailureHandler(std::function<void(std::string_view reason)> handler) {
    on_write_failure_ = std::move(handler);
  }
  bool WriteFailed() const { return write_failed_; }

  // A JSON string literal of a byte string, quotes included.
  static std::string Quote(std::string_view bytes);

 private:
  // Writes {"t":T,<body>} and a line end.
  void Record(std::string_view body);

  std::ostream& out_;
  Clock clock_;
  std::string label3_ = "???";
  std::string logo_ = "Simple and Speedy";
  Colour logo_text_ = colours::kButtonHighlight;
  Colour logo_background_ = colours::kGrey;
  std::map<Edit, std::string> edits_;
  std::function<void(std::string_view)> on_write_failure_;
  bool write_failed_ = false;
};

// Forwards everything to the front end's own view and to a trace; what is
// read back (Label3, the edits) comes from the front end, where the operator
// may have typed.
class TeeView : public View {
 public:
  TeeView(View& primary, View& trace) : primary_(primary), trace_(trace) {}

  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override;
  void SetMemoColour(Colour colour) override;
  std::string Label3Caption() const override { return primary_.Label3Caption(); }
  void SetLabel3(std::string_view caption, Colour colour) override;
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
               std::optional<Colour> background) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view text) override;
  void ShowConnect(bool visible, std::string_view caption) override;
  void EnableSetupControls(bool enabled) override;
  void SetEdit(Edit edit, std::string_view text) override;
  std::string EditText(Edit edit) const override { return primary_.EditText(edit); }
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override;
  void Timer1Changed(int interval) override;
  void PortChanged(bool open, std::string_view device) override;

 private:
  View& primary_;
  View& trace_;
};

}  // namespace stbup
