#include "app/core/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/memory_settings.h"
#include "tests/support/recording_view.h"
#include "tests/support/window_fakes.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

const std::string kKey(MainWindow::kKeyPath);
const std::string kCaption = "UPGRADE TOOL (V2.38-a) 14-Feb-2006 user X SL2M2";

// An old-format CODE image: "TAVO", three pairs, versions 01.02.03 and
// 04.05.06, start block 16, model MX1, the terminator, then the payload.
void WriteImage(const fs::path& path, std::string start_block = "0000000016", int payload = 4096) {
  std::ofstream out(path, std::ios::binary);
  out << "TAVO"
      << "000000"
      << "010203"
      << "040506" << start_block << "C"
      << "MX1"
      << "x" << std::string(static_cast<std::size_t>(payload), '\x5a');
}

class MainWindowTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("stbup-window-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    image = (dir / "main.bin").string();
    WriteImage(image);
  }
  void TearDown() override { fs::remove_all(dir); }

  void SaveSettings(const std::string& file, const std::string& port, const std::string& index) {
    settings.keys[kKey] = {{"FileName", file}, {"ComPort", port}, {"PortIndex", index}};
  }

  fs::path dir;
  std::string image;
  RecordingView view;
  FakePort port;
  FakeTimer timer;
  MemorySettings settings;
  FakeFileDialog dialog;
  FakeWindowControls controls;
  MainWindow window{view, port, timer, settings, dialog, controls};
};

TEST_F(MainWindowTest, FirstRunCreatesTheKeyAndLeavesThePortClosed) {
  window.FormCreate("");
  EXPECT_EQ(settings.keys[kKey], (std::map<std::string, std::string>{
                                     {"FileName", ""}, {"ComPort", "COM1"}, {"PortIndex", "0"}}));
  EXPECT_FALSE(settings.KeyOpen());
  EXPECT_EQ(view.memo, (std::vector<std::string>{"[ Upgrade mode. ]", "\"\"",
                                                 " File open error, please open file first!"}));
  EXPECT_EQ(view.memo_colour, colours::kRed);
  EXPECT_FALSE(port.active);
  EXPECT_EQ(port.open_attempts, 0);
  EXPECT_TRUE(view.connect_visible);
  EXPECT_EQ(view.connect_caption, "Connected");
  EXPECT_EQ(timer.interval, 100);  // runs with nothing to send
  EXPECT_EQ(controls.caption, kCaption);
  EXPECT_EQ(window.Caption(), kCaption);
  EXPECT_EQ(controls.left, 30);
  EXPECT_EQ(controls.top, 50);
  EXPECT_EQ(controls.selected_port, 0);
  EXPECT_TRUE(controls.directory_changes.empty());
  EXPECT_EQ(window.ImageCheckCode().size(), 8u);
  EXPECT_TRUE(view.errors.empty());
}

TEST_F(MainWindowTest, StartUpWithAGoodImageAndAFreePort) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  EXPECT_EQ(view.memo, (std::vector<std::string>{"[ Upgrade mode. ]", " ", kCaption,
                                                 "File open O.K.!", "> Old version binary."}));
  EXPECT_TRUE(port.active);
  EXPECT_EQ(port.device_name, "COM1");
  EXPECT_FALSE(view.connect_visible);
  EXPECT_EQ(view.connect_caption, "Connected");
  EXPECT_EQ(view.logo, "Simple and Speedy");
  EXPECT_EQ(view.logo_text, colours::kButtonHighlight);
  EXPECT_EQ(view.logo_background, colours::kGrey);
  EXPECT_EQ(view.pb1, 0);
  EXPECT_EQ(view.file_size, "(  /  )");
  EXPECT_EQ(port.written, "\x07");
  window.Timer1Timer();
  window.Timer1Timer();
  EXPECT_EQ(port.written, "\x07\x1f\x1f");
  // The folder as the platform writes it, with its separator.
  EXPECT_EQ(controls.directory_changes,
            std::vector<std::string>{
                dir.string() + static_cast<char>(std::filesystem::path::preferred_separator)});
  EXPECT_EQ(window.Image().ModelName, "MX1");
  EXPECT_EQ(view.EditText(Edit::kFileName), image);
  // What a trace sees of the connection, in order.
  EXPECT_EQ(view.EventsOf("timer1"), std::vector<std::string>{"100"});
  EXPECT_EQ(view.EventsOf("port"), std::vector<std::string>{"open|COM1"});
}

