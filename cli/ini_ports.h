#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace stbup {

// The settings file the window keeps: $STBUP_SETTINGS when set, else
// stbup/stbup.ini under the user's config directory.
std::string SettingsFilePath();

// The "Ports" group of that INI file (COM3=/dev/ttyUSB0), read without the
// window's toolkit. A missing or unreadable file gives an empty map.
std::map<std::string, std::string, std::less<>> ReadPortMap(const std::string& ini_path);

// The device path for a port name: a path ("/...") as it is; COMn through
// the map, else /dev/ttyS<n-1>; nothing for any other name.
std::optional<std::string> ResolvePortName(
    std::string_view name, const std::map<std::string, std::string, std::less<>>& map);

}  // namespace stbup
