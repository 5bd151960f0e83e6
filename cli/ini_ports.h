#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/core/settings.h"
#include "serial/port_names.h"

namespace stbup {

// The settings file the window keeps: $STBUP_SETTINGS when set, else
// stbup/stbup.ini under the user's config directory.
std::string SettingsFilePath();

// A settings file that exists but cannot serve: not a regular file, larger
// than kMaxSettingsFileSize, unreadable, or not an INI file. The message
// names the file and says why.
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The "Ports" group of that INI file (COM3=/dev/ttyUSB0), read without the
// window's toolkit. A missing file gives an empty map (nothing configured
// yet); any other failure throws SettingsFileError. Never waits on a FIFO.
PortMap ReadPortMap(const std::string& ini_path);

// A relative device path (neither "/..." nor COMn) made absolute against the
// directory it was given in, so a later change of the current directory (to
// the image's folder) cannot make it name another file or none.
std::string AnchorPortName(std::string_view name, std::string_view directory);

}  // namespace stbup
