#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "seams/colour.h"

namespace stbup {

enum class ProgressBar { kPb1, kPb2 };

// The identification edits of the window; edModelName and edType are read back
// by the block sender, so what the operator types there takes effect.
enum class Edit { kFileName, kModelName, kHV, kSV, kType, kStartBlock };

// Everything the engine and the window logic show. The Qt window, the console
// and the trace writer implement it; TeeView lets a trace follow any of them.
// Texts are byte strings: a box may send any byte and it is shown as it came.
class View {
 public:
  virtual ~View() = default;

  // Memo2: every step of an exchange adds exactly one line.
  virtual void AddMemoLine(std::string_view line) = 0;
  // Empties Memo2; a background-picture image starts the log afresh.
  virtual void ClearMemo() = 0;
  virtual void SetMemoColour(Colour colour) = 0;

  // Label3: the growing one-line description of the connected box.
  virtual std::string Label3Caption() const = 0;
  virtual void SetLabel3(std::string_view caption, Colour colour) = 0;

  // lblLogoName, the status banner. Parts left empty keep their current value.
  virtual void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                       std::optional<Colour> background) = 0;

  virtual void SetProgress(ProgressBar bar, int percent) = 0;
  virtual void SetFileSize(std::string_view text) = 0;  // labelFileSize

  virtual void ShowConnect(bool visible, std::string_view caption) = 0;  // bbConnect
  virtual void EnableSetupControls(bool enabled) = 0;  // cbPort, bbFileOpen, bbExit

  virtual void SetEdit(Edit edit, std::string_view text) = 0;
  virtual std::string EditText(Edit edit) const = 0;

  // A modal box with one OK button; returns when the operator has closed it.
  virtual void ShowMessage(std::string_view text) = 0;
  // The framework's error box for an error that escaped a handler.
  virtual void ReportError(std::string_view text) = 0;
  virtual void Beep() = 0;

  // Not controls, but what a trace records of the connection: Timer1's
  // interval (0 stopped, 100 running) and the port opening and closing.
  virtual void Timer1Changed(int /*interval*/) {}
  virtual void PortChanged(bool /*open*/, std::string_view /*device*/) {}
};

}  // namespace stbup
