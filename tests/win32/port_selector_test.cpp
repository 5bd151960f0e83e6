// cbPort in the native window: COM1 .. COM10 and the ports Windows knows,
// asked anew as the list drops down, and the operator's pick kept in the
// registry.
#include "app/win32/windows_api.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/memory_settings.h"
#include "app/core/port_choices.h"
#include "app/win32/dialogs.h"
#include "app/win32/frame_controls.h"
#include "app/win32/gui_session.h"
#include "app/win32/main_frm.h"
#include "app/win32/main_frm_controller.h"
#include "app/win32/settings/registry_settings.h"
#include "app/win32/text.h"
#include "serial/serial_ports.h"
#include "tests/support/window_fakes.h"

namespace stbup {
namespace {

constexpr char kKey[] = "SOFTWARE\\TAVOLINKS\\SOFTWAREUPGRADE_TZIP";

class QuietDialogs : public Dialogs {
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

std::vector<std::string> Items(HWND selector) {
  std::vector<std::string> items;
  const LRESULT count = ::SendMessageW(selector, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(selector, CB_GETLBTEXTLEN, i, 0)) + 1,
                      L'\0');
    text.resize(static_cast<std::size_t>(
        ::SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    items.push_back(PathFromWide(text));
  }
  return items;
}

int Selected(HWND selector) {
  return static_cast<int>(::SendMessageW(selector, CB_GETCURSEL, 0, 0));
}

// The operator's pick: the item selected in the list, then the list's report.
void Pick(TMainFrm& frame, int index) {
  ::SendMessageW(frame.cbPort, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::SendMessageW(frame.Handle(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(frame.cbPort), CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(frame.cbPort));
}

std::string SavedValue(const char* name) {
  RegistrySettings store;
  if (!store.OpenKey(std::string("\\") + kKey, false)) return "<no key>";
  std::string value = store.ReadString(name);
  store.CloseKey();
  return value;
}

// The only case here on the window's own key: the others run beside it.
class Win32PortSelectorRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
};

TEST(Win32PortSelector, ListsEveryChoiceWideEnoughAndAsksForThemAsItDropsDown) {
  TMainFrm frame;
  FrameControls controls(frame);
  const std::string wide = "COM12  \\Device\\ProlificSerial0 on a long driver name";
  controls.SetPortChoices({"COM1", wide});
  EXPECT_EQ(Items(frame.cbPort), (std::vector<std::string>{"COM1", wide}));
  controls.SelectPort(1);
  EXPECT_EQ(Selected(frame.cbPort), 1);

  // The dropped list is as wide as its longest item, beyond the field.
  RECT field;
  ::GetWindowRect(frame.cbPort, &field);
  const LRESULT dropped = ::SendMessageW(frame.cbPort, CB_GETDROPPEDWIDTH, 0, 0);
  HDC dc = ::GetDC(frame.cbPort);
  HGDIOBJ previous =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(frame.cbPort, WM_GETFONT, 0, 0)));
  SIZE size{};
  const std::wstring shown = WideFromPath(wide);
  ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  ::SelectObject(dc, previous);
  ::ReleaseDC(frame.cbPort, dc);
  EXPECT_GT(dropped, field.right - field.left);
  EXPECT_GE(dropped, size.cx);

