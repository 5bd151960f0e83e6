#include "app/qt/gui_session.h"

#include <QByteArray>

#include "app/core/port_choices.h"
#include "app/core/settings.h"

namespace stbup {

GuiSession::GuiSession(Settings& settings, Dialogs& dialogs, const std::string& trace_path)
    : comm_(queue_), port_(comm_) {
  ConfigureVaComm1(comm_);
  // COMn names map through the store's Ports group, paths are used as they are.
  comm_.SetPortResolver([&settings](std::string_view name) { return settings.PortPath(name); });
  controller_ = std::make_unique<MainFrmController>(port_, settings, dialogs, trace_path);
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
}

GuiSession::~GuiSession() {
  // The message loop has ended: nothing serves the link's calls any more.
  queue_.Shutdown();
  comm_.OnRxChar = nullptr;
  comm_.OnException = nullptr;
  comm_.Close();
}

}  // namespace stbup