TEST_F(MainWindowTest, CommandLineImageReplacesTheSavedOneAndIsSavedOnClose) {
  SaveSettings("/elsewhere/old.bin", "COM1", "0");
  window.FormCreate(image);
  EXPECT_TRUE(port.active);
  EXPECT_EQ(window.Image().ImageFileName, image);
  EXPECT_TRUE(window.FormClose());
  EXPECT_EQ(settings.keys[kKey]["FileName"], image);
}

TEST_F(MainWindowTest, RelativeImageInAFolderIsStillFoundAfterEnteringIt) {
  SaveSettings("", "COM1", "0");
  controls.current_directory = dir.parent_path().string();
  std::string relative = dir.filename().string() + "/main.bin";
  window.FormCreate(relative);
  EXPECT_EQ(controls.directory_changes, std::vector<std::string>{dir.parent_path().string() + "/" +
                                                                 dir.filename().string() + "/"});
  EXPECT_TRUE(port.active);
  EXPECT_EQ(view.EditText(Edit::kFileName), dir.parent_path().string() + "/" + relative);
}

TEST_F(MainWindowTest, SavedNameWithoutFolderLeavesTheCurrentDirectory) {
  SaveSettings("main.bin", "COM1", "0");
  window.FormCreate("");
  EXPECT_TRUE(controls.directory_changes.empty());
}

