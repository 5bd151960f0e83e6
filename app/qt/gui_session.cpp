#include "app/qt/gui_session.h"

#include <QByteArray>
#include <QSysInfo>
#include <iostream>

#include "app/core/port_choices.h"
#include "app/core/settings.h"

namespace stbup {

GuiSession::GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path,
                       RecordSink* records)
    : comm_(queue_), port_(comm_), records_(records) {
  ConfigureVaComm1(comm_);
  // COMn names map through the store's Ports group, paths are used as they are.
  comm_.SetPortResolver([&settings](std::string_view name) { return settings.PortPath(name); });
  if (records_ != nullptr) {
    recorder_ = std::make_unique<BoxRecorder>(
        *records_,
        BoxRecorder::Where{QSysInfo::machineHostName().toStdString(), "window", {}, {}, {}});
  }
  controller_ = std::make_unique<MainFrmController>(port_, settings, dialogs, trace_path,
                                                    recorder_ ? &recorder_->Tap() : nullptr);
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
  controller_->Logic().GetEngine().SetRunEventHandler(
      [this](RunEvent event) { OnRunEvent(event); });
  // After the window has shown the loss: a box on the line has ended with it.
  comm_.OnDeviceLost = [this, lost = comm_.OnDeviceLost](TVaComm& comm) {
    if (lost) lost(comm);
    if (recorder_ && recorder_->BoxInProgress()) EndBox(Verdict::kPortGone);
  };
}

// The window's verdicts come from the engine's run events alone.
void GuiSession::OnRunEvent(RunEvent event) {
  if (recorder_) {
    recorder_->Observe(event);
    if (const auto verdict = WindowVerdictOf(event, recorder_->BoxInProgress())) {
      EndBox(*verdict);
    }
  }
  if (on_run_event_) on_run_event_(event);
}

void GuiSession::EndBox(Verdict verdict) {
  // The device the box is on, as the log names it.
  recorder_->SetPort(port_.DeviceName());
  recorder_->Finish(controller_->Logic(), verdict, ExitStatusOf(verdict));
  recorder_->Await();
  // The window has no place for it in its log: the terminal that started it.
  if (const auto problem = records_->TakeProblem()) {
    std::cerr << "stbup-gui: records: " << *problem << std::endl;
  }
}

GuiSession::~GuiSession() {
  // The message loop has ended: nothing serves the link's calls any more.
  queue_.Shutdown();
  comm_.OnRxChar = nullptr;
  comm_.OnException = nullptr;
  comm_.Close();
}

}  // namespace stbup
