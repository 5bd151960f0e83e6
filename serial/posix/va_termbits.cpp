#include "serial/posix/va_termbits.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace stbup {

int SetCustomBaudrate(int fd, int rate) {
  struct termios2 settings {};
  if (::ioctl(fd, TCGETS2, &settings) < 0) return errno;
  settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = static_cast<speed_t>(rate);
  settings.c_ospeed = static_cast<speed_t>(rate);
  if (::ioctl(fd, TCSETS2, &settings) < 0) return errno;
  return 0;
}

int ReadBackBaudrate(int fd) {
  struct termios2 settings {};
  if (::ioctl(fd, TCGETS2, &settings) < 0) return -1;
  return static_cast<int>(settings.c_ospeed);
}

}  // namespace stbup
