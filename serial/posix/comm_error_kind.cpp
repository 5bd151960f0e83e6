#include <cerrno>

#include "serial/va_comm_error.h"

namespace stbup {

CommErrorKind CommErrorKindOf(int error_code) {
  switch (error_code) {
    case ENOENT:
      return CommErrorKind::kNotFound;
    case EBUSY:
    case EWOULDBLOCK:  // the lock another program holds on the device
      return CommErrorKind::kBusy;
    case EACCES:
    case EPERM:
      return CommErrorKind::kDenied;
    case ENXIO:
    case ENODEV:
    case EIO:
    case EPIPE:
      return CommErrorKind::kGone;
    case ENOTTY:
      return CommErrorKind::kNotSerialDevice;
    case EINVAL:
    case EOPNOTSUPP:
      return CommErrorKind::kUnsupported;
    default:
      return CommErrorKind::kOther;
  }
}

}  // namespace stbup
