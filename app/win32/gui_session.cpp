#include "app/win32/gui_session.h"

#include "app/core/port_choices.h"
#include "app/core/settings.h"

namespace stbup {

GuiSession::GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path)
    : comm_(queue_), port_(comm_) {
  ConfigureVaComm1(comm_);
  controller_ = std::make_unique<MainFrmController>(port_, settings, dialogs, trace_path);
  // The selector offers the ports Windows knows besides COM1 .. COM10.
  controller_->Logic().SetPortFinder([] { return FoundSerialPortChoices(); });
  ConnectVaComm1(comm_, controller_->Logic(), controller_->ShownView());
}

GuiSession::~GuiSession() {
  // The message loop has ended: nothing serves the link's calls any more.
  queue_.Shutdown();
  comm_.OnRxChar = nullptr;
  comm_.OnException = nullptr;
  comm_.Close();
}

}  // namespace stbup
