// stbup-gui: the operator's window. Optional first argument: an image file.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <iostream>
#include <memory>
#include <string>

#include "app/qt/dialogs.h"
#include "app/qt/fonts.h"
#include "app/qt/gui_session.h"
#include "app/qt/settings/ini_settings.h"
#include "records/records.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("stbup-gui");
  QApplication::setWindowIcon(QIcon::fromTheme("stbup-gui"));
  stbup::InstallFontSubstitutes();

  stbup::IniSettings settings;
  stbup::ModalDialogs dialogs;
  const QByteArray trace = qgetenv("STBUP_TRACE");
  // Every box seen through to a verdict is recorded, as by the command line.
  const std::string records_path = stbup::DefaultRecordsPath();
  std::unique_ptr<stbup::RecordSink> records;
  // The line's server, as the command line takes it from the environment.
  if (!records_path.empty()) {
    records = stbup::OpenRecordSink(records_path, qgetenv("STBUP_RECORDS_SERVER").toStdString());
  }
  stbup::GuiSession session(settings, dialogs, trace.toStdString(), records.get());
  // Unattended runs (benchmarks, scripts): with STBUP_QUIT_AFTER_RUN set the
  // window quits once the box's run has ended, 0 after "UPGRADE_SUCCESS".
  if (!qgetenv("STBUP_QUIT_AFTER_RUN").isEmpty()) {
    session.Subscribe(stbup::QuitAfterRun([](int status) {
      // Once the engine has finished with the line that ended the run.
      QTimer::singleShot(0, [status] { QCoreApplication::exit(status); });
    }));
  }
  session.Start(argc > 1 ? argv[1] : "");
  // Checks that the programs start where they are installed: with
  // STBUP_QUIT_AFTER_START set the window quits, 0, once it has started (the
  // settings read, the image loaded, the port opened) and shown itself.
  if (!qgetenv("STBUP_QUIT_AFTER_START").isEmpty()) {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  }
  const int status = QApplication::exec();
  // A record still pending at close: waited for (10 s at most, then kept
  // beside the file), and what became of it said where the window was started.
  if (records) {
    records->Flush();
    if (const auto problem = records->TakeProblem()) {
      std::cerr << "stbup-gui: records: " << *problem << std::endl;
    }
    for (const std::string& note : records->TakeNotes()) {
      std::cerr << "stbup-gui: records: " << note << std::endl;
    }
  }
  return status;
}
