#include "app/win32/form_view.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win32/dialogs.h"
#include "app/win32/main_frm.h"
#include "app/win32/text.h"

namespace stbup {
namespace {

// Boxes that return at once and remember what they showed.
class RecordingDialogs : public Dialogs {
 public:
  void Message(HWND, const std::wstring& text) override { messages.push_back(BytesFromWide(text)); }
  void Error(HWND, const std::wstring& text) override { errors.push_back(BytesFromWide(text)); }
  std::optional<std::wstring> OpenFile(HWND, const std::wstring&, const std::wstring&,
                                       const std::wstring&) override {
    return std::nullopt;
  }

  std::vector<std::string> messages;
  std::vector<std::string> errors;
};

std::string TextOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return BytesFromWide(text);
}

std::string MemoLine(HWND memo, int line) {
  wchar_t text[512] = {};
  *reinterpret_cast<WORD*>(text) = 511;
  const LRESULT length =
      ::SendMessageW(memo, EM_GETLINE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(text));
  return BytesFromWide(std::wstring(text, static_cast<std::size_t>(length)));
}

class Win32FormViewTest : public ::testing::Test {
 protected:
  TMainFrm frame;
  RecordingDialogs dialogs;
  FormView view{frame, dialogs};
};

TEST_F(Win32FormViewTest, MemoAddsOneLinePerCallByteForByte) {
  view.AddMemoLine("[ Upgrade mode. ]");
  view.AddMemoLine("");
  view.AddMemoLine("-. \xb0\xff box");
  // Gathered lines reach the edit together, at the latest with the memo timer.
  EXPECT_EQ(TextOf(frame.Memo2), "");
  view.FlushMemo();
  ASSERT_EQ(::SendMessageW(frame.Memo2, EM_GETLINECOUNT, 0, 0), 3);
  EXPECT_EQ(MemoLine(frame.Memo2, 0), "[ Upgrade mode. ]");
  EXPECT_EQ(MemoLine(frame.Memo2, 1), "");
  EXPECT_EQ(MemoLine(frame.Memo2, 2), "-. \xb0\xff box");
  view.ClearMemo();
  EXPECT_EQ(TextOf(frame.Memo2), "");
  view.AddMemoLine("again");
  view.FlushMemo();
  EXPECT_EQ(TextOf(frame.Memo2), "again");
}

TEST_F(Win32FormViewTest, MemoKeepsOnlyTheNewestLinesOfAFlood) {
  const int total = FormView::kMemoLineCap * 2 + 7;
  for (int n = 0; n < total; ++n) {
    view.AddMemoLine("line " + std::to_string(n));
    if (n % 997 == 0) view.FlushMemo();
  }
  view.FlushMemo();
  const auto lines = static_cast<int>(::SendMessageW(frame.Memo2, EM_GETLINECOUNT, 0, 0));
  EXPECT_LE(lines, FormView::kMemoLineCap);
  EXPECT_GE(lines, FormView::kMemoLineCap * 9 / 10);
  EXPECT_EQ(lines, view.MemoLineCount());
  EXPECT_EQ(MemoLine(frame.Memo2, lines - 1), "line " + std::to_string(total - 1));
  EXPECT_EQ(MemoLine(frame.Memo2, 0), "line " + std::to_string(total - lines));
}

TEST_F(Win32FormViewTest, GatheredLinesReachTheMemoWithItsTimerAndBeforeABox) {
  view.AddMemoLine("Connect Success");
  const auto deadline = ::GetTickCount64() + 2000;
  while (TextOf(frame.Memo2).empty() && ::GetTickCount64() < deadline) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::Sleep(5);
  }
  EXPECT_EQ(TextOf(frame.Memo2), "Connect Success");
  view.AddMemoLine("Upgrade Fail");
  view.ShowMessage("Need higher up tool !");
  EXPECT_EQ(TextOf(frame.Memo2), "Connect Success\r\nUpgrade Fail");
}

TEST_F(Win32FormViewTest, Label3KeepsItsBytesColourAndSize) {
  view.SetLabel3("L 217, u-C[0] \xe9", colours::kBlue);
  EXPECT_EQ(view.Label3Caption(), "L 217, u-C[0] \xe9");
  EXPECT_EQ(TextOf(frame.Label3), "L 217, u-C[0] \xe9");
  EXPECT_EQ(frame.TextColour(frame.Label3), colours::kBlue);
  RECT place;
  ::GetClientRect(frame.Label3, &place);
  EXPECT_EQ(place.right, frame.CaptionSize(frame.Label3, L"L 217, u-C[0] \u00e9").cx);
}

