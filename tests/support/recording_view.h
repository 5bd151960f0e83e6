#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "seams/view.h"

namespace stbup {

// A View that keeps what a window would show, plus every call in order, so
// tests can assert both the end state and the sequence exactly. Starts as the
// window does after construction.
class RecordingView : public View {
 public:
  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override;
  void SetMemoColour(Colour colour) override;
  std::string Label3Caption() const override;
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

  // Current state.
  std::vector<std::string> memo;  // the lines Memo2 holds now
  Colour memo_colour = colours::kWindowText;
  std::string label3 = "???";
  Colour label3_colour = colours::kBlack;
  std::string logo = "Simple and Speedy";
  Colour logo_text = colours::kButtonHighlight;
  Colour logo_background = colours::kGrey;
  int pb1 = 0;
  int pb2 = 0;
  std::string file_size = "(  /  )";
  bool connect_visible = true;
  std::string connect_caption = "Connected";
  bool setup_enabled = true;
  std::map<Edit, std::string> edits;
  int timer1 = 0;
  bool port_open = false;

  // What happened, in order.
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  int beeps = 0;
  int memo_clears = 0;
  // One entry per call: "memo:TEXT", "memo_clear", "memo_colour:#FF0000",
  // "label3:TEXT|#0000FF", "logo:TEXT|#FFFFFF|#808080" (empty part = kept),
  // "pb1:37", "filesize:TEXT", "connect:1|Connected", "setup:0",
  // "edit:ModelName:TEXT", "message:TEXT", "error:TEXT", "beep", "timer1:100",
  // "port:open|COM1".
  std::vector<std::string> events;
  // Called with each event as it is recorded (a test's look at the moment of
  // a call: its thread, a modal box's loop).
  std::function<void(const std::string&)> on_event;

  // The events of one kind ("memo", "edit", ...), without their prefix.
  std::vector<std::string> EventsOf(std::string_view kind) const;
  void ClearEvents();

  static std::string_view EditName(Edit edit);

 private:
  void Record(std::string event);
};

}  // namespace stbup
