#include <ctime>

#include "cli/terminal_output.h"
#include "cli/win32/console_output.h"

namespace stbup {

bool ConsoleTakesSequences(HANDLE output) {
  DWORD mode = 0;
  if (output == nullptr || output == INVALID_HANDLE_VALUE || !::GetConsoleMode(output, &mode)) {
    return false;
  }
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  // An older console refuses the mode: its cursor would not move back, and
  // every redraw would scroll a whole table by.
  return ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
         ::GetConsoleMode(output, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int ConsoleColumns(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(output, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool PrepareLiveTableOutput() { return ConsoleTakesSequences(::GetStdHandle(STD_OUTPUT_HANDLE)); }

std::size_t OutputColumns() {
  const int columns = ConsoleColumns(::GetStdHandle(STD_OUTPUT_HANDLE));
  return columns > 0 ? static_cast<std::size_t>(columns) : 160;
}

std::string LocalClockTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_s(&local, &now);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace stbup
