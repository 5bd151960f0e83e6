#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "seams/view.h"

namespace stbup {

// The View the window logic and the engine show through, over the front
// end's. A modal box waits for the operator, and while it waits the box at the
// other end of the line must not wait for replies already written: before
// every modal box (a message or an error report) the port is told to send
// what it holds. It also remembers whether a run holds the setup controls.
class WindowView : public View {
 public:
  WindowView(View& view, std::function<void()> before_modal)
      : view_(view), before_modal_(std::move(before_modal)) {}

  void AddMemoLine(std::string_view line) override { view_.AddMemoLine(line); }
  void ClearMemo() override { view_.ClearMemo(); }
  void SetMemoColour(Colour colour) override { view_.SetMemoColour(colour); }
  std::string Label3Caption() const override { return view_.Label3Caption(); }
  void SetLabel3(std::string_view caption, Colour colour) override {
    view_.SetLabel3(caption, colour);
  }
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
               std::optional<Colour> background) override {
    view_.SetLogo(caption, text, background);
  }
  void SetProgress(ProgressBar bar, int percent) override { view_.SetProgress(bar, percent); }
  void SetFileSize(std::string_view text) override { view_.SetFileSize(text); }
  void ShowConnect(bool visible, std::string_view caption) override {
    view_.ShowConnect(visible, caption);
  }
  void EnableSetupControls(bool enabled) override {
    setup_enabled_ = enabled;
    view_.EnableSetupControls(enabled);
  }
  // False from the box's ACK until the run ends.
  bool SetupEnabled() const { return setup_enabled_; }
  void SetEdit(Edit edit, std::string_view text) override { view_.SetEdit(edit, text); }
  std::string EditText(Edit edit) const override { return view_.EditText(edit); }
  void ShowMessage(std::string_view text) override {
    before_modal_();
    view_.ShowMessage(text);
  }
  void ReportError(std::string_view text) override {
    before_modal_();
    view_.ReportError(text);
  }
  void Beep() override { view_.Beep(); }
  void Timer1Changed(int interval) override { view_.Timer1Changed(interval); }
  void PortChanged(bool open, std::string_view device) override { view_.PortChanged(open, device); }

 private:
  View& view_;
  std::function<void()> before_modal_;
  bool setup_enabled_ = true;
};

}  // namespace stbup
