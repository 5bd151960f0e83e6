#pragma once

#include "app/win32/windows_api.h"

#include <string>
#include <string_view>

#include "seams/view.h"

namespace stbup {

class Dialogs;
class TMainFrm;

// The View over TMainFrm's native controls. Byte strings are shown byte for
// byte (text.h); edFileName holds a path, in the file system's own form.
class FormView : public View {
 public:
  // Memo2 keeps the newest lines only, so a box flooding lines cannot grow
  // the window's memory without bound.
  static constexpr int kMemoLineCap = 5000;
  // Lines wait at most this long to be put into Memo2, as the Qt window
  // paints at most every 20 ms.
  static constexpr UINT kMemoFlushMs = 20;

  FormView(TMainFrm& frame, Dialogs& dialogs);

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

  // Puts the lines gathered so far into Memo2 (also done by the window's
  // memo timer, and before any box opens).
  void FlushMemo();
  // What Memo2 holds and is about to, one entry per line.
  int MemoLineCount() const;

 private:
  HWND EditOf(Edit edit) const;

  TMainFrm& frame_;
  Dialogs& dialogs_;
  std::string label3_ = "???";
  int memo_lines_ = 0;
  std::wstring pending_;
  int pending_lines_ = 0;
  bool flush_armed_ = false;
};

}  // namespace stbup
