#include "app/win32/gui_session.h"

#include "app/core/port_choices.h"
#include "app/core/settings.h"
#include "app/win32/windows_api.h"

namespace stbup {
namespace {

std::string ComputerName() {
  char name[256];
  DWORD size = sizeof name;
  if (::GetComputerNameA(name, &size) == 0) return {};
  return std::string(name, size);
}

}  // namespace

GuiSession::GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path,
                       RecordSink* records, const WindowRecords& whose)
    : comm_(queue_), port_(comm_), records_(records) {
  ConfigureVaComm1(comm_);
  BoxSession::Options box;
  box.records = records_;
  // The port as the window's device names it at each box's end.
  box.where = {whose.station_name.empty() ? ComputerName() : whose.station_name,
               "window",
               {},
               whose.operator_name,
               whose.work_order};
  box_session_ = std::make_unique<BoxSession>(std::move(box));
  controller_ = std::make_unique<MainFrmController>(port_, settings, dialogs, trace_path,
                                                    box_session_->RecordTap());
  // The selector offers the ports Windows knows besides COM1 .. COM10.
  controller_->Logic().SetPortFinder([] { return FoundSerialPortChoices(); });
  ConnectVaComm1(comm_, controller_->Logic(), controller_->ShownView());
  box_session_->Attach(controller_->Logic(), port_);
  // After the window has shown the loss: a box on the line has ended with it.
  comm_.OnDeviceLost = [this, lost = comm_.OnDeviceLost](TVaComm& comm) {
    if (lost) lost(comm);
    box_session_->PortLost();
  };
  if (records_ != nullptr) {
    // The uploader meets the line's server between boxes too (records left
    // from an earlier run, its retries): the memo hears of it then, not only
    // when a box ends.
    records_notices_ =
        std::make_unique<Win32PollTimer>(controller_->Frame().Handle(), TMainFrm::kRecordsTimerId);
    controller_->Frame().OnRecordsTimer = [this] { SayRecordsNotices(); };
  }
}

void GuiSession::Start(std::string_view first_argument) {
  // Before start-up, whose error boxes wait for the operator in a loop of their own.
  if (records_notices_) records_notices_->Start(250);
  controller_->Start(first_argument);
  box_session_->Started();
}

void GuiSession::SayRecordsNotices() {
  if (!records_->Settled()) return;
  View& memo = controller_->ShownView();
  for (const std::string& notice : TakeRecordsNotices(*records_)) memo.AddMemoLine(">> " + notice);
}

GuiSession::~GuiSession() {
  // The message loop has ended: nothing serves the link's calls any more.
  queue_.Shutdown();
  comm_.OnRxChar = nullptr;
  comm_.OnException = nullptr;
  comm_.Close();
}

}  // namespace stbup
