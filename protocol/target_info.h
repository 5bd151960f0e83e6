#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace stbup {

// The box's identification from its last "REQUEST_VERSION".
struct TargetInfo {
  std::string ModelName;
  std::array<std::int32_t, 3> SoftwareVersion{};
  std::array<std::int32_t, 3> HardwareVersion{};
};

}  // namespace stbup
