#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/core/port.h"
#include "seams/main_thread_queue.h"
#include "seams/memory_line.h"

namespace stbup {

class MainWindow;
class View;

// VaComm1 over the tool's end of an in-memory line: the demo plays the
// simulated box in the same process where there is no pseudo-terminal. What
// arrives reaches the window logic as the serial component's input does: a
// thread of the port's waits for each arrival and hands it to the main thread
// through the MainThreadQueue, blocking until it has been handled. Closing
// hangs the line up for good (the box sees its tool go); a closed or hung-up
// line does not open again.
class MemoryPort : public Port {
 public:
  // name: what the log shows for the port.
  MemoryPort(MainThreadQueue& queue, std::shared_ptr<MemoryLineEnd> end, std::string name);
  ~MemoryPort() override;
  MemoryPort(const MemoryPort&) = delete;
  MemoryPort& operator=(const MemoryPort&) = delete;

  void Open() override;
  // Refused while open, as the serial component refuses it.
  void SetDeviceName(std::string_view name) override;
  std::string OpenFailureReason() const override { return failed_opens_ ? last_open_error_ : ""; }
  bool WriteText(std::string_view text) override;
  bool WriteChar(std::uint8_t byte) override;
  int WriteBuf(const void* data, int count) override;
  std::string ReadText() override;
  void Close() override;
  bool Active() const override { return listener_ != nullptr; }
  std::string DeviceName() const override { return name_; }

  int FailedOpens() const { return failed_opens_; }
  const std::string& LastOpenError() const { return last_open_error_; }

  // On the main thread, as VaComm1's events: bytes have arrived; the box has
  // hung up (once per opening); an exception escaped one of these.
  std::function<void()> OnRxChar;
  std::function<void()> OnDeviceLost;
  std::function<void(const std::exception&)> OnException;

 private:
  struct Listener;

  // One batch handed over by the listener: new input, or the hang-up.
  void Dispatch(bool hung_up);
  void Guarded(const std::function<void()>& handler);

  MainThreadQueue& queue_;
  std::shared_ptr<MemoryLineEnd> end_;
  std::string name_;
  std::shared_ptr<Listener> listener_;  // while open
  int failed_opens_ = 0;
  std::string last_open_error_;
};

// OnRxChar -> VaComm1RxChar; OnDeviceLost -> VaComm1DeviceLost; exceptions
// escaping them go to the View's error report, as ConnectVaComm1 wires VaComm1.
void ConnectMemoryPort(MemoryPort& port, MainWindow& window, View& view);

}  // namespace stbup
