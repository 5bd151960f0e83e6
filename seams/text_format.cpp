#include "seams/text_format.h"

#include <cstdio>

namespace stbup {

std::string FormatVersionTriple(const std::array<std::int32_t, 3>& version) {
  char text[40];
  std::snprintf(text, sizeof text, "%2.2X.%2.2X.%2.2X", static_cast<unsigned>(version[0]),
                static_cast<unsigned>(version[1]), static_cast<unsigned>(version[2]));
  return text;
}

std::uint32_t ReadHexField(std::string_view text) {
  if (text.empty()) return 0;
  // Leading zeros do not count towards the 32 bits: "0000000001" is 1.
  std::size_t significant = text.find_first_not_of('0');
  if (significant == std::string_view::npos) significant = text.size();
  if (text.size() - significant > 8) {
    // Too many digits for 32 bits, unless some are not digits at all (0 either way).
    return 0;
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return 0;
    }
    value = value * 16 + digit;
  }
  return value;
}

std::string FormatBlockNumber(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%4.4lld", static_cast<long long>(value));
  return text;
}

std::string BytesToUtf8(std::string_view bytes) {
  std::string utf8;
  utf8.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

}  // namespace stbup
