#pragma once

namespace stbup {

// Line rates outside the standard table go through termios2 with BOTHER.
// This pair lives apart because the kernel's termios header clashes with the
// C library's <termios.h>.

// Sets both directions to rate bits per second; 0 or the errno.
int SetCustomBaudrate(int fd, int rate);
// The output rate the device reports now, in bits per second; -1 on failure.
int ReadBackBaudrate(int fd);

}  // namespace stbup
