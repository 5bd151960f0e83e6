#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "serial/va_comm_types.h"

namespace stbup {

// The POSIX side of the port: exclusive opening, termios, modem lines, the
// counters behind line errors and the queue sizes. Failures come back as an
// errno value so the component can raise them with its own patterns.

// Opens path for exclusive use; the descriptor, or -errno. A device held by
// another program (its lock taken) gives -EBUSY, as a busy COM port would.
int OpenDeviceExclusive(const std::string& path);
// Gives up the exclusive use taken at opening; the descriptor stays open.
void ReleaseDevice(int fd);

struct TVaLineSettings {
  int baudrate = 1200;
  TVaParity parity = TVaParity::paNone;
  TVaDatabits databits = TVaDatabits::db8;
  TVaStopbits stopbits = TVaStopbits::sb1;
  bool parity_check = false;
  bool rts_cts_flow = false;
  bool xon_xoff_out = false;
  bool xon_xoff_in = false;
  std::uint8_t xon_char = 17;
  std::uint8_t xoff_char = 19;
  TVaControlDtr dtr = TVaControlDtr::dtrDisabled;
  TVaControlRts rts = TVaControlRts::rtsDisabled;
};

// Raw mode with the given format and rate, then DTR and RTS, then the
// settings read back; 0 or the errno (EINVAL when the device kept other
// values than those asked for).
int ApplyLineSettings(int fd, const TVaLineSettings& settings);

// Cumulative line-error counters; all zero where the driver keeps none.
struct TVaLineCounters {
  std::uint64_t frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
  friend bool operator==(const TVaLineCounters&, const TVaLineCounters&) = default;
};
// Nothing where the query fails; errno then tells why (ENOTTY or EINVAL: the
// device keeps no counters, as a pty).
std::optional<TVaLineCounters> ReadLineCounters(int fd);
// CE_ bits for the counters that grew between before and after.
std::uint32_t LineErrorBits(const TVaLineCounters& before, const TVaLineCounters& after);

// The modem-status lines (TIOCM_CTS, TIOCM_DSR, TIOCM_RI, TIOCM_CD bits) in
// lines; 0 or the errno, ENOTTY or EINVAL where the device has none (a pty).
int ReadModemLines(int fd, int& lines);

// The device's answers that line events are told from, replaceable so that
// line changes can be tried without hardware.
struct TVaDeviceQueries {
  std::function<int(int fd, int& lines)> ModemLines = ReadModemLines;
  std::function<std::optional<TVaLineCounters>(int fd)> LineCounters = ReadLineCounters;
};

// Bytes in the input queue (FIONREAD) and the output queue (TIOCOUTQ); -1 with
// errno set on failure.
int BytesWaiting(int fd);
int BytesQueuedOut(int fd);

// Best effort: raising a priority needs a privilege the tool may not have.
void SetThreadNice(pid_t thread_id, TThreadPriority priority);

}  // namespace stbup
