// stbup-gui.exe: the operator's window on Windows. Optional first argument:
// an image file.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/win32/dialogs.h"
#include "app/win32/gui_session.h"
#include "app/win32/settings/registry_settings.h"
#include "app/win32/windows_api.h"
#include "records/records.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The window's message loop: Enter and Tab are the window's before any
// control sees them; everything else is dispatched as usual.
int RunMessageLoop(stbup::TMainFrm& frame) {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (frame.PreTranslateMessage(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int main(int argc, char** argv) {
  stbup::RegistrySettings settings;
  stbup::ModalDialogs dialogs;
  // Every box seen through to a verdict is recorded, as by the command line,
  // and sent on to the line's server named as the command line takes it.
  const std::string records_path = stbup::DefaultRecordsPath();
  std::unique_ptr<stbup::RecordSink> records;
  if (!records_path.empty()) {
    records = stbup::OpenRecordSink(records_path, Environment("STBUP_RECORDS_SERVER"));
  }
  stbup::GuiSession session(settings, dialogs, Environment("STBUP_TRACE"), records.get());
  // Closing the window ends the tool.
  session.Frame().OnDestroy = [] { ::PostQuitMessage(0); };
  // Unattended runs (benchmarks, scripts): with STBUP_QUIT_AFTER_RUN set the
  // window quits once the box's run has ended, 0 after "UPGRADE_SUCCESS".
  if (!Environment("STBUP_QUIT_AFTER_RUN").empty()) {
    session.Subscribe(stbup::QuitAfterRun([](int status) {
      // WM_QUIT comes once the engine has finished with the line that ended the run.
      ::PostQuitMessage(status);
    }));
  }
  session.Start(argc > 1 ? argv[1] : "");
  const int status = RunMessageLoop(session.Frame());
  // A record still pending at close: waited for (10 s at most, then kept
  // beside the file), and what became of it said on the standard error the
  // window was started with, if any.
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
