#include "serial/va_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "seams/errors.h"
#include "serial/port_names.h"
#include "serial/va_handle_object.h"

#include "serial/posix/va_termbits.h"

namespace stbup {

namespace {

struct StandardRate {
  int rate;
  speed_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const StandardRate* FindStandardRate(int rate) {
  for (const auto& entry : kStandardRates) {
    if (entry.rate == rate) return &entry;
  }
  return nullptr;
}

// Pseudo-terminals keep 8 data bits without parity whatever is asked; the
// format cannot be read back from them.
bool IsPseudoTerminal(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) < 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int major_number = major(info.st_rdev);
  return major_number >= 136 && major_number <= 143;
}

// Modem-control calls that a pseudo-terminal refuses are not errors.
int SetModemLine(int fd, int line, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return 0;
  return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

tcflag_t SizeFlag(TVaDatabits bits) {
  switch (bits) {
    case TVaDatabits::db5:
      return CS5;
    case TVaDatabits::db6:
      return CS6;
    case TVaDatabits::db7:
      return CS7;
    default:
      return CS8;
  }
}

}  // namespace

std::string PlatformDevicePath(std::string_view name, int number,
                               const std::optional<std::string>& resolved) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  if (number > 0) {
    if (resolved && !resolved->empty()) return *resolved;
    return DefaultComDevice(number);
  }
  return std::string(name);
}

TVaDeviceHandle OpenDeviceExclusive(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return kNoDevice;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) < 0) {
    error = errno;
    ::close(fd);
    return kNoDevice;
  }
  if (::ioctl(fd, TIOCEXCL) < 0 && errno != EINVAL && errno != ENOTTY) {
    error = errno;
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return kNoDevice;
  }
  return fd;
}

bool IsDeviceNotFound(int error) { return error == ENOENT; }

int ShownOpenError(int error) { return error == EWOULDBLOCK ? EBUSY : error; }

void ReleaseDevice(TVaDeviceHandle device) {
  const int fd = static_cast<int>(device);
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
}

void CloseDevice(TVaDeviceHandle device) {
  if (device >= 0) ::close(static_cast<int>(device));
}

std::intptr_t NativeHandle(TVaDeviceHandle device) { return device; }

int ApplyLineSettings(TVaDeviceHandle device, const TVaLineSettings& settings) {
  const int fd = static_cast<int>(device);
  if (settings.databits == TVaDatabits::db4 || settings.baudrate <= 0) return EINVAL;
  termios mode{};
  if (::tcgetattr(fd, &mode) < 0) return errno;

  mode.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                    IXANY | INPCK | IGNPAR);
  mode.c_oflag &= ~OPOST;
  mode.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  mode.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  mode.c_cflag |= CLOCAL | CREAD | SizeFlag(settings.databits);
  switch (settings.parity) {
    case TVaParity::paOdd:
      mode.c_cflag |= PARENB | PARODD;
      break;
    case TVaParity::paEven:
      mode.c_cflag |= PARENB;
      break;
    case TVaParity::paMark:
      mode.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case TVaParity::paSpace:
      mode.c_cflag |= PARENB | CMSPAR;
      break;
    case TVaParity::paNone:
      break;
  }
  if (settings.parity_check) mode.c_iflag |= INPCK;
  if (settings.stopbits != TVaStopbits::sb1) mode.c_cflag |= CSTOPB;
  if (settings.rts_cts_flow) mode.c_cflag |= CRTSCTS;
  if (settings.xon_xoff_out) mode.c_iflag |= IXON;
  if (settings.xon_xoff_in) mode.c_iflag |= IXOFF;
  mode.c_cc[VSTART] = static_cast<cc_t>(settings.xon_char);
  mode.c_cc[VSTOP] = static_cast<cc_t>(settings.xoff_char);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;

  const StandardRate* standard = FindStandardRate(settings.baudrate);
  if (standard != nullptr) cfsetspeed(&mode, standard->code);
  if (::tcsetattr(fd, TCSANOW, &mode) < 0) return errno;
  if (standard == nullptr) {
    if (const int error = SetCustomBaudrate(fd, settings.baudrate)) return error;
  }

  if (settings.dtr != TVaControlDtr::dtrHandshake) {
    if (const int error = SetModemLine(fd, TIOCM_DTR, settings.dtr == TVaControlDtr::dtrEnabled)) {
      return error;
    }
  }
  if (settings.rts != TVaControlRts::rtsHandshake) {
    if (const int error = SetModemLine(fd, TIOCM_RTS, settings.rts == TVaControlRts::rtsEnabled)) {
      return error;
    }
  }

  // Read back: a driver that quietly kept other values must not pass for one
  // that took them.
  termios actual{};
  if (::tcgetattr(fd, &actual) < 0) return errno;
  tcflag_t checked_cflag = CSTOPB | CRTSCTS | HUPCL | CLOCAL | CREAD;
  if (!IsPseudoTerminal(fd)) checked_cflag |= CSIZE | PARENB | PARODD | CMSPAR;
  const tcflag_t checked_iflag = IXON | IXOFF | INPCK | ICRNL | IGNCR | INLCR;
  if ((actual.c_cflag & checked_cflag) != (mode.c_cflag & checked_cflag) ||
      (actual.c_iflag & checked_iflag) != (mode.c_iflag & checked_iflag) ||
      (actual.c_lflag & ICANON) != 0 || (actual.c_oflag & OPOST) != 0) {
    return EINVAL;
  }
  const int rate = ReadBackBaudrate(fd);
  if (rate > 0 && std::abs(rate - settings.baudrate) * 100 > settings.baudrate * 3) return EINVAL;
  return 0;
}

