#include "serial/posix/low_latency.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "serial/va_device.h"

namespace stbup {

SerialInfoCalls DriverSerialInfoCalls() {
  return {
      [](int fd, serial_struct& info) { return ::ioctl(fd, TIOCGSERIAL, &info) == 0 ? 0 : errno; },
      [](int fd, const serial_struct& info) {
        return ::ioctl(fd, TIOCSSERIAL, &info) == 0 ? 0 : errno;
      }};
}

int AskLowLatency(int fd, const SerialInfoCalls& calls) {
  serial_struct info{};
  if (const int error = calls.get(fd, info)) return error;
  if (info.flags & ASYNC_LOW_LATENCY) return 0;
  info.flags |= ASYNC_LOW_LATENCY;
  return calls.set(fd, info);
}

int RequestLowLatency(TVaDeviceHandle device) {
  return AskLowLatency(static_cast<int>(device), DriverSerialInfoCalls());
}

}  // namespace stbup
