#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace stbup {

// Every failure of the serial link; the message is the whole story.
// What kind of failure a serial error is, whatever the platform's code:
// front ends advise the operator from it without asking the device again.
enum class CommErrorKind {
  kNotFound,         // no such device
  kBusy,             // another program holds it
  kDenied,           // the user may not use it
  kGone,             // it went away, or nothing answers behind it
  kNotSerialDevice,  // it is no terminal (a file, a folder, another kind of device)
  kUnsupported,      // the device refuses the operation
  kOther,
};

// The serial component's failure: the system's message text, and the kind
// and operating-system code (errno; GetLastError on Windows) where the
// failure happened; kOther and 0 where no code applies.
class EVaCommError : public std::runtime_error {
 public:
  explicit EVaCommError(const std::string& message, CommErrorKind kind = CommErrorKind::kOther,
                        int code = 0)
      : std::runtime_error(message), kind_(kind), code_(code) {}

  CommErrorKind Kind() const { return kind_; }
  int Code() const { return code_; }

 private:
  CommErrorKind kind_;
  int code_;
};

// The kind an operating-system error code stands for; one map per platform.
CommErrorKind CommErrorKindOf(int error_code);

// The pattern formatted as the framework's Format does it with two arguments,
// the error code (%d) and the system's text for it (%s); "%%" is a percent
// sign. A pattern without placeholders comes out unchanged.
std::string FormatCommError(std::string_view pattern, int error_code);

// Doubles every '%' so that a device name survives being used in a pattern.
std::string EscapePattern(std::string_view text);

// Raises EVaCommError with the pattern formatted with errno and its text.
[[noreturn]] void RaiseCommError(std::string_view pattern, int error_code);

}  // namespace stbup
