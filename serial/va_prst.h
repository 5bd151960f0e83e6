#pragma once

#include <cstdint>

#include "serial/va_classes.h"
#include "serial/va_comm_types.h"

namespace stbup {

// Hardware and software flow control of the line.
class TVaFlowControl : public TVaPersistent {
 public:
  void Assign(const TVaPersistent& source) override;

  bool OutCtsFlow() const { return out_cts_flow_; }
  bool OutDsrFlow() const { return out_dsr_flow_; }
  TVaControlDtr ControlDtr() const { return control_dtr_; }
  TVaControlRts ControlRts() const { return control_rts_; }
  bool XonXoffOut() const { return xon_xoff_out_; }
  bool XonXoffIn() const { return xon_xoff_in_; }
  bool DsrSensitivity() const { return dsr_sensitivity_; }
  bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }

  void SetOutCtsFlow(bool value) { Store(out_cts_flow_, value); }
  void SetOutDsrFlow(bool value) { Store(out_dsr_flow_, value); }
  void SetControlDtr(TVaControlDtr value) { Store(control_dtr_, value); }
  void SetControlRts(TVaControlRts value) { Store(control_rts_, value); }
  void SetXonXoffOut(bool value) { Store(xon_xoff_out_, value); }
  void SetXonXoffIn(bool value) { Store(xon_xoff_in_, value); }
  void SetDsrSensitivity(bool value) { Store(dsr_sensitivity_, value); }
  void SetTxContinueOnXoff(bool value) { Store(tx_continue_on_xoff_, value); }

 private:
  template <typename T>
  void Store(T& field, T value) {
    if (field == value) return;
    field = value;
    Changed();
  }

  bool out_cts_flow_ = false;
  bool out_dsr_flow_ = false;
  TVaControlDtr control_dtr_ = TVaControlDtr::dtrDisabled;
  TVaControlRts control_rts_ = TVaControlRts::rtsDisabled;
  bool xon_xoff_out_ = false;
  bool xon_xoff_in_ = false;
  bool dsr_sensitivity_ = false;
  bool tx_continue_on_xoff_ = false;
};

// The special characters of the line. One setter serves all five, selected by
// index 1 XonChar, 2 XoffChar, 3 ErrorChar, 4 EventChar, 5 EofChar.
class TVaEventChars : public TVaPersistent {
 public:
  void Assign(const TVaPersistent& source) override;

  std::uint8_t XonChar() const { return chars_[0]; }
  std::uint8_t XoffChar() const { return chars_[1]; }
  std::uint8_t ErrorChar() const { return chars_[2]; }
  std::uint8_t EventChar() const { return chars_[3]; }
  std::uint8_t EofChar() const { return chars_[4]; }

  void SetXonChar(std::uint8_t c) { SetChar(1, c); }
  void SetXoffChar(std::uint8_t c) { SetChar(2, c); }
  void SetErrorChar(std::uint8_t c) { SetChar(3, c); }
  void SetEventChar(std::uint8_t c) { SetChar(4, c); }
  void SetEofChar(std::uint8_t c) { SetChar(5, c); }
  // Stores without comparing and tells the owner.
  void SetChar(int index, std::uint8_t c);

 private:
  std::uint8_t chars_[5] = {17, 19, 0, 0, 0};
};

// Queue sizes, time-outs and flow limits (all 0..2147483647). The time-outs
// are plain values: changing them tells nobody.
class TVaBuffers : public TVaPersistent {
 public:
  void Assign(const TVaPersistent& source) override;

  std::int32_t ReadSize() const { return read_size_; }
  std::int32_t WriteSize() const { return write_size_; }
  std::int32_t XonLimit() const { return xon_limit_; }
  std::int32_t XoffLimit() const { return xoff_limit_; }
  std::int32_t ReadTimeout() const { return read_timeout_; }
  std::int32_t WriteTimeout() const { return write_timeout_; }

  void SetReadSize(std::int32_t value) { Store(read_size_, value); }
  void SetWriteSize(std::int32_t value) { Store(write_size_, value); }
  void SetXonLimit(std::int32_t value) { Store(xon_limit_, value); }
  void SetXoffLimit(std::int32_t value) { Store(xoff_limit_, value); }
  void SetReadTimeout(std::int32_t value) { read_timeout_ = Clamp(value); }
  void SetWriteTimeout(std::int32_t value) { write_timeout_ = Clamp(value); }

 private:
  static std::int32_t Clamp(std::int32_t value) { return value < 0 ? 0 : value; }
  void Store(std::int32_t& field, std::int32_t value);

  std::int32_t read_size_ = 4096;
  std::int32_t write_size_ = 2048;
  std::int32_t read_timeout_ = 1000;
  std::int32_t write_timeout_ = 1000;
  std::int32_t xon_limit_ = 1024;
  std::int32_t xoff_limit_ = 1024;
};

}  // namespace stbup
