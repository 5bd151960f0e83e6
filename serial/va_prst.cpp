#include "serial/va_prst.h"

namespace stbup {

void TVaFlowControl::Assign(const TVaPersistent& source) {
  const auto* other = dynamic_cast<const TVaFlowControl*>(&source);
  if (other == nullptr) return TVaPersistent::Assign(source);
  BeginUpdate();
  SetOutCtsFlow(other->OutCtsFlow());
  SetOutDsrFlow(other->OutDsrFlow());
  SetControlDtr(other->ControlDtr());
  SetControlRts(other->ControlRts());
  SetXonXoffOut(other->XonXoffOut());
  SetXonXoffIn(other->XonXoffIn());
  SetDsrSensitivity(other->DsrSensitivity());
  SetTxContinueOnXoff(other->TxContinueOnXoff());
  EndUpdate();
}

void TVaEventChars::Assign(const TVaPersistent& source) {
  const auto* other = dynamic_cast<const TVaEventChars*>(&source);
  if (other == nullptr) return TVaPersistent::Assign(source);
  BeginUpdate();
  for (int index = 1; index <= 5; ++index) SetChar(index, other->chars_[index - 1]);
  EndUpdate();
}

void TVaEventChars::SetChar(int index, std::uint8_t c) {
  if (index < 1 || index > 5) return;
  chars_[index - 1] = c;
  Changed();
}

void TVaBuffers::Assign(const TVaPersistent& source) {
  const auto* other = dynamic_cast<const TVaBuffers*>(&source);
  if (other == nullptr) return TVaPersistent::Assign(source);
  BeginUpdate();
  read_size_ = other->read_size_;
  write_size_ = other->write_size_;
  read_timeout_ = other->read_timeout_;
  write_timeout_ = other->write_timeout_;
  xon_limit_ = other->xon_limit_;
  xoff_limit_ = other->xoff_limit_;
  EndUpdate();
}

void TVaBuffers::Store(std::int32_t& field, std::int32_t value) {
  if (value < 0) value = 0;
  if (field == value) return;
  field = value;
  Changed();
}

}  // namespace stbup