TEST_F(MainWindowTest, ComPortDecidesAndTheSelectorShowsThePortUsed) {
  struct Case {
    const char* name;
    std::string com_port, index;
    std::string device;  // the port opened
    int selected;
    std::vector<std::string> errors;
  };
  const std::vector<Case> cases = {
      {"agreeing", "COM3", "2", "COM3", 2, {}},
      {"disagreeing: the port used wins", "COM3", "0", "COM3", 2, {}},
      {"no port saved: the index stands in", "", "4", "COM5", 4, {}},
      {"a device path",
       "/dev/serial/by-id/usb-adapter",
       "0",
       "/dev/serial/by-id/usb-adapter",
       10,
       {}},
      {"not a number", "COM2", "abc", "COM2", 1, {"'abc' is not a valid integer value"}},
      {"empty", "COM2", "", "COM2", 1, {"'' is not a valid integer value"}},
      {"huge", "", "99999999999", "COM1", 0, {"'99999999999' is not a valid integer value"}},
      {"negative", "", "-1", "COM1", 0, {"'-1' is not a valid port index"}},
      {"beyond the list", "", "12", "COM1", 0, {"'12' is not a valid port index"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingView fresh_view;
    FakePort fresh_port;
    MemorySettings fresh_settings;
    FakeWindowControls fresh_controls;
    std::swap(view, fresh_view);
    std::swap(port, fresh_port);
    std::swap(settings, fresh_settings);
    std::swap(controls, fresh_controls);
    MainWindow fresh{view, port, timer, settings, dialog, controls};
    SaveSettings(image, c.com_port, c.index);
    fresh.FormCreate("");
    EXPECT_EQ(view.errors, c.errors);
    EXPECT_EQ(port.device_name, c.device);
    EXPECT_TRUE(port.active);  // start-up went on
    EXPECT_EQ(fresh.PortIndex(), c.selected);
    EXPECT_EQ(controls.selected_port, c.selected);
    EXPECT_EQ(fresh.PortText(), c.device);
    // The bad index is replaced by one that agrees with the port.
    EXPECT_TRUE(fresh.FormClose());
    EXPECT_EQ(settings.keys[kKey]["ComPort"], c.device);
    EXPECT_EQ(settings.keys[kKey]["PortIndex"], std::to_string(c.selected));
    EXPECT_EQ(settings.keys[kKey]["FileName"], image);
  }
}

TEST_F(MainWindowTest, AFailedStartUpStepIsReportedOnceAndErasesNoSavedSetting) {
  struct Case {
    const char* name;
    std::function<void(MainWindowTest&)> arrange;
    std::vector<std::string> errors;
    bool image_loaded;
  };
  const std::vector<Case> cases = {
      {"file name of another type",
       [](MainWindowTest& t) {
         t.SaveSettings(t.image, "COM1", "0");
         t.settings.non_text_values.insert("FileName");
       },
       {"Invalid data type for 'FileName'"},
       false},
      {"port of another type",
       [](MainWindowTest& t) {
         t.SaveSettings(t.image, "COM1", "0");
         t.settings.non_text_values.insert("ComPort");
       },
       {"Invalid data type for 'ComPort'"},
       true},
      {"untrusted store",
       [](MainWindowTest& t) {
         t.SaveSettings(t.image, "COM1", "0");
         t.settings.problem = "The settings file is damaged";
       },
       {"The settings file is damaged"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingView fresh_view;
    FakePort fresh_port;
    MemorySettings fresh_settings;
    std::swap(view, fresh_view);
    std::swap(port, fresh_port);
    std::swap(settings, fresh_settings);
    MainWindow fresh{view, port, timer, settings, dialog, controls};
    c.arrange(*this);
    const auto saved = settings.keys;
    fresh.FormCreate("");
    EXPECT_EQ(view.errors, c.errors);
    EXPECT_EQ(view.memo.front(), "[ Upgrade mode. ]");  // the reset still ran
    EXPECT_EQ(fresh.Image().ModelName.empty(), !c.image_loaded);
    EXPECT_EQ(controls.caption, kCaption);
    EXPECT_FALSE(settings.KeyOpen());
    settings.non_text_values.clear();
    EXPECT_TRUE(fresh.FormClose());
    EXPECT_EQ(settings.keys, saved);                 // nothing erased or rewritten
    EXPECT_EQ(view.errors.size(), c.errors.size());  // said once
  }
}

TEST_F(MainWindowTest, AKeyThatCannotBeCreatedStillLetsTheCommandLineImageLoad) {
  settings.fail_create = true;
  window.FormCreate(image);
  EXPECT_EQ(view.errors, std::vector<std::string>{"Failed to create key " + kKey});
  EXPECT_EQ(view.EventsOf("edit").front(), "FileName:" + image);
  EXPECT_TRUE(port.active);
}

TEST_F(MainWindowTest, BusyPortAtStartUpAndTheConnectButtonRetriesTheWholeReset) {
  SaveSettings(image, "COM1", "0");
  port.busy.insert("COM1");
  window.FormCreate("");
  EXPECT_EQ(view.messages, std::vector<std::string>{"Serial Port Open Error"});
  EXPECT_EQ(view.memo.back(), "COM1 Disconnected !");
  EXPECT_TRUE(view.connect_visible);
  EXPECT_EQ(view.connect_caption, "Disconnected");
  EXPECT_EQ(timer.interval, 0);
  EXPECT_EQ(port.written, "");
  EXPECT_EQ(window.Image().ModelName, "MX1");  // the image stays loaded

  port.busy.clear();
  view.memo.clear();
  window.bbConnectClick();
  EXPECT_TRUE(port.active);
  EXPECT_EQ(view.memo.front(), "[ Upgrade mode. ]");
  EXPECT_EQ(view.memo.at(3), "File open O.K.!");  // reloaded
  EXPECT_FALSE(view.connect_visible);
  EXPECT_EQ(timer.interval, 100);
  EXPECT_EQ(port.written, "\x07");

  // While open and idle, the button restarts the exchange; during a run it
  // does nothing.
  window.bbConnectClick();
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.written, "\x07\x07");
  port.incoming = "ACK\n";
  window.VaComm1RxChar();
  view.ClearEvents();
  window.bbConnectClick();
  EXPECT_TRUE(view.events.empty());
}

TEST_F(MainWindowTest, BadStartBlockStopsTheResetBeforeThePortOpens) {
  WriteImage(image, "00000001x6");
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  EXPECT_EQ(view.errors, std::vector<std::string>{"'00000001x6' is not a valid integer value"});
  EXPECT_EQ(port.open_attempts, 0);
  EXPECT_EQ(timer.interval, 100);
}

TEST_F(MainWindowTest, SelectingPorts) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  ASSERT_TRUE(port.active);
  view.memo.clear();

  // The port already open is closed and opened again.
  timer.Stop();
  window.cbPortChange(0);
  EXPECT_EQ(port.closes, 1);
  EXPECT_TRUE(port.active);
  EXPECT_EQ(view.memo, std::vector<std::string>{"COM1 Connected !"});
  EXPECT_EQ(timer.interval, 100);
  EXPECT_FALSE(view.connect_visible);

  // A busy port: the previous one is closed already and stays closed.
  port.busy.insert("COM4");
  window.cbPortChange(3);
  EXPECT_FALSE(port.active);
  EXPECT_EQ(port.device_name, "COM4");
  EXPECT_EQ(view.memo.back(), "COM4 Disconnected !");
  EXPECT_EQ(view.messages, std::vector<std::string>{"This Port is not Available !!"});
  EXPECT_EQ(timer.interval, 0);
  EXPECT_TRUE(view.connect_visible);
  EXPECT_EQ(view.connect_caption, "Disconnected");
  EXPECT_EQ(window.PortIndex(), 3);

  // It opens the chosen port even without an image, and sends nothing.
  window.cbPortChange(9);
  EXPECT_EQ(port.device_name, "COM10");
  EXPECT_TRUE(port.active);
  EXPECT_EQ(port.written, "\x07");  // only the start-up byte
  EXPECT_TRUE(window.FormClose());
  EXPECT_EQ(settings.keys[kKey]["ComPort"], "COM10");
  EXPECT_EQ(settings.keys[kKey]["PortIndex"], "9");
}

TEST_F(MainWindowTest, EnterRestartsTheExchangeWheneverNoRunIsInProgress) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  ASSERT_TRUE(port.active);
  view.ClearEvents();
  window.FormKeyPress('a');
  window.FormKeyPress('\n');
  EXPECT_TRUE(view.events.empty());

  // Port open and idle: the reset again, without reopening.
  window.FormKeyPress(MainWindow::kEnter);
  EXPECT_EQ(view.memo.front(), "[ Upgrade mode. ]");
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.written, std::string("\x07\x07"));

  // During a run Enter does nothing.
  port.incoming = "ACK\n";
  window.VaComm1RxChar();
  view.ClearEvents();
  window.FormKeyPress(MainWindow::kEnter);
  EXPECT_TRUE(view.events.empty());

  // After "UPGRADE_SUCCESS" without the restart notice the port is still
  // open and Timer1 stopped: Enter wakes the next box.
  port.incoming = "UPGRADE_SUCCESS\n";
  window.VaComm1RxChar();
  ASSERT_TRUE(port.active);
  timer.Stop();
  view.ClearEvents();
  window.FormKeyPress(MainWindow::kEnter);
  EXPECT_EQ(view.memo.front(), "[ Upgrade mode. ]");
  EXPECT_EQ(timer.interval, 100);
  EXPECT_EQ(port.written, std::string("\x07\x07\x07"));

  port.Close();  // as the protocol does after the box started its own software
  window.FormKeyPress(MainWindow::kEnter);
  EXPECT_TRUE(port.active);
  EXPECT_EQ(port.opens, 2);
}

