// stbup-gui.exe: the operator's window on Windows. Arguments: the record's
// place options and an optional image file (see kWindowUsage).
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/core/window_records.h"
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

std::string ComputerName() {
  char name[256];
  DWORD size = sizeof name;
  if (::GetComputerNameA(name, &size) == 0) return {};
  return std::string(name, size);
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
  const std::optional<stbup::WindowArguments> arguments =
      stbup::WindowArgumentsOrUsage(argc, argv, std::cerr);
  if (!arguments) return 2;
  stbup::RegistrySettings settings;
  stbup::ModalDialogs dialogs;
  // Every box seen through to a verdict is recorded, as by the command line.
  stbup::RecordsSurroundings surroundings;
  surroundings.environment = Environment;
  surroundings.default_file = stbup::DefaultRecordsPath();
  surroundings.host_name = ComputerName();
  const stbup::WindowRecords chosen =
      stbup::ChooseWindowRecords(settings, *arguments, surroundings);
  std::unique_ptr<stbup::RecordSink> records;
  if (!chosen.file.empty()) records = stbup::OpenRecordSink(chosen.file, chosen.server);
  stbup::GuiSession session(settings, dialogs, Environment("STBUP_TRACE"), records.get(), chosen);
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
  session.Start(arguments->image);
  for (const std::string& problem : chosen.problems) {
    session.Controller().ShownView().AddMemoLine(">> records: " + problem);
  }
  const int status = RunMessageLoop(session.Frame());
  // A record still pending at close: waited for (10 s at most, then kept
  // beside the file), and what became of it said on the standard error the
  // window was started with, if any.
  if (records) {
    records->Flush();
    for (const std::string& notice : stbup::TakeRecordsNotices(*records)) {
      std::cerr << "stbup-gui: " << notice << std::endl;
    }
  }
  return status;
}
