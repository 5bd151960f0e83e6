#pragma once

#include <string>
#include <string_view>

#include "app/core/port.h"
#include "serial/va_comm.h"

namespace stbup {

class MainWindow;
class View;

// VaComm1 behind the window's Port seam.
class VaCommPort : public Port {
 public:
  explicit VaCommPort(TVaComm& comm) : comm_(comm) {}

  void Open() override;
  void SetDeviceName(std::string_view name) override { comm_.SetDeviceName(name); }
  void SendHeldWrites() override { comm_.SendHeldWrites(); }
  std::string DevicePathOf(std::string_view name) const override;
  std::string OpenFailureReason() const override;
  bool WriteText(std::string_view text) override { return comm_.WriteText(text); }
  bool WriteChar(std::uint8_t byte) override { return comm_.WriteChar(byte); }
  int WriteBuf(const void* data, int count) override { return comm_.WriteBuf(data, count); }
  std::string ReadText() override { return comm_.ReadText(); }
  void Close() override { comm_.Close(); }
  bool Active() const override { return comm_.Active(); }
  std::string DeviceName() const override { return comm_.DeviceName(); }

  TVaComm& Comm() { return comm_; }
  // Failed opens so far and the last one's message, for front ends that
  // explain what the operator can do about it.
  int FailedOpens() const { return failed_opens_; }
  const std::string& LastOpenError() const { return last_open_error_; }
  // What the operator can do about the last failed open, from its kind and
  // code; empty when nothing beyond its message is known.
  std::string OpenFailureAdvice() const;

 private:
  TVaComm& comm_;
  int failed_opens_ = 0;
  std::string last_open_error_;
  CommErrorKind last_open_kind_ = CommErrorKind::kOther;
  int last_open_code_ = 0;
};

// The design settings of VaComm1: 115200 baud, no flow control of any kind,
// DTR and RTS held disabled, device name pattern "COM%d", port number 1, the
// event thread at the highest priority.
void ConfigureVaComm1(TVaComm& comm);

// OnRxChar -> VaComm1RxChar; OnDeviceLost -> VaComm1DeviceLost; OnError
// does nothing; errors escaping the component's own handlers go to the
// View's error report.
void ConnectVaComm1(TVaComm& comm, MainWindow& window, View& view);

}  // namespace stbup
