#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/platform.h"
#include "cli/station_command.h"

#include <windows.h>

namespace stbup {

// Windows has no pseudo-terminal for the simulator to speak on, so
// `simulate` is not offered here (`demo` plays its box on an in-memory line).
void AddPlatformCommands(CommandRegistry& registry) { AddStationCommand(registry); }

void PrepareStandardStreams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // The progress bars redraw their line with the terminal's erase sequence,
  // which a console obeys only when asked to (Windows 10 and later).
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error != INVALID_HANDLE_VALUE && ::GetConsoleMode(error, &mode)) {
    constexpr DWORD kVirtualTerminalProcessing = 0x0004;
    ::SetConsoleMode(error, mode | kVirtualTerminalProcessing);
  }
}

std::string HostName() {
  char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof host;
  if (!::GetComputerNameA(host, &size) || size == 0) return "localhost";
  return std::string(host, size);
}

std::string NoRecordsPlaceReason() {
  return "(STBUP_RECORDS and LOCALAPPDATA are unset and Windows names no local application data "
         "folder): the boxes are not recorded; give --records FILE, or set STBUP_RECORDS";
}

}  // namespace stbup
