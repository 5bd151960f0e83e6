#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/va_comm_types.h"

namespace stbup {

class TVaWaitEvent;

// The platform's side of the port, behind one small contract that the
// component and its threads use and nothing else: open and configure,
// non-blocking read and write, queue counts, modem lines, line counters, one
// wait on {device, stop, kick}, and the ports the system knows. Each platform
// implements it in files of its own (serial/posix/, serial/win32/), picked by
// CMake. Failures come back as the platform's error code (errno, or
// GetLastError) so the component raises them with its own patterns.

// An open device: a descriptor on POSIX; on Windows the port's own record
// holding the HANDLE and its overlapped state. kNoDevice when closed.
using TVaDeviceHandle = std::intptr_t;
inline constexpr TVaDeviceHandle kNoDevice = -1;

// The device path for a port name ("COM3" on Windows: \\.\COM3). number is
// n of a "COMn" name, else 0; resolved is what the settings map the name to.
std::string PlatformDevicePath(std::string_view name, int number,
                               const std::optional<std::string>& resolved);

// Opens path for exclusive use; the device, or kNoDevice with error set to
// the code of the step that failed (a lock another program holds included).
TVaDeviceHandle OpenDeviceExclusive(const std::string& path, int& error);
// The "not found" codes ("Specified device not found").
bool IsDeviceNotFound(int error);
// The code a failed open's message shows for error: a device another
// program has locked fails like a busy port, while the error keeps its own code.
int ShownOpenError(int error);
// Gives up the exclusive use taken at opening; the device stays open.
void ReleaseDevice(TVaDeviceHandle device);
// Closes the device; the handle is invalid afterwards.
void CloseDevice(TVaDeviceHandle device);
// The platform's handle of the device (the descriptor, or the HANDLE).
std::intptr_t NativeHandle(TVaDeviceHandle device);

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
  std::int32_t xon_limit = 1024;  // where the driver keeps flow-control limits
  std::int32_t xoff_limit = 1024;
  TVaControlDtr dtr = TVaControlDtr::dtrDisabled;
  TVaControlRts rts = TVaControlRts::rtsDisabled;
};

// The line format and rate, DTR and RTS, then the settings read back; 0 or
// the error code (an "invalid" code when the device kept other values).
int ApplyLineSettings(TVaDeviceHandle device, const TVaLineSettings& settings);
// The driver's queue sizes; 0 or the error code (0 where there is no such call).
int ApplyQueueSizes(TVaDeviceHandle device, int read_size, int write_size);
// Reads return at once with what is waiting; writes have no device time-out.
int ApplyNoWaitTimeouts(TVaDeviceHandle device);
// The line events the device is to report; 0 or the error code.
int ApplyDeviceEventMask(TVaDeviceHandle device, std::uint32_t mask);

// Cumulative line-error counters; all zero where the driver keeps none.
struct TVaLineCounters {
  std::uint64_t frame = 0, overrun = 0, parity = 0, brk = 0, buf_overrun = 0;
  friend bool operator==(const TVaLineCounters&, const TVaLineCounters&) = default;
};
// Nothing where the query fails; LastDeviceError then tells why (unsupported:
// the device keeps no counters, as a pty).
std::optional<TVaLineCounters> ReadLineCounters(TVaDeviceHandle device);
// CE_ bits for the counters that grew between before and after.
std::uint32_t LineErrorBits(const TVaLineCounters& before, const TVaLineCounters& after);

// The modem-status lines, as these bits.
inline constexpr int kModemCts = 0x10;
inline constexpr int kModemDsr = 0x20;
inline constexpr int kModemRing = 0x40;
inline constexpr int kModemRlsd = 0x80;
// 0 or the error code; an unsupported code where the device has none (a pty).
int ReadModemLines(TVaDeviceHandle device, int& lines);

// Asks the driver to hand received bytes on at once instead of gathering
// them (Linux: ASYNC_LOW_LATENCY through TIOCGSERIAL/TIOCSSERIAL); 0 or the
// error code. Pseudo-terminals and drivers without the setting refuse it,
// which is no fault of the port.
int RequestLowLatency(TVaDeviceHandle device);

// The device's answers that line events are told from, and the low-latency
// request made at opening, replaceable so that they can be tried without
// hardware.
struct TVaDeviceQueries {
  std::function<int(TVaDeviceHandle device, int& lines)> ModemLines = ReadModemLines;
  std::function<std::optional<TVaLineCounters>(TVaDeviceHandle device)> LineCounters =
      ReadLineCounters;
  std::function<int(TVaDeviceHandle device)> LowLatency = RequestLowLatency;
};

// Bytes in the input queue and in the output queue; -1 on failure
// (LastDeviceError tells why).
int BytesWaiting(TVaDeviceHandle device);
int BytesQueuedOut(TVaDeviceHandle device);

// The error code of the last failed call of this contract on this thread.
int LastDeviceError();
// Codes meaning the device has gone away (unplugged, far end hung up), and
// the one to report when a wait found it gone.
bool IsDeviceGone(int error);
int DeviceGoneError();
// Codes meaning the device does not do what was asked (no modem lines, no
// counters): not an error of the line.
bool IsUnsupported(int error);
// The platform's text for a code, as the framework shows it (at most 255
// characters, no trailing blanks, control characters or full stops).
std::string DeviceErrorText(int error);

// Never waits. Bytes read (0: nothing waiting), kDeviceGone when the far end
// has hung up, or -1 on failure (LastDeviceError).
inline constexpr long kDeviceGone = -2;
long ReadDevice(TVaDeviceHandle device, void* buffer, long count);
// Never waits. Bytes the device took (0: none now, wait until writable), or
// -1 on failure (LastDeviceError; IsDeviceGone tells a loss).
long WriteDevice(TVaDeviceHandle device, const void* data, long count);

enum class TVaDeviceWait { Stopped, Kicked, Readable, Writable, Gone, TimedOut };
inline constexpr int kWaitReadable = 1;
inline constexpr int kWaitWritable = 2;
// Waits at most timeout_ms (-1: no limit) until stop or kick (either may be
// null) is signalled, or the device is readable or writable as asked in want
// (kWaitReadable, kWaitWritable, or 0 for neither), or gone. A failing wait
// answers Gone; the caller pauses before looking again, so a vanished device
// is never a busy loop. Stop takes precedence, then kick.
TVaDeviceWait WaitDevice(TVaDeviceHandle device, TVaWaitEvent* stop, TVaWaitEvent* kick, int want,
                         int timeout_ms);
// Whether a wait of no time is a plain look at the device, cheap enough for
// the event thread to watch the line with when an answer is due.
bool DeviceLooksAreCheap();

// The calling thread's id as the priority call below takes it.
std::intptr_t CurrentThreadId();
// Best effort: raising a priority needs a privilege the tool may not have.
void SetThreadPriorityOf(std::intptr_t thread_id, TThreadPriority priority);

}  // namespace stbup
