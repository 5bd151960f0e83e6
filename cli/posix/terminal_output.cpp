#include "cli/terminal_output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>

namespace stbup {

bool PrepareLiveTableOutput() { return ::isatty(STDOUT_FILENO) == 1; }

std::size_t OutputColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 160;
}

void DrawLiveFrame(std::ostream& out, std::size_t previous_lines,
                   const std::vector<std::string>& lines) {
  // Back to the table's first line, and everything below it cleared, in the
  // same write as the new table.
  std::string frame;
  if (previous_lines > 0) frame += "\033[" + std::to_string(previous_lines) + "F";
  frame += "\033[J";
  for (const auto& line : lines) frame += line + "\n";
  out << frame;
  out.flush();
}

std::string LocalClockTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace stbup
