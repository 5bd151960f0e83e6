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

std::string LocalClockTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace stbup
