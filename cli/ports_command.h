#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "cli/command_registry.h"

namespace stbup {

struct PortsOptions {
  std::filesystem::path sysfs_root = "/sys";
  std::filesystem::path dev_root = "/dev";
  std::string settings_file;  // empty: the window's settings file
  bool json = false;          // the devices as JSON, without the COMn map
};

// Lists the serial devices found and the COMn map in force (with json: the
// devices alone, as JSON). 0, or 1 when the settings file holding the map
// cannot be read.
int RunPorts(const PortsOptions& options, std::ostream& out);

// After the devices: how port names reach them on this platform. Linux: the
// COMn map of the settings file (cli/posix/); Windows: COM names are the
// ports Windows knows, and where the store keeps the chosen one (cli/win32/).
// Returns the command's status.
int ListPortSettings(const PortsOptions& options, std::ostream& out);

void AddPortsCommand(CommandRegistry& registry);

}  // namespace stbup
