#pragma once

#include <string_view>

namespace stbup {

// One dispatched unit: a received line split at its first ":", or the
// flash-info record. The texts view the line being dispatched and live only
// as long as its dispatch.
struct Message {
  static constexpr std::size_t kMaxArgument = 300;

  std::string_view Command;
  std::string_view Argument;
  // Only for the loader forms "REQUEST_V" and "REQUEST_L".
  std::string_view VersionDigits;
};

}  // namespace stbup