TEST_F(MainWindowTest, ADeviceLostIdleOrInARunIsOneTransition) {
  for (const bool in_run : {false, true}) {
    SCOPED_TRACE(in_run ? "in a run" : "idle");
    RecordingView fresh_view;
    FakePort fresh_port;
    std::swap(view, fresh_view);
    std::swap(port, fresh_port);
    MainWindow fresh{view, port, timer, settings, dialog, controls};
    SaveSettings(image, "COM1", "0");
    fresh.FormCreate("");
    if (in_run) {
      port.incoming = "ACK\n";
      fresh.VaComm1RxChar();
      ASSERT_FALSE(view.setup_enabled);
    }
    view.ClearEvents();
    fresh.VaComm1DeviceLost();
    std::vector<std::string> expected = {"timer1:0",
                                         "setup:1",
                                         "port:closed|COM1",
                                         "memo:>> COM1 has gone away (unplugged or hung up).",
                                         "memo:",
                                         "memo:COM1 Off !!! (\"Enter\" key to reconnect.)",
                                         "memo:  "};
    // The banner keeps the last outcome unless a run was cut short.
    if (in_run) expected.push_back("logo:Disconnected !||");
    expected.push_back("connect:1|Disconnected");
    EXPECT_EQ(view.events, expected);
    EXPECT_FALSE(port.active);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_TRUE(view.messages.empty());
    // A second report of the same loss changes nothing.
    view.ClearEvents();
    fresh.VaComm1DeviceLost();
    EXPECT_TRUE(view.events.empty());
    // The device is back: Enter reconnects.
    fresh.FormKeyPress(MainWindow::kEnter);
    EXPECT_TRUE(port.active);
    EXPECT_EQ(timer.interval, 100);
  }
}

