#pragma once

#include <string_view>

namespace stbup {

// A port name against a --watch pattern where the names are not files (the
// COM names Windows lists): '*' any run of characters, '?' one, "[...]" one
// of a set or range ("[!...]" none of them); letters in any case, as Windows
// takes its device names. A '[' without its ']' stands for itself.
bool PortPatternMatches(std::string_view pattern, std::string_view name);

}  // namespace stbup
