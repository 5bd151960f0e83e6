#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace stbup {

// The operator's COMn overrides from the settings file's "Ports" group
// (COM3=/dev/ttyUSB0).
using PortMap = std::map<std::string, std::string, std::less<>>;

// n of a "COMn" name (n from 1), else 0.
int ComPortNumber(std::string_view name);

// The device a COMn name opens on Linux when the map has no entry for it:
// the n-th built-in serial port.
std::string DefaultComDevice(int number);

// Whether a port name is looked up in the map: COMn names only; a path is
// used as it is and never makes the settings file read.
bool PortNameNeedsMap(std::string_view name);

// The device path for a port name on Linux: a path ("/...") as it is; COMn
// through the map, else DefaultComDevice; nothing for any other name.
std::optional<std::string> ResolvePortName(std::string_view name, const PortMap& map);

}  // namespace stbup