std::optional<TVaLineCounters> ReadLineCounters(TVaDeviceHandle device) {
  serial_icounter_struct counts{};
  if (::ioctl(static_cast<int>(device), TIOCGICOUNT, &counts) < 0) return std::nullopt;
  TVaLineCounters result;
  result.frame = static_cast<std::uint64_t>(counts.frame);
  result.overrun = static_cast<std::uint64_t>(counts.overrun);
  result.parity = static_cast<std::uint64_t>(counts.parity);
  result.brk = static_cast<std::uint64_t>(counts.brk);
  result.buf_overrun = static_cast<std::uint64_t>(counts.buf_overrun);
  return result;
}

int ReadModemLines(TVaDeviceHandle device, int& lines) {
  lines = 0;
  int bits = 0;
  if (::ioctl(static_cast<int>(device), TIOCMGET, &bits) != 0) return errno;
  if (bits & TIOCM_CTS) lines |= kModemCts;
  if (bits & TIOCM_DSR) lines |= kModemDsr;
  if (bits & TIOCM_RI) lines |= kModemRing;
  if (bits & TIOCM_CD) lines |= kModemRlsd;
  return 0;
}

int BytesWaiting(TVaDeviceHandle device) {
  int count = 0;
  if (::ioctl(static_cast<int>(device), FIONREAD, &count) < 0) return -1;
  return count;
}

int BytesQueuedOut(TVaDeviceHandle device) {
  int count = 0;
  if (::ioctl(static_cast<int>(device), TIOCOUTQ, &count) < 0) return -1;
  return count;
}

// The driver sizes its own queues, and reads never wait on a non-blocking
// descriptor, which is what the zero time-outs ask for; poll reports every
// event, so there is no mask to give.
int ApplyQueueSizes(TVaDeviceHandle, int, int) { return 0; }
int ApplyNoWaitTimeouts(TVaDeviceHandle) { return 0; }
int ApplyDeviceEventMask(TVaDeviceHandle, std::uint32_t) { return 0; }

int LastDeviceError() { return errno; }
bool IsDeviceGone(int error) { return error == EIO || error == ENXIO; }
int DeviceGoneError() { return EIO; }
bool IsUnsupported(int error) { return error == ENOTTY || error == EINVAL; }
std::string DeviceErrorText(int error) { return SysErrorMessage(error); }

long ReadDevice(TVaDeviceHandle device, void* buffer, long count) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(device), buffer, static_cast<std::size_t>(count));
    if (got > 0) return static_cast<long>(got);
    // End of file on a terminal: the far end has hung up.
    if (got == 0) return kDeviceGone;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

long WriteDevice(TVaDeviceHandle device, const void* data, long count) {
  for (;;) {
    const ssize_t put = ::write(static_cast<int>(device), data, static_cast<std::size_t>(count));
    if (put >= 0) return static_cast<long>(put);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

TVaDeviceWait WaitDevice(TVaDeviceHandle device, TVaWaitEvent* stop, TVaWaitEvent* kick, int want,
                         int timeout_ms) {
  short events = 0;
  if (want & kWaitReadable) events |= POLLIN;
  if (want & kWaitWritable) events |= POLLOUT;
  pollfd entries[3] = {{stop ? static_cast<int>(stop->Handle()) : -1, POLLIN, 0},
                       {kick ? static_cast<int>(kick->Handle()) : -1, POLLIN, 0},
                       {static_cast<int>(device), events, 0}};
  for (;;) {
    const int ready = ::poll(entries, 3, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return TVaDeviceWait::Gone;
    if (ready == 0) return TVaDeviceWait::TimedOut;
    break;
  }
  if (entries[0].revents & POLLIN) return TVaDeviceWait::Stopped;
  if (entries[1].revents & POLLIN) return TVaDeviceWait::Kicked;
  const short got = entries[2].revents;
  // A hung-up terminal may also read as readable; only bytes still waiting
  // make it so.
  if ((got & (POLLHUP | POLLERR | POLLNVAL)) && BytesWaiting(device) <= 0) {
    return TVaDeviceWait::Gone;
  }
  if (got & POLLIN) return TVaDeviceWait::Readable;
  if (got & POLLOUT) return TVaDeviceWait::Writable;
  if (got & (POLLHUP | POLLERR | POLLNVAL)) return TVaDeviceWait::Gone;
  return TVaDeviceWait::TimedOut;
}

// One poll(2) of three descriptors.
bool DeviceLooksAreCheap() { return true; }

std::intptr_t CurrentThreadId() { return ::gettid(); }

void SetThreadPriorityOf(std::intptr_t thread_id, TThreadPriority priority) {
  if (thread_id <= 0) return;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), ThreadNiceValue(priority));
}

}  // namespace stbup