TEST_F(MainWindowTest, TheHeldRepliesLeaveBeforeEveryModalBox) {
  SaveSettings(image, "COM1", "0");
  port.busy.insert("COM1");
  window.FormCreate("");
  EXPECT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(port.held_writes_sent, 1);
  fs::remove(image);
  port.busy.clear();
  window.cbPortChange(0);
  port.incoming = "REQUEST_DOWNLOAD\n";
  window.VaComm1RxChar();
  EXPECT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(port.held_writes_sent, 2);
}

TEST_F(MainWindowTest, OpeningAnImage) {
  window.FormCreate("");  // first run, nothing loaded, port closed
  view.ClearEvents();

  // Cancelling changes nothing, not even the log.
  window.Open1Click();
  ASSERT_EQ(dialog.calls.size(), 1u);
  EXPECT_EQ(dialog.calls[0].initial_directory, "/home/operator");
  EXPECT_EQ(dialog.calls[0].filter, "*.bin (Binary File)|*.bin");
  EXPECT_EQ(dialog.calls[0].default_extension, "*.bin");
  EXPECT_TRUE(view.events.empty());

  // A chosen image opens the port: no log line, no banner, no timer change, no 0x07.
  dialog.answer = image;
  int timer_changes = timer.starts + timer.stops;
  window.Open1Click();
  EXPECT_TRUE(port.active);
  EXPECT_EQ(port.written, "");
  EXPECT_FALSE(view.connect_visible);
  EXPECT_TRUE(view.EventsOf("logo").empty());
  EXPECT_EQ(timer.starts + timer.stops, timer_changes);
  EXPECT_EQ(view.memo.back(), "> Old version binary.");

  // Opening again while connected reloads and leaves the port alone.
  view.ClearEvents();
  window.Open1Click();
  EXPECT_EQ(port.opens, 1);
  EXPECT_EQ(port.closes, 0);
  EXPECT_EQ(timer.starts + timer.stops, timer_changes);
  EXPECT_EQ(view.EventsOf("memo").at(2), "File open O.K.!");
}

TEST_F(MainWindowTest, OpeningAnImageOnABusyPort) {
  window.FormCreate("");
  port.busy.insert("COM1");
  port.open_failure_reason = "COM1 is held by minicom (pid 4242)";
  dialog.answer = image;
  window.Open1Click();
  EXPECT_EQ(view.messages, std::vector<std::string>{"Serial Port Open Error"});
  // The reason the operator can act on, logged under the box.
  EXPECT_EQ(view.EventsOf("memo").back(), ">> COM1 is held by minicom (pid 4242)");
  EXPECT_EQ(view.memo.at(view.memo.size() - 2), "COM1 Disconnected !");
  EXPECT_EQ(timer.interval, 0);
  EXPECT_EQ(view.connect_caption, "Disconnected");
}

TEST_F(MainWindowTest, ClosingSavesWhatIsTyped) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  view.SetEdit(Edit::kFileName, "  /typed/never loaded.bin \t");
  EXPECT_TRUE(window.FormClose());
  EXPECT_EQ(settings.keys[kKey]["FileName"], "/typed/never loaded.bin");

  // A store that cannot be written: said once, and the window closes.
  settings.unwritable_values = {"FileName", "ComPort", "PortIndex"};
  controls.on_close = [this] { return window.FormClose(); };
  window.Exit1Click();
  EXPECT_EQ(view.errors, std::vector<std::string>{
                             "Failed to set data for 'FileName'. The settings were not saved."});
  EXPECT_EQ(controls.terminations, 1);
}

