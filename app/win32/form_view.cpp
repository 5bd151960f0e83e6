#include "app/win32/form_view.h"

#include <commctrl.h>

#include <algorithm>

#include "app/win32/dialogs.h"
#include "app/win32/main_frm.h"
#include "app/win32/text.h"

namespace stbup {

namespace {

std::wstring WindowText(HWND control) {
  const int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

}  // namespace

FormView::FormView(TMainFrm& frame, Dialogs& dialogs) : frame_(frame), dialogs_(dialogs) {
  frame_.OnMemoTimer = [this] { FlushMemo(); };
}

void FormView::AddMemoLine(std::string_view line) {
  // Lines are gathered and put into the edit together: an edit takes a few
  // milliseconds per change, whatever its size, and a box sends lines in bursts.
  if (memo_lines_ + pending_lines_ > 0) pending_ += L"\r\n";
  // One line per call; a line break of the box's own is no line of the memo.
  pending_ += WideFromBytes(line);
  ++pending_lines_;
  if (pending_lines_ >= kMemoLineCap) {
    FlushMemo();
  } else if (!flush_armed_) {
    flush_armed_ = ::SetTimer(frame_.Handle(), TMainFrm::kMemoTimerId, kMemoFlushMs, nullptr) != 0;
    if (!flush_armed_) FlushMemo();
  }
}

void FormView::FlushMemo() {
  if (flush_armed_) ::KillTimer(frame_.Handle(), TMainFrm::kMemoTimerId);
  flush_armed_ = false;
  if (pending_lines_ == 0) return;
  HWND memo = frame_.Memo2;
  // The edit would repaint itself at every step below; it is painted once,
  // with the rest of the window, instead.
  ::SendMessageW(memo, WM_SETREDRAW, FALSE, 0);
  if (memo_lines_ + pending_lines_ > kMemoLineCap) {
    // Drop the oldest lines, down to nine tenths of the cap, so a flood
    // costs one removal per many lines rather than one per line.
    const int drop = std::min(memo_lines_, memo_lines_ + pending_lines_ - kMemoLineCap * 9 / 10);
    if (drop >= memo_lines_) {
      ::SetWindowTextW(memo, L"");
      memo_lines_ = 0;
      pending_.erase(0, 2);  // the line break before the first pending line
    } else if (drop > 0) {
      const LRESULT end = ::SendMessageW(memo, EM_LINEINDEX, static_cast<WPARAM>(drop), 0);
      ::SendMessageW(memo, EM_SETSEL, 0, end);
      ::SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
      memo_lines_ -= drop;
    }
  }
  const LRESULT length = ::GetWindowTextLengthW(memo);
  ::SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(length), length);
  ::SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pending_.c_str()));
  memo_lines_ += pending_lines_;
  pending_.clear();
  pending_lines_ = 0;
  // The newest line in view from its start, as the log is read.
  const LRESULT last = ::SendMessageW(memo, EM_LINEINDEX, static_cast<WPARAM>(memo_lines_ - 1), 0);
  ::SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(last), last);
  ::SendMessageW(memo, EM_SCROLLCARET, 0, 0);
  ::SendMessageW(memo, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(memo, nullptr, FALSE);
}

void FormView::ClearMemo() {
  pending_.clear();
  pending_lines_ = 0;
  ::SetWindowTextW(frame_.Memo2, L"");
  memo_lines_ = 0;
}

int FormView::MemoLineCount() const { return memo_lines_ + pending_lines_; }

void FormView::SetMemoColour(Colour colour) {
  frame_.SetColours(frame_.Memo2, colour, frame_.BackgroundColour(frame_.Memo2));
}

void FormView::SetLabel3(std::string_view caption, Colour colour) {
  label3_ = std::string(caption);
  frame_.SetColours(frame_.Label3, colour, frame_.BackgroundColour(frame_.Label3));
  frame_.SetLabelCaption(frame_.Label3, WideFromBytes(caption));
}

void FormView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                       std::optional<Colour> background) {
  HWND logo = frame_.lblLogoName;
  if (caption) ::SetWindowTextW(logo, WideFromBytes(*caption).c_str());
  frame_.SetColours(logo, text.value_or(frame_.TextColour(logo)),
                    background.value_or(frame_.BackgroundColour(logo)));
  // Hidden only in the design: the first banner the window sets shows it.
  ::ShowWindow(logo, SW_SHOWNA);
}

void FormView::SetProgress(ProgressBar bar, int percent) {
  HWND target = bar == ProgressBar::kPb1 ? frame_.pb1 : frame_.pb2;
  ::SendMessageW(target, PBM_SETPOS, static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
}

void FormView::SetFileSize(std::string_view text) {
  frame_.SetLabelCaption(frame_.labelFileSize, WideFromBytes(text));
}

void FormView::ShowConnect(bool visible, std::string_view caption) {
  ::SetWindowTextW(frame_.bbConnect, WideFromBytes(caption).c_str());
  if (!visible && ::GetFocus() == frame_.bbConnect) ::SetFocus(frame_.Handle());
  ::ShowWindow(frame_.bbConnect, visible ? SW_SHOWNA : SW_HIDE);
}

void FormView::EnableSetupControls(bool enabled) {
  frame_.EnableControl(frame_.cbPort, enabled);
  frame_.EnableControl(frame_.bbFileOpen, enabled);
  frame_.EnableControl(frame_.bbExit, enabled);
}

HWND FormView::EditOf(Edit edit) const {
  switch (edit) {
    case Edit::kFileName:
      return frame_.edFileName;
    case Edit::kModelName:
      return frame_.edModelName;
    case Edit::kHV:
      return frame_.edHV;
    case Edit::kSV:
      return frame_.edSV;
    case Edit::kType:
      return frame_.edType;
    case Edit::kStartBlock:
      return frame_.edStartBlock;
  }
  return frame_.edFileName;
}

void FormView::SetEdit(Edit edit, std::string_view text) {
  HWND target = EditOf(edit);
  const std::wstring shown = edit == Edit::kFileName ? WideFromPath(text) : WideFromBytes(text);
  ::SetWindowTextW(target, shown.c_str());
  // The start of a long path in view, as after typing Home.
  ::SendMessageW(target, EM_SETSEL, 0, 0);
}

std::string FormView::EditText(Edit edit) const {
  const std::wstring text = WindowText(EditOf(edit));
  return edit == Edit::kFileName ? PathFromWide(text) : BytesFromWide(text);
}

void FormView::ShowMessage(std::string_view text) {
  // The log as it stands when the box opens.
  FlushMemo();
  dialogs_.Message(frame_.Handle(), WideFromBytes(text));
}

void FormView::ReportError(std::string_view text) {
  FlushMemo();
  dialogs_.Error(frame_.Handle(), WideFromBytes(ErrorBoxText(text)));
}

void FormView::Beep() { ::MessageBeep(MB_OK); }

}  // namespace stbup