TEST_F(Win32FormViewTest, LogoShowsOnFirstUseAndKeepsWhatIsNotGiven) {
  EXPECT_FALSE(::GetWindowLongPtrW(frame.lblLogoName, GWL_STYLE) & WS_VISIBLE);
  view.SetLogo("Connected !", std::nullopt, std::nullopt);
  EXPECT_TRUE(::GetWindowLongPtrW(frame.lblLogoName, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(TextOf(frame.lblLogoName), "Connected !");
  EXPECT_EQ(frame.TextColour(frame.lblLogoName), colours::kButtonHighlight);
  EXPECT_EQ(frame.BackgroundColour(frame.lblLogoName), colours::kGrey);
  view.SetLogo(std::nullopt, colours::kRed, colours::kAqua);
  EXPECT_EQ(TextOf(frame.lblLogoName), "Connected !");
  EXPECT_EQ(frame.TextColour(frame.lblLogoName), colours::kRed);
  EXPECT_EQ(frame.BackgroundColour(frame.lblLogoName), colours::kAqua);
}

TEST_F(Win32FormViewTest, BarsAmountsAndConnectButton) {
  view.SetProgress(ProgressBar::kPb1, 37);
  view.SetProgress(ProgressBar::kPb2, 150);
  EXPECT_EQ(::SendMessageW(frame.pb1, PBM_GETPOS, 0, 0), 37);
  EXPECT_EQ(::SendMessageW(frame.pb2, PBM_GETPOS, 0, 0), 100);
  view.SetProgress(ProgressBar::kPb1, -3);
  EXPECT_EQ(::SendMessageW(frame.pb1, PBM_GETPOS, 0, 0), 0);

  view.SetFileSize("(1024 / 786432)");
  EXPECT_EQ(TextOf(frame.labelFileSize), "(1024 / 786432)");

  view.ShowConnect(false, "Connected");
  EXPECT_FALSE(::GetWindowLongPtrW(frame.bbConnect, GWL_STYLE) & WS_VISIBLE);
  view.ShowConnect(true, "Disconnected");
  EXPECT_TRUE(::GetWindowLongPtrW(frame.bbConnect, GWL_STYLE) & WS_VISIBLE);
  EXPECT_EQ(TextOf(frame.bbConnect), "Disconnected");
}

TEST_F(Win32FormViewTest, EditsShowAndReadBackTheirText) {
  view.SetEdit(Edit::kModelName, "MX1\xb5");
  EXPECT_EQ(view.EditText(Edit::kModelName), "MX1\xb5");
  view.SetEdit(Edit::kFileName, "C:\\images\\box.bin");
  EXPECT_EQ(TextOf(frame.edFileName), "C:\\images\\box.bin");
  // The operator's typing is what is read back.
  ::SetWindowTextW(frame.edType, L"CODE");
  EXPECT_EQ(view.EditText(Edit::kType), "CODE");
}

TEST_F(Win32FormViewTest, DisablingTheSetupControlsNeverHandsTheFocusToAnEdit) {
  ::ShowWindow(frame.Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(frame.Handle());
  ::SetFocus(frame.bbExit);
  ASSERT_EQ(::GetFocus(), frame.bbExit);
  view.EnableSetupControls(false);
  EXPECT_FALSE(::IsWindowEnabled(frame.bbExit));
  EXPECT_FALSE(::IsWindowEnabled(frame.bbFileOpen));
  EXPECT_FALSE(::IsWindowEnabled(frame.cbPort));
  EXPECT_EQ(::GetFocus(), frame.Handle());
  view.EnableSetupControls(true);
  EXPECT_TRUE(::IsWindowEnabled(frame.bbExit));
}

TEST_F(Win32FormViewTest, BoxesShowTheTextAndErrorsEndWithAFullStop) {
  view.ShowMessage("Serial Port Open Error");
  view.ReportError("'12x' is not a valid integer value");
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Serial Port Open Error"});
  EXPECT_EQ(dialogs.errors, std::vector<std::string>{"'12x' is not a valid integer value."});
}

TEST_F(Win32FormViewTest, EnterReachesTheWindowFromAnyControlAndOtherKeysOnlyFromTheMemo) {
  std::string keys;
  frame.OnKeyPress = [&keys](char key) { keys += key; };
  for (HWND target :
       {frame.Handle(), frame.edFileName, frame.bbConnect, frame.cbPort, frame.Memo2}) {
    MSG enter{target, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
    EXPECT_TRUE(frame.PreTranslateMessage(enter));
  }
  EXPECT_EQ(keys, std::string(5, '\r'));
  keys.clear();
  ::SendMessageW(frame.Memo2, WM_CHAR, 'x', 0);
  ::SendMessageW(frame.Handle(), WM_CHAR, 'y', 0);
  ::SendMessageW(frame.edFileName, WM_CHAR, 'z', 0);
  EXPECT_EQ(keys, "xy");
  // A key of another window is not the window's.
  HWND other =
      ::CreateWindowExW(0, L"Static", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  MSG elsewhere{other, WM_KEYDOWN, VK_RETURN, 0, 0, {0, 0}};
  EXPECT_FALSE(frame.PreTranslateMessage(elsewhere));
  ::DestroyWindow(other);
}

TEST_F(Win32FormViewTest, ButtonsAndThePortSelectorRaiseTheirHandlers) {
  std::vector<std::string> events;
  frame.OnFileOpen = [&] { events.push_back("open"); };
  frame.OnConnect = [&] { events.push_back("connect"); };
  frame.OnExit = [&] { events.push_back("exit"); };
  frame.OnPortChosen = [&](int index) { events.push_back("port " + std::to_string(index)); };
  ::SendMessageW(frame.bbFileOpen, BM_CLICK, 0, 0);
  ::SendMessageW(frame.bbConnect, BM_CLICK, 0, 0);
  ::SendMessageW(frame.bbExit, BM_CLICK, 0, 0);
  // A selection made by the program raises nothing; the operator's does.
  ::SendMessageW(frame.cbPort, CB_SETCURSEL, 2, 0);
  ::SendMessageW(frame.ToolBar1, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(frame.cbPort), CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(frame.cbPort));
  EXPECT_EQ(events, (std::vector<std::string>{"open", "connect", "exit", "port 2"}));
}

}  // namespace
}  // namespace stbup
