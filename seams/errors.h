#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace stbup {

// Failures travel as exceptions carrying the system's message texts; they are
// caught once, at the boundary of each UI event, and shown by the View.

// "'%s' is not a valid integer value"
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  static EConvertError NotAnInteger(std::string_view text);
};

// "Cannot open file "%s". %s" and "Cannot create file "%s". %s"
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  static EFileError CannotOpen(std::string_view path, int error_code);
  static EFileError CannotCreate(std::string_view path, int error_code);
  // "Cannot read file "%s". %s"
  static EFileError CannotRead(std::string_view path, int error_code);
  // "Cannot open file "%s". %s" with a reason of the tool's own: a download
  // source that is not, or no longer, the file that was loaded.
  static EFileError NotTheLoadedFile(std::string_view path, std::string_view reason);
};

// The platform's text for an error code as the framework shows it: trailing
// blanks, control characters and full stops removed, at most 255 characters.
std::string SysErrorMessage(int error_code);

// Strict decimal conversion as the framework's StrToInt: optional blanks in
// front, an optional sign, digits and nothing after; 32-bit range.
int StrToInt(std::string_view text);

}  // namespace stbup
