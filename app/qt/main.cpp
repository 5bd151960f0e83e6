// stbup-gui: the operator's window. Arguments: the record's place options and
// an optional image file (see kWindowUsage).
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSysInfo>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/core/window_records.h"
#include "app/qt/dialogs.h"
#include "app/qt/fonts.h"
#include "app/qt/gui_session.h"
#include "app/qt/settings/ini_settings.h"
#include "records/records.h"
#include "serial/line_thread_starter.h"

namespace {

// The window's thread gives way to the port's: a paint may wait a moment, a
// box waiting for its next block should not. Without privilege a thread's
// priority can only be lowered, so the window's thread is lowered, not the
// port's raised. At 10 it still has a tenth of a CPU against a busy program,
// far more than its twenty paints a second need.
constexpr int kWindowThreadNice = 10;

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The port's threads are started from a thread that keeps the priority the
  // window began with, and the window's own is lowered after.
  const stbup::LineThreadStarter line_threads;
  const auto window_thread = static_cast<id_t>(::gettid());
  ::setpriority(PRIO_PROCESS, window_thread,
                ::getpriority(PRIO_PROCESS, window_thread) + kWindowThreadNice);
  QApplication::setApplicationName("stbup-gui");
  QApplication::setWindowIcon(QIcon::fromTheme("stbup-gui"));
  stbup::InstallFontSubstitutes();

  // What Qt has left of the arguments, as bytes: an image's name need not be UTF-8.
  const std::optional<stbup::WindowArguments> arguments =
      stbup::WindowArgumentsOrUsage(argc, argv, std::cerr);
  if (!arguments) return 2;

  stbup::IniSettings settings;
  stbup::ModalDialogs dialogs;
  const QByteArray trace = qgetenv("STBUP_TRACE");
  // Every box seen through to a verdict is recorded, as by the command line.
  stbup::RecordsSurroundings surroundings;
  surroundings.environment = [](const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
  };
  surroundings.default_file = stbup::DefaultRecordsPath();
  surroundings.host_name = QSysInfo::machineHostName().toStdString();
  const stbup::WindowRecords chosen =
      stbup::ChooseWindowRecords(settings, *arguments, surroundings);
  std::unique_ptr<stbup::RecordSink> records;
  if (!chosen.file.empty()) records = stbup::OpenRecordSink(chosen.file, chosen.server);
  stbup::GuiSession session(settings, dialogs, trace.toStdString(), records.get(), chosen);
  // Unattended runs (benchmarks, scripts): with STBUP_QUIT_AFTER_RUN set the
  // window quits once the box's run has ended, 0 after "UPGRADE_SUCCESS".
  if (!qgetenv("STBUP_QUIT_AFTER_RUN").isEmpty()) {
    session.Subscribe(stbup::QuitAfterRun([](int status) {
      // Once the engine has finished with the line that ended the run; the
      // run may end on a serial thread acting for the window.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
          Qt::QueuedConnection);
    }));
  }
  session.Start(arguments->image);
  for (const std::string& problem : chosen.problems) {
    session.Controller().ShownView().AddMemoLine(">> records: " + problem);
  }
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
    for (const std::string& notice : stbup::TakeRecordsNotices(*records)) {
      std::cerr << "stbup-gui: " << notice << std::endl;
    }
  }
  return status;
}
