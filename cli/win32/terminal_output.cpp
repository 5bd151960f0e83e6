#include <algorithm>
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

bool DrawConsoleFrame(HANDLE output, std::size_t previous_lines,
                      const std::vector<std::string>& lines) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(output, &info)) return false;
  const int top = std::max(0, static_cast<int>(info.dwCursorPosition.Y) -
                                  static_cast<int>(std::min<std::size_t>(previous_lines, 0x7FFF)));
  if (!::SetConsoleCursorPosition(output, COORD{0, static_cast<SHORT>(top)})) return false;
  // Padded short of the last column, where a console would move on by itself.
  const std::size_t width =
      static_cast<std::size_t>(std::max(1, info.srWindow.Right - info.srWindow.Left));
  std::string text;
  for (const std::string& line : lines) {
    text += line.substr(0, width);
    if (line.size() < width) text.append(width - line.size(), ' ');
    text += '\n';
  }
  for (std::size_t done = 0; done < text.size();) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 0x8000));
    if (!::WriteConsoleA(output, text.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  // What is left of a longer previous frame, down to the window's bottom
  // (below it nothing has been written).
  if (!::GetConsoleScreenBufferInfo(output, &info)) return false;
  const int bottom = std::max<int>(info.dwCursorPosition.Y, info.srWindow.Bottom);
  const DWORD cells =
      static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(bottom - info.dwCursorPosition.Y + 1);
  DWORD filled = 0;
  ::FillConsoleOutputCharacterA(output, ' ', cells, info.dwCursorPosition, &filled);
  ::FillConsoleOutputAttribute(output, info.wAttributes, cells, info.dwCursorPosition, &filled);
  return true;
}

bool PrepareLiveTableOutput() { return ConsoleTakesSequences(::GetStdHandle(STD_OUTPUT_HANDLE)); }

std::size_t OutputColumns() {
  const int columns = ConsoleColumns(::GetStdHandle(STD_OUTPUT_HANDLE));
  return columns > 1 ? static_cast<std::size_t>(columns - 1) : 160;
}

void DrawLiveFrame(std::ostream& out, std::size_t previous_lines,
                   const std::vector<std::string>& lines) {
  // What was written before is on the console before the frame goes over it.
  out.flush();
  if (DrawConsoleFrame(::GetStdHandle(STD_OUTPUT_HANDLE), previous_lines, lines)) return;
  for (const auto& line : lines) out << line << '\n';
  out.flush();
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
