#include "seams/errors.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace stbup {

EConvertError EConvertError::NotAnInteger(std::string_view text) {
  std::string message = "'";
  message.append(text);
  message += "' is not a valid integer value";
  return EConvertError(message);
}

EFileError EFileError::CannotOpen(std::string_view path, int error_code) {
  return EFileError("Cannot open file \"" + std::string(path) + "\". " +
                    SysErrorMessage(error_code));
}

EFileError EFileError::CannotCreate(std::string_view path, int error_code) {
  return EFileError("Cannot create file \"" + std::string(path) + "\". " +
                    SysErrorMessage(error_code));
}

EFileError EFileError::CannotRead(std::string_view path, int error_code) {
  return EFileError("Cannot read file \"" + std::string(path) + "\". " +
                    SysErrorMessage(error_code));
}

EFileError EFileError::NotTheLoadedFile(std::string_view path, std::string_view reason) {
  return EFileError("Cannot open file \"" + std::string(path) + "\". " + std::string(reason));
}

std::string SysErrorMessage(int error_code) {
  std::string text = std::strerror(error_code);
  if (text.size() > 255) text.resize(255);
  while (!text.empty()) {
    const unsigned char last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last != '.') break;
    text.pop_back();
  }
  return text;
}

int StrToInt(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;  // blanks only, no tabs
  std::string_view digits = text.substr(pos);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  long long value = 0;
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') {
    throw EConvertError::NotAnInteger(text);
  }
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    throw EConvertError::NotAnInteger(text);
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) throw EConvertError::NotAnInteger(text);
  return static_cast<int>(value);
}

}  // namespace stbup
