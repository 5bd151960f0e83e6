#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/port.h"
#include "app/core/window_controls.h"
#include "seams/poll_timer.h"

namespace stbup {

// A port that opens unless its device name is listed as busy, records every
// byte written while open, and hands out queued received text.
class FakePort : public Port {
 public:
  void Open() override;
  void SetDeviceName(std::string_view name) override;
  bool WriteText(std::string_view text) override;
  bool WriteChar(std::uint8_t byte) override;
  int WriteBuf(const void* data, int count) override;
  std::string ReadText() override;
  void Close() override;
  bool Active() const override { return active; }
  std::string DeviceName() const override { return device_name; }
  void SendHeldWrites() override { ++held_writes_sent; }
  std::string DevicePathOf(std::string_view name) const override {
    return "/dev/for-" + std::string(name);
  }
  std::string OpenFailureReason() const override { return open_failure_reason; }

  int held_writes_sent = 0;
  std::string open_failure_reason;
  std::string device_name = "\\\\.\\COM%d";
  bool active = false;
  std::set<std::string, std::less<>> busy;  // device names whose Open fails
  std::string written;                      // every byte sent while open
  std::string incoming;                     // what ReadText returns next
  int opens = 0;                            // successful opens
  int open_attempts = 0;
  int closes = 0;
};

// Timer1 as a value: 0 while stopped.
class FakeTimer : public PollTimer {
 public:
  void Start(int interval_ms) override {
    interval = interval_ms;
    ++starts;
  }
  void Stop() override {
    interval = 0;
    ++stops;
  }
  int Interval() const override { return interval; }

  int interval = 0;
  int starts = 0;
  int stops = 0;
};

class FakeFileDialog : public FileDialog {
 public:
  std::optional<std::string> Execute(std::string_view initial_directory, std::string_view filter,
                                     std::string_view default_extension) override;

  std::optional<std::string> answer;  // nothing = the operator cancels
  struct Call {
    std::string initial_directory, filter, default_extension;
  };
  std::vector<Call> calls;
};

class FakeWindowControls : public WindowControls {
 public:
  void SelectPort(int index) override { selected_port = index; }
  void SetPortChoices(const std::vector<std::string>& labels) override { port_labels = labels; }
  void SetCaption(std::string_view text) override { caption = text; }
  void SetPosition(int x, int y) override {
    left = x;
    top = y;
  }
  bool CloseWindow() override;
  void Terminate() override { ++terminations; }
  std::string CurrentDirectory() const override { return current_directory; }
  bool SetCurrentDirectory(std::string_view directory) override;

  int selected_port = -2;  // never selected
  std::vector<std::string> port_labels;
  std::string caption = "MainFrm";
  int left = 0;
  int top = 0;
  std::string current_directory = "/home/operator";
  std::vector<std::string> directory_changes;
  // What closing the window runs (the front end's close event), if set.
  std::function<bool()> on_close;
  int closes = 0;
  int terminations = 0;
};

}  // namespace stbup
