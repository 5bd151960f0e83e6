#pragma once

#include <filesystem>
#include <string>

#include "serial/va_comm_error.h"

namespace stbup {

// Why a port cannot be opened, in words an operator can act on: a missing
// device, a permission the user lacks (naming the group that owns the
// device), or another program holding it (naming it, where /proc tells).
// Empty when a fresh attempt finds nothing wrong.
std::string DiagnosePort(const std::string& device_path,
                         const std::filesystem::path& proc_root = "/proc");

// What the operator can do about a failed open of device_path, from the
// failure's kind and code alone (the device is not opened again): a missing
// device, the group to join, the program holding it. Empty when there is no
// advice beyond the failure's own message. The one reason every front end gives.
std::string AdviseOnOpenFailure(CommErrorKind kind, int error_code, const std::string& device_path,
                                const std::filesystem::path& proc_root = "/proc");

// The programs holding device_path open: "minicom (pid 4242)", ...
std::string FindHolders(const std::string& device_path, const std::filesystem::path& proc_root);

}  // namespace stbup
