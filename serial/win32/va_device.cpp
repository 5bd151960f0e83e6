// The Win32 side of the port, opening and settings: CreateFileA with
// overlapped I/O, the DCB, SetupComm, SetCommTimeouts, SetCommMask, the modem
// lines, the line counters and the system's error texts. Reads and writes are
// in va_device_io.cpp, the wait for line events in va_device_wait.cpp.
#include <cstring>
#include <memory>

#include "serial/win32/win32_port.h"

namespace stbup {

namespace {

BYTE ParityOf(TVaParity parity) {
  switch (parity) {
    case TVaParity::paOdd:
      return ODDPARITY;
    case TVaParity::paEven:
      return EVENPARITY;
    case TVaParity::paMark:
      return MARKPARITY;
    case TVaParity::paSpace:
      return SPACEPARITY;
    case TVaParity::paNone:
      break;
  }
  return NOPARITY;
}

BYTE StopBitsOf(TVaStopbits bits) {
  switch (bits) {
    case TVaStopbits::sb15:
      return ONE5STOPBITS;
    case TVaStopbits::sb2:
      return TWOSTOPBITS;
    case TVaStopbits::sb1:
      break;
  }
  return ONESTOPBIT;
}

// Wine opens a COM name whose Linux device is missing: the handle is then of
// no known type and the port is not a device.
bool IsMissingDeviceUnderWine(HANDLE handle) {
  return ::GetFileType(handle) == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR;
}

}  // namespace

std::string PlatformDevicePath(std::string_view name, int, const std::optional<std::string>&) {
  // COM names are the ports Windows knows; "COM10" and above open only
  // through the device space, so every name goes there.
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.starts_with(kDevicePrefix)) return std::string(name);
  return std::string(kDevicePrefix) + std::string(name);
}

TVaDeviceHandle OpenDeviceExclusive(const std::string& path, int& error) {
  auto port = std::make_unique<Win32Port>();
  // No sharing: a port another program holds fails with ERROR_ACCESS_DENIED.
  port->handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port->handle == INVALID_HANDLE_VALUE) {
    error = Fail(::GetLastError());
    return kNoDevice;
  }
  if (IsMissingDeviceUnderWine(port->handle)) {
    error = Fail(ERROR_FILE_NOT_FOUND);
    return kNoDevice;
  }
  port->line_wait = NewLineWait();
  port->pending_read = NewPendingRead();
  if (!port->line_wait || !port->pending_read) {
    error = Fail(::GetLastError());
    return kNoDevice;
  }
  for (OVERLAPPED* io : {&port->read_io, &port->write_io}) {
    io->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (io->hEvent == nullptr) {
      error = Fail(::GetLastError());
      return kNoDevice;
    }
  }
  return reinterpret_cast<TVaDeviceHandle>(port.release());
}

bool IsDeviceNotFound(int error) { return error == ERROR_FILE_NOT_FOUND; }

int ShownOpenError(int error) { return error; }

// Exclusive use is the unshared opening itself; it ends with the handle.
void ReleaseDevice(TVaDeviceHandle) {}

void CloseDevice(TVaDeviceHandle device) {
  if (device != kNoDevice) delete PortOf(device);
}

std::intptr_t NativeHandle(TVaDeviceHandle device) {
  return reinterpret_cast<std::intptr_t>(PortOf(device)->handle);
}

