// The native window with its logic, as the operator meets it: closing with a
// store that cannot be written, and the replies a box must not hold back.
#include "app/win32/main_frm_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/memory_settings.h"
#include "app/win32/dialogs.h"
#include "app/win32/text.h"
#include "tests/support/window_fakes.h"

namespace stbup {
namespace {

const std::string kKey(MainWindow::kKeyPath);

// Boxes that return at once; each remembers how many times the held replies
// had been sent when it opened.
class CountingDialogs : public Dialogs {
 public:
  explicit CountingDialogs(const FakePort& port) : port_(port) {}
  void Message(HWND, const std::wstring& text) override {
    messages.push_back(BytesFromWide(text));
    sent_before.push_back(port_.held_writes_sent);
  }
  void Error(HWND, const std::wstring& text) override {
    errors.push_back(BytesFromWide(text));
    sent_before.push_back(port_.held_writes_sent);
  }
  std::optional<std::wstring> OpenFile(HWND, const std::wstring&, const std::wstring&,
                                       const std::wstring&) override {
    return std::nullopt;
  }

  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::vector<int> sent_before;

 private:
  const FakePort& port_;
};

class Win32MainFrmControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.keys[kKey] = {{"FileName", ""}, {"ComPort", "COM1"}, {"PortIndex", "0"}};
  }

  FakePort port;
  MemorySettings settings;
  CountingDialogs dialogs{port};
};

TEST_F(Win32MainFrmControllerTest, ExitWithAStoreThatCannotBeWrittenSaysSoOnceAndCloses) {
  MainFrmController controller(port, settings, dialogs);
  controller.Start("");
  dialogs.errors.clear();
  settings.unwritable_values = {"FileName", "ComPort", "PortIndex"};
  HWND window = controller.Frame().Handle();
  ::SendMessageW(controller.Frame().bbExit, BM_CLICK, 0, 0);
  EXPECT_EQ(dialogs.errors, std::vector<std::string>{
                                "Failed to set data for 'FileName'. The settings were not saved."});
  EXPECT_FALSE(::IsWindow(window));
  MSG quit;
  EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(Win32MainFrmControllerTest, RepliesHeldBackLeaveBeforeEveryBox) {
  port.busy = {"COM2"};
  MainFrmController controller(port, settings, dialogs);
  controller.Start("");
  // The operator picks a port another program holds.
  TMainFrm& frame = controller.Frame();
  ::SendMessageW(frame.cbPort, CB_SETCURSEL, 1, 0);
  ::SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(frame.cbPort), CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(frame.cbPort));
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(dialogs.messages.back(), "This Port is not Available !!");
  int sent = 0;
  for (int before : dialogs.sent_before) {
    EXPECT_GT(before, sent) << "a box opened with replies still held";
    sent = before;
  }
}

}  // namespace
}  // namespace stbup
