#include "serial/va_comm_error.h"

#include "serial/va_device.h"

namespace stbup {

std::string FormatCommError(std::string_view pattern, int error_code) {
  std::string result;
  std::size_t next_argument = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 == pattern.size()) {
      result += c;
      continue;
    }
    const char kind = pattern[++i];
    if (kind == '%') {
      result += '%';
    } else if (kind == 'd' || kind == 's') {
      // Arguments are taken in order: the code first, then its text.
      if (next_argument == 0) {
        result += kind == 'd' ? std::to_string(error_code) : DeviceErrorText(error_code);
      } else if (next_argument == 1) {
        result += kind == 's' ? DeviceErrorText(error_code) : std::to_string(error_code);
      }
      ++next_argument;
    } else {
      result += '%';
      result += kind;
    }
  }
  return result;
}

std::string EscapePattern(std::string_view text) {
  std::string result;
  for (const char c : text) {
    result += c;
    if (c == '%') result += '%';
  }
  return result;
}

void RaiseCommError(std::string_view pattern, int error_code) {
  throw EVaCommError(FormatCommError(pattern, error_code), CommErrorKindOf(error_code), error_code);
}

}  // namespace stbup