int ApplyLineSettings(TVaDeviceHandle device, const TVaLineSettings& settings) {
  if (settings.databits == TVaDatabits::db4 || settings.baudrate <= 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(settings.baudrate);
  dcb.fBinary = 1;
  dcb.fParity = settings.parity_check ? 1 : 0;
  dcb.fOutxCtsFlow = settings.rts_cts_flow ? 1 : 0;
  dcb.fDtrControl = settings.dtr == TVaControlDtr::dtrEnabled     ? DTR_CONTROL_ENABLE
                    : settings.dtr == TVaControlDtr::dtrHandshake ? DTR_CONTROL_HANDSHAKE
                                                                  : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = settings.rts == TVaControlRts::rtsEnabled     ? RTS_CONTROL_ENABLE
                    : settings.rts == TVaControlRts::rtsHandshake ? RTS_CONTROL_HANDSHAKE
                    : settings.rts == TVaControlRts::rtsToggle    ? RTS_CONTROL_TOGGLE
                                                                  : RTS_CONTROL_DISABLE;
  dcb.fOutX = settings.xon_xoff_out ? 1 : 0;
  dcb.fInX = settings.xon_xoff_in ? 1 : 0;
  dcb.fAbortOnError = 0;
  dcb.XonLim = static_cast<WORD>(settings.xon_limit);
  dcb.XoffLim = static_cast<WORD>(settings.xoff_limit);
  dcb.ByteSize = static_cast<BYTE>(static_cast<int>(settings.databits) + 4);
  dcb.Parity = ParityOf(settings.parity);
  dcb.StopBits = StopBitsOf(settings.stopbits);
  dcb.XonChar = static_cast<char>(settings.xon_char);
  dcb.XoffChar = static_cast<char>(settings.xoff_char);
  if (!::SetCommState(PortOf(device)->handle, &dcb)) return Fail(::GetLastError());
  return 0;
}

int ApplyQueueSizes(TVaDeviceHandle device, int read_size, int write_size) {
  if (!::SetupComm(PortOf(device)->handle, static_cast<DWORD>(read_size),
                   static_cast<DWORD>(write_size))) {
    return Fail(::GetLastError());
  }
  return 0;
}

int ApplyNoWaitTimeouts(TVaDeviceHandle device) {
  Win32Port& port = *PortOf(device);
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  std::lock_guard lock(port.receive_mutex);
  // A pending read, where the receive path keeps one, sets its own again.
  port.reads_block = false;
  if (!::SetCommTimeouts(port.handle, &timeouts)) return Fail(::GetLastError());
  return 0;
}

int ApplyDeviceEventMask(TVaDeviceHandle device, std::uint32_t mask) {
  if (!::SetCommMask(PortOf(device)->handle, mask)) return Fail(::GetLastError());
  return 0;
}

// The driver has no such request; an FTDI adapter's timer is read from the
// registry instead (serial/win32/adapter_latency.cpp).
int RequestLowLatency(TVaDeviceHandle) { return 0; }

std::optional<TVaLineCounters> ReadLineCounters(TVaDeviceHandle device) {
  Win32Port& port = *PortOf(device);
  COMSTAT status{};
  if (!QueryComm(port, status)) return std::nullopt;
  std::lock_guard lock(port.status_mutex);
  return port.counters;
}

int ReadModemLines(TVaDeviceHandle device, int& lines) {
  lines = 0;
  DWORD status = 0;
  if (!::GetCommModemStatus(PortOf(device)->handle, &status)) return Fail(::GetLastError());
  // MS_CTS_ON, MS_DSR_ON, MS_RING_ON and MS_RLSD_ON are the contract's bits.
  lines = static_cast<int>(status & (kModemCts | kModemDsr | kModemRing | kModemRlsd));
  return 0;
}

bool IsDeviceGone(int error) {
  // ERROR_NOT_READY and ERROR_BROKEN_PIPE: a port whose far end hung up (Wine
  // on a pty); the others: a USB adapter pulled out.
  return error == ERROR_NOT_READY || error == ERROR_BROKEN_PIPE || error == ERROR_BAD_COMMAND ||
         error == ERROR_GEN_FAILURE || error == ERROR_DEVICE_NOT_CONNECTED ||
         error == ERROR_FILE_NOT_FOUND;
}

int DeviceGoneError() { return ERROR_NOT_READY; }

bool IsUnsupported(int error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_INVALID_PARAMETER;
}

std::string DeviceErrorText(int error) {
  char buffer[512];
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  if (text.size() > 255) text.resize(255);
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

// A look is a round of overlapped operations and cancellations, and the
// emulator's serial line is not one to spin on.
bool DeviceLooksAreCheap() { return false; }

std::intptr_t CurrentThreadId() { return static_cast<std::intptr_t>(::GetCurrentThreadId()); }

void SetThreadPriorityOf(std::intptr_t thread_id, TThreadPriority priority) {
  static constexpr int kPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                        THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                        THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                        THREAD_PRIORITY_TIME_CRITICAL};
  if (thread_id <= 0) return;
  HANDLE thread = ::OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(thread_id));
  if (thread == nullptr) return;
  ::SetThreadPriority(thread, kPriorities[static_cast<int>(priority)]);
  ::CloseHandle(thread);
}

}  // namespace stbup
