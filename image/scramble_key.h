#pragma once

#include <array>
#include <cstdint>

namespace stbup {

inline constexpr int kBlockSize = 1024;

// Format-2 images store payload byte i of every 1024-byte slice as
// plain + ScrambleKey[i] (mod 256); the block sender subtracts it again.
extern const std::array<std::uint8_t, kBlockSize> ScrambleKey;

}  // namespace stbup
