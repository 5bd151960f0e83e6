#include <windows.h>

#include "serial/va_comm_error.h"

namespace stbup {

CommErrorKind CommErrorKindOf(int error_code) {
  switch (static_cast<DWORD>(error_code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return CommErrorKind::kNotFound;
    // Windows gives a COM port another program holds as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return CommErrorKind::kBusy;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
      return CommErrorKind::kGone;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return CommErrorKind::kUnsupported;
    default:
      return CommErrorKind::kOther;
  }
}

}  // namespace stbup