TEST_F(MainWindowTest, TheSelectorShowsEachComPortsDeviceAndTheDevicesFound) {
  SaveSettings(image, "/dev/serial/by-id/usb-FTDI_A1-if00-port0", "3");
  window.SetPortFinder([] {
    return std::vector<PortChoice>{
        {"/dev/serial/by-id/usb-FTDI_A1-if00-port0",
         "/dev/serial/by-id/usb-FTDI_A1-if00-port0  /dev/ttyUSB0  (FTDI FT232R USB UART)"}};
  });
  window.FormCreate("");
  ASSERT_EQ(controls.port_labels.size(), 11u);
  EXPECT_EQ(controls.port_labels[0], "COM1  /dev/for-COM1");
  EXPECT_EQ(controls.port_labels[9], "COM10  /dev/for-COM10");
  EXPECT_EQ(controls.port_labels[10],
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0  /dev/ttyUSB0  (FTDI FT232R USB UART)");
  EXPECT_EQ(controls.selected_port, 10);
  EXPECT_EQ(port.device_name, "/dev/serial/by-id/usb-FTDI_A1-if00-port0");

  // The adapter is pulled: the list no longer has it, but the selector still
  // shows the port in use rather than another.
  window.SetPortFinder({});
  window.RefreshPorts();
  ASSERT_EQ(controls.port_labels.size(), 11u);
  EXPECT_EQ(controls.port_labels[10], "/dev/serial/by-id/usb-FTDI_A1-if00-port0");
  EXPECT_EQ(controls.selected_port, 10);

  // Picking COM3 round-trips through the three settings.
  window.cbPortChange(2);
  EXPECT_EQ(port.device_name, "COM3");
  EXPECT_TRUE(window.FormClose());
  EXPECT_EQ(settings.keys[kKey]["ComPort"], "COM3");
  EXPECT_EQ(settings.keys[kKey]["PortIndex"], "2");
}

TEST_F(MainWindowTest, AComPortTheSystemListsShowsOnceWithWhatTheSystemSaysOfIt) {
  SaveSettings(image, "COM12", "0");
  // Windows lists its ports by COM name, some of them among COM1 .. COM10.
  window.SetPortFinder([] {
    return std::vector<PortChoice>{{"COM2", "COM2  \\Device\\Serial1"},
                                   {"COM12", "COM12  \\Device\\VCP0"}};
  });
  window.FormCreate("");
  ASSERT_EQ(controls.port_labels.size(), 11u);
  EXPECT_EQ(controls.port_labels[0], "COM1  /dev/for-COM1");
  EXPECT_EQ(controls.port_labels[1], "COM2  \\Device\\Serial1");
  EXPECT_EQ(controls.port_labels[2], "COM3  /dev/for-COM3");
  EXPECT_EQ(controls.port_labels[10], "COM12  \\Device\\VCP0");
  // "ComPort" decides, and the selector agrees with it.
  EXPECT_EQ(controls.selected_port, 10);
  EXPECT_EQ(port.device_name, "COM12");
  EXPECT_EQ(window.PortText(), "COM12");

  window.cbPortChange(1);
  EXPECT_EQ(port.device_name, "COM2");
  EXPECT_TRUE(window.FormClose());
  EXPECT_EQ(settings.keys[kKey]["ComPort"], "COM2");
  EXPECT_EQ(settings.keys[kKey]["PortIndex"], "1");
}

TEST_F(MainWindowTest, SetupControlsAreLockedDuringARun) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  port.incoming = "ACK\n";
  window.VaComm1RxChar();
  EXPECT_FALSE(view.setup_enabled);
  window.EnableSetupControls(true);
  EXPECT_TRUE(view.setup_enabled);
}

TEST_F(MainWindowTest, TheBoxStartingItsOwnSoftwareClosesThePortAndEnterReconnects) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  port.incoming = "ACK\n";
  window.VaComm1RxChar();
  port.incoming = "NO_ACKNOWLEDGE with PC.\n";
  window.VaComm1RxChar();
  EXPECT_FALSE(port.active);
  EXPECT_TRUE(view.setup_enabled);
  EXPECT_EQ(view.EventsOf("port"), (std::vector<std::string>{"open|COM1", "closed|COM1"}));
  window.FormKeyPress(MainWindow::kEnter);
  EXPECT_TRUE(port.active);
}

TEST_F(MainWindowTest, ErrorsInReceivedDataAreReportedAndTheToolCarriesOn) {
  SaveSettings(image, "COM1", "0");
  window.FormCreate("");
  fs::remove(image);  // the download source is gone
  port.incoming = "REQUEST_DOWNLOAD\n";
  window.VaComm1RxChar();
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0].rfind("Cannot open file \"" + image + "\".", 0), 0u) << view.errors[0];
  port.incoming = "TargetInfo:still here\n";
  window.VaComm1RxChar();
  EXPECT_EQ(view.memo.back(), ":>still here");
}

}  // namespace
}  // namespace stbup
