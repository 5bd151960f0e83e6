#pragma once

#include <filesystem>
#include <string>

namespace stbup {

// Why a port cannot be opened, in words an operator can act on: a missing
// device, a permission the user lacks (naming the group that owns the
// device), or another program holding it (naming it, where /proc tells).
// Empty when a fresh attempt finds nothing wrong.
std::string DiagnosePort(const std::string& device_path,
                         const std::filesystem::path& proc_root = "/proc");

// The programs holding device_path open: "minicom (pid 4242)", ...
std::string FindHolders(const std::string& device_path, const std::filesystem::path& proc_root);

}  // namespace stbup
