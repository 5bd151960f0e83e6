#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/port.h"
#include "app/core/port_choices.h"
#include "app/core/settings.h"
#include "app/core/window_controls.h"
#include "app/core/window_view.h"
#include "image/image_info.h"
#include "protocol/engine.h"
#include "seams/poll_timer.h"
#include "seams/view.h"

namespace stbup {

// The memo line with which every connection reset begins: whatever a front
// end gathers about one box starts again after it.
inline constexpr std::string_view kUpgradeModeLine = "[ Upgrade mode. ]";

// The logic of TMainFrm without a toolkit: start-up and shut-down, the
// persisted settings, the connection reset, port choice, the poll timer and
// the received-data handler. The Qt window and the command line both drive
// it; they only render the View and deliver the events.
//
// Every handler below is the boundary of one UI event: an error escaping it
// is shown through View::ReportError and the tool carries on. ResetConnection
// and EnableSetupControls are steps, not events; their errors travel to the
// handler that called them.
class MainWindow : public ConnectionControl {
 public:
  // Texts and constants the window sets at start-up.
  static constexpr std::string_view kBrandText = "TAVO";
  static constexpr std::string_view kVersionText = "(V2.38-a) 14-Feb-2006 user X SL2M2";
  static constexpr std::string_view kCaptionPrefix = "UPGRADE TOOL ";
  static constexpr std::string_view kLogoText = "Simple and Speedy";
  static constexpr std::string_view kRefusedMarker = "ZUB2LL";
  static constexpr std::string_view kKeyPath = "\\SOFTWARE\\TAVOLINKS\\SOFTWAREUPGRADE_TZIP";
  static constexpr std::string_view kFileFilter = "*.bin (Binary File)|*.bin";
  static constexpr std::string_view kDefaultExtension = "*.bin";
  static constexpr int kPortCount = 10;  // cbPort holds COM1 .. COM10
  static constexpr int kLeft = 30;
  static constexpr int kTop = 50;
  static constexpr char kEnter = 13;
  static constexpr std::uint8_t kResetByte = 0x07;

  MainWindow(View& view, Port& port, PollTimer& timer, Settings& settings, FileDialog& dialog,
             WindowControls& controls);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The start-up sequence; first_argument is the first command-line argument
  // (empty when there is none).
  void FormCreate(std::string_view first_argument);
  // Saves the settings. The window closes in any case: a failure is said
  // once, and a store that could not be trusted at start-up is left alone.
  bool FormClose();

  void Open1Click();             // bbFileOpen
  void cbPortChange(int index);  // the operator picked cbPort's item index
  void bbConnectClick();         // bbConnect
  void Exit1Click();             // bbExit
  void FormKeyPress(char key);   // a key in the window or in Memo2
  void Timer1Timer();            // Timer1's tick
  void VaComm1RxChar();          // VaComm1's OnRxChar (Count is not used)
  // VaComm1's device has gone away (adapter pulled, far end hung up), idle or
  // in a run: one transition for every front end. Timer1 stops, the run
  // ends, the port closes (its threads stop, nothing polls a dead device),
  // one line says what happened, then the port-off lines and "Disconnected";
  // Enter or the button reconnects once the device is back.
  void VaComm1DeviceLost();

  // Where the selector's found devices come from (none unless set); the
  // selector is filled anew by RefreshPorts, which front ends also call when
  // the operator opens it.
  void SetPortFinder(std::function<std::vector<PortChoice>()> finder) {
    port_finder_ = std::move(finder);
  }
  void RefreshPorts();
  const std::vector<PortChoice>& PortChoices() const { return port_choices_; }
  // A run holds the setup controls (from the box's ACK until it ends).
  bool RunInProgress() const { return !view_.SetupEnabled(); }

  // Restarts an exchange; also run by the engine when the box started its
  // own software.
  void ResetConnection() override;
  void EnableSetupControls(bool enabled);
  // Sets the constants, the caption and the banner; called once by FormCreate.
  void InitMainWindow();

  // Read-only state for front ends and tests.
  const std::string& Caption() const { return caption_; }
  int PortIndex() const { return port_index_; }  // -1 when nothing is selected
  std::string PortText() const;  // the selected port's name ("COM1", a path), or empty
  const ImageInfo& Image() const { return image_; }
  const std::string& ImageCheckCode() const { return image_check_code_; }
  const Engine& GetEngine() const { return engine_; }
  // The command line sets the run-event handler and check-only mode here.
  Engine& GetEngine() { return engine_; }

  // "COM1" .. "COM10" for 0 .. 9, empty otherwise.
  static std::string PortName(int index);
  // The first COMn choices and the devices found after them.
  static std::vector<PortChoice> ComPortChoices();

 private:
  // Reports Timer1's changes to the View, so a trace sees every start and stop.
  class ReportingTimer : public PollTimer {
   public:
    ReportingTimer(PollTimer& timer, View& view) : timer_(timer), view_(view) {}
    void Start(int interval_ms) override;
    void Stop() override;
    int Interval() const override { return timer_.Interval(); }

   private:
    PollTimer& timer_;
    View& view_;
  };

  // Reports the port closing to the View, whoever closes it.
  class ReportingLink : public Link {
   public:
    ReportingLink(Port& port, View& view) : port_(port), view_(view) {}
    bool WriteText(std::string_view text) override { return port_.WriteText(text); }
    bool WriteChar(std::uint8_t byte) override { return port_.WriteChar(byte); }
    int WriteBuf(const void* data, int count) override { return port_.WriteBuf(data, count); }
    std::string ReadText() override { return port_.ReadText(); }
    void Close() override;
    bool Active() const override { return port_.Active(); }
    std::string DeviceName() const override { return port_.DeviceName(); }

   private:
    Port& port_;
    View& view_;
  };

  template <typename Step>
  void Guarded(Step&& step);

  bool LoadImage();
  // Opens the port for ResetConnection and Open1Click; on failure the shared
  // "Serial Port Open Error" path. Returns whether the port is open.
  bool OpenPortOrReport();
  void OpenPort();
  // The failed open's lines: the device name and " Disconnected !", and what
  // the operator can do about it.
  void LogOpenFailure();
  void SelectPort(int index);
  // The index of the choice named name, added to the choices if missing.
  int ChoiceIndex(const std::string& name);
  void ShowPortChoices();
  void RestoreSettings(const std::string& argument);
  std::optional<std::string> ReadSetting(std::string_view name);
  void RestorePort(const std::optional<std::string>& com_port,
                   const std::optional<std::string>& port_index);

  Port& port_;
  WindowView view_;
  ReportingTimer timer_;
  ReportingLink link_;
  Settings& settings_;
  FileDialog& dialog_;
  WindowControls& controls_;

  ImageInfo image_;
  Engine engine_;

  std::string caption_;
  std::string image_check_code_;
  int port_index_ = 0;
  std::vector<PortChoice> port_choices_ = ComPortChoices();
  std::function<std::vector<PortChoice>()> port_finder_;

  // Start-up's reading of the store: values that could not be read are not
  // overwritten unless the operator changed them, and a store that could not
  // be trusted is not written at all.
  std::set<std::string, std::less<>> unread_;
  std::string shown_file_name_;
  bool port_picked_ = false;
  bool store_untrusted_ = false;
};

}  // namespace stbup
