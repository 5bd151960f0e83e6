#include "app/qt/gui_session.h"

#include <QByteArray>
#include <QSysInfo>

#include "app/core/port_choices.h"
#include "app/core/settings.h"

namespace stbup {

GuiSession::GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path,
                       RecordSink* records, const WindowRecords& whose)
    : queue_(&turn_), comm_(queue_), port_(comm_), records_(records) {
  ConfigureVaComm1(comm_);
  // COMn names map through the store's Ports group, paths are used as they are.
  comm_.SetPortResolver([&settings](std::string_view name) { return settings.PortPath(name); });
  BoxSession::Options box;
  box.records = records_;
  // The port as the window's device names it at each box's end.
  box.where = {
      whose.station_name.empty() ? QSysInfo::machineHostName().toStdString() : whose.station_name,
      "window",
      {},
      whose.operator_name,
      whose.work_order};
  box_session_ = std::make_unique<BoxSession>(std::move(box));
  // The uploader meets the line's server between boxes too (records left
  // from an earlier run, its retries): the memo hears of it then, not only
  // when a box ends.
  records_notices_.setInterval(250);
  QObject::connect(&records_notices_, &QTimer::timeout, [this] { SayRecordsNotices(); });
  controller_ = std::make_unique<MainFrmController>(port_, settings, dialogs, trace_path,
                                                    box_session_->RecordTap(), &turn_);
  // The selector offers the serial devices found. STBUP_SYSFS_ROOT and
  // STBUP_DEV_ROOT point it at another tree (as `stbup ports --sysfs --dev`).
  const QByteArray sysfs_root = qgetenv("STBUP_SYSFS_ROOT");
  const QByteArray dev_root = qgetenv("STBUP_DEV_ROOT");
  controller_->Logic().SetPortFinder(
      [sysfs = sysfs_root.isEmpty() ? std::string("/sys") : sysfs_root.toStdString(),
       dev = dev_root.isEmpty() ? std::string("/dev") : dev_root.toStdString()] {
        return FoundSerialPortChoices(sysfs, dev);
      });
  ConnectVaComm1(comm_, controller_->Logic(), controller_->ShownView());
  box_session_->Attach(controller_->Logic(), port_);
  // After the window has shown the loss: a box on the line has ended with it.
  comm_.OnDeviceLost = [this, lost = comm_.OnDeviceLost](TVaComm& comm) {
    if (lost) lost(comm);
    box_session_->PortLost();
  };
}

void GuiSession::Start(std::string_view first_argument) {
  // Before start-up, whose error boxes wait for the operator in a loop of their own.
  if (records_ != nullptr) records_notices_.start();
  controller_->Start(first_argument);
  box_session_->Started();
}

void GuiSession::SayRecordsNotices() {
  if (!records_->Settled()) return;
  View& memo = controller_->ShownView();
  for (const std::string& notice : TakeRecordsNotices(*records_)) memo.AddMemoLine(">> " + notice);
}

GuiSession::~GuiSession() {
  // The message loop has ended: nothing serves the link's calls any more. A
  // serial thread waiting for a modal box is let go and finishes its call
  // first; the window then keeps its turn.
  controller_->CloseView();
  turn_.Close();
  queue_.Shutdown();
  comm_.OnRxChar = nullptr;
  comm_.OnException = nullptr;
  comm_.Close();
}

}  // namespace stbup
