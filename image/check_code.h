#pragma once

#include <string>
#include <string_view>

namespace stbup {

// The check code a new-format image must carry to be taken as one of ours.
// Built at start-up from its pieces rather than kept as one literal.
std::string BuildImageCheckCode();

// Check codes that accept an image and waive one compatibility check.
inline constexpr std::string_view kModelWildcard = "kestrelowl";
inline constexpr std::string_view kHardwareWildcard = "marblefig";

}  // namespace stbup
