#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace stbup {

// Every failure of the serial link; the message is the whole story.
class EVaCommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The pattern formatted as the framework's Format does it with two arguments,
// the error code (%d) and the system's text for it (%s); "%%" is a percent
// sign. A pattern without placeholders comes out unchanged.
std::string FormatCommError(std::string_view pattern, int error_code);

// Doubles every '%' so that a device name survives being used in a pattern.
std::string EscapePattern(std::string_view text);

// Raises EVaCommError with the pattern formatted with errno and its text.
[[noreturn]] void RaiseCommError(std::string_view pattern, int error_code);

}  // namespace stbup
