#pragma once

#include <windows.h>

#include <string>

namespace stbup {

// The system's own words for an error code, without the line end Windows
// puts after them ("The system cannot find the path specified").
std::string SystemErrorText(DWORD code);

}  // namespace stbup
