#include "app/core/va_comm_port.h"

#include <exception>

#include "app/core/main_window.h"
#include "seams/view.h"
#include "serial/port_diagnosis.h"

namespace stbup {

void VaCommPort::Open() {
  try {
    comm_.Open();
  } catch (const EVaCommError& error) {
    ++failed_opens_;
    last_open_error_ = error.what();
    last_open_kind_ = error.Kind();
    last_open_code_ = error.Code();
    throw;
  } catch (const std::exception& error) {
    ++failed_opens_;
    last_open_error_ = error.what();
    last_open_kind_ = CommErrorKind::kOther;
    last_open_code_ = 0;
    throw;
  }
}

std::string VaCommPort::DevicePathOf(std::string_view name) const {
  std::string path = comm_.PathOf(name);
  // Windows opens a COM name through its device space ("\\.\COM3"); the
  // operator knows the port by its name alone.
  constexpr std::string_view kDeviceSpace = "\\\\.\\";
  if (path.starts_with(kDeviceSpace)) path.erase(0, kDeviceSpace.size());
  return path;
}

std::string VaCommPort::OpenFailureReason() const {
  if (failed_opens_ == 0) return {};
  // The advice says what to do; without one, the component's own words.
  std::string reason = OpenFailureAdvice();
  return reason.empty() ? last_open_error_ : reason;
}

std::string VaCommPort::OpenFailureAdvice() const {
  if (failed_opens_ == 0) return {};
  return AdviseOnOpenFailure(last_open_kind_, last_open_code_, comm_.DevicePath());
}

void ConfigureVaComm1(TVaComm& comm) {
  comm.SetBaudrate(TVaBaudrate::br115200);
  TVaFlowControl& flow = comm.FlowControl();
  flow.SetOutCtsFlow(false);
  flow.SetOutDsrFlow(false);
  flow.SetControlDtr(TVaControlDtr::dtrDisabled);
  flow.SetControlRts(TVaControlRts::rtsDisabled);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  flow.SetDsrSensitivity(false);
  flow.SetTxContinueOnXoff(false);
  comm.SetDeviceName("COM%d");
  comm.SetPortNum(1);
  comm.SetEventPriority(TThreadPriority::tpHighest);
  // One box on the port: its answers are awaited awake (ReplyWatch).
  comm.SetWatchReplies(true);
}

void ConnectVaComm1(TVaComm& comm, MainWindow& window, View& view) {
  comm.OnRxChar = [&window](TVaComm&, int) { window.VaComm1RxChar(); };
  comm.OnDeviceLost = [&window](TVaComm&) { window.VaComm1DeviceLost(); };
  comm.OnError = [](TVaComm&, int) {};
  comm.OnException = [&view](const std::exception& error) { view.ReportError(error.what()); };
}

}  // namespace stbup
