// stbup-gui: the operator's window. Optional first argument: an image file.
#include <QApplication>
#include <QIcon>
#include <string>

#include "app/qt/dialogs.h"
#include "app/qt/fonts.h"
#include "app/qt/gui_session.h"
#include "app/qt/settings/ini_settings.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("stbup-gui");
  QApplication::setWindowIcon(QIcon::fromTheme("stbup-gui"));
  stbup::InstallFontSubstitutes();

  stbup::IniSettings settings;
  stbup::ModalDialogs dialogs;
  const QByteArray trace = qgetenv("STBUP_TRACE");
  stbup::GuiSession session(settings, dialogs, trace.toStdString());
  session.Start(argc > 1 ? argv[1] : "");
  return QApplication::exec();
}