  int asked = 0;
  frame.OnPortListOpening = [&] { ++asked; };
  ::ShowWindow(frame.Handle(), SW_SHOWNORMAL);
  ::SendMessageW(frame.cbPort, CB_SHOWDROPDOWN, TRUE, 0);
  ::SendMessageW(frame.cbPort, CB_SHOWDROPDOWN, FALSE, 0);
  EXPECT_EQ(asked, 1);
}

// A key as the message loop delivers it.
void Deliver(TMainFrm& frame, HWND target, WPARAM key) {
  MSG message{target, WM_KEYDOWN, key, 0, 0, {0, 0}};
  if (frame.PreTranslateMessage(message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

TEST(Win32PortSelector, EnterInTheDroppedListPicksTheItemAndElsewhereReconnects) {
  TMainFrm frame;
  FrameControls controls(frame);
  controls.SetPortChoices({"COM1", "COM2", "COM12  \\Device\\Serial11"});
  controls.SelectPort(0);
  std::string keys;
  std::vector<int> picks;
  frame.OnKeyPress = [&keys](char key) { keys += key; };
  frame.OnPortChosen = [&picks](int index) { picks.push_back(index); };
  ::ShowWindow(frame.Handle(), SW_SHOWNORMAL);
  ::SetForegroundWindow(frame.Handle());
  ::SetFocus(frame.cbPort);
  ::SendMessageW(frame.cbPort, CB_SHOWDROPDOWN, TRUE, 0);
  ASSERT_TRUE(::SendMessageW(frame.cbPort, CB_GETDROPPEDSTATE, 0, 0));

  Deliver(frame, frame.cbPort, VK_END);
  Deliver(frame, frame.cbPort, VK_RETURN);
  EXPECT_EQ(keys, "");
  EXPECT_EQ(picks, std::vector<int>{2});
  EXPECT_FALSE(::SendMessageW(frame.cbPort, CB_GETDROPPEDSTATE, 0, 0));

  // The list closed, Enter is the window's again.
  Deliver(frame, frame.cbPort, VK_RETURN);
  EXPECT_EQ(keys, "\r");
}

// The window as it runs: each port Windows knows shows once, with its
// driver's device; a COM name it does not know shows as the name alone.
TEST(Win32PortSelector, TheWindowOffersThePortsWindowsKnows) {
  QuietDialogs dialogs;
  MemorySettings settings;
  GuiSession session(settings, dialogs);
  session.Start("");
  const std::vector<std::string> items = Items(session.Frame().cbPort);

  std::vector<std::string> expected;
  for (int n = 1; n <= 10; ++n) expected.push_back("COM" + std::to_string(n));
  for (const SerialPortInfo& known : FindSerialPorts()) {
    const std::string label = known.name + "  " + known.driver;
    bool among_first = false;
    for (std::string& item : expected) {
      if (item == known.name) {
        item = label;
        among_first = true;
      }
    }
    if (!among_first) expected.push_back(label);
  }
  EXPECT_EQ(items, expected);
  EXPECT_EQ(Selected(session.Frame().cbPort), 0);
}

TEST_F(Win32PortSelectorRegistryTest, TheOperatorsPickRoundTripsThroughTheRegistry) {
  const auto finder = [] {
    return std::vector<PortChoice>{{"COM2", "COM2  \\Device\\Serial1"},
                                   {"COM12", "COM12  \\Device\\VCP0"}};
  };
  {
    FakePort port;
    RegistrySettings settings;
    QuietDialogs dialogs;
    MainFrmController controller(port, settings, dialogs);
    controller.Logic().SetPortFinder(finder);
    controller.Start("");
    const std::vector<std::string> items = Items(controller.Frame().cbPort);
    ASSERT_EQ(items.size(), 11u);
    EXPECT_EQ(items[0], "COM1  /dev/for-COM1");
    EXPECT_EQ(items[1], "COM2  \\Device\\Serial1");
    EXPECT_EQ(items[10], "COM12  \\Device\\VCP0");

    Pick(controller.Frame(), 10);
    EXPECT_EQ(port.device_name, "COM12");
    EXPECT_TRUE(port.active);
    EXPECT_TRUE(controller.Logic().FormClose());
  }
  EXPECT_EQ(SavedValue("ComPort"), "COM12");
  EXPECT_EQ(SavedValue("PortIndex"), "10");

  // The next start shows and uses the port picked.
  FakePort port;
  RegistrySettings settings;
  QuietDialogs dialogs;
  MainFrmController controller(port, settings, dialogs);
  controller.Logic().SetPortFinder(finder);
  controller.Start("");
  EXPECT_EQ(Selected(controller.Frame().cbPort), 10);
  EXPECT_EQ(port.device_name, "COM12");
  EXPECT_TRUE(dialogs.errors.empty()) << dialogs.errors.front();
}

}  // namespace
}  // namespace stbup
