#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace stbup {

// A version triple as the system shows it everywhere: "%2.2x.%2.2x.%2.2x",
// upper-case digits, at least two each (01.0A.33).
std::string FormatVersionTriple(const std::array<std::int32_t, 3>& version);

// A hexadecimal field of the box: either letter case, any number of leading
// zeros; empty or invalid gives 0, as does a value beyond 32 bits.
std::uint32_t ReadHexField(std::string_view text);

// "%4.4d": at least four digits, zero-padded (768 -> "0768").
std::string FormatBlockNumber(std::int64_t value);

// The system's single-byte texts as UTF-8, each byte read as Latin-1, for
// files and records that must be valid UTF-8 whatever the box sent.
std::string BytesToUtf8(std::string_view bytes);

}  // namespace stbup
