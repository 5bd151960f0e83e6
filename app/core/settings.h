#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace stbup {

// A settings file holds three values and a port map; anything this large is
// not one, and no front end reads it (nor /dev/zero for ever).
inline constexpr std::size_t kMaxSettingsFileSize = 1024 * 1024;

// The persisted settings store: string values under one key path, plus the
// map from port names (COM3) to device paths. The window's store is an INI
// file; tests use the in-memory one.
class Settings {
 public:
  virtual ~Settings() = default;

  // Opens the key; a missing key is created when create is set, else false.
  // Creation failure throws "Failed to create key %s".
  virtual bool OpenKey(std::string_view path, bool create) = 0;
  virtual void CloseKey() = 0;
  // A missing value reads as empty; a value of another type throws
  // "Invalid data type for '%s'".
  virtual std::string ReadString(std::string_view name) = 0;
  // Failure throws "Failed to set data for '%s'".
  virtual void WriteString(std::string_view name, std::string_view value) = 0;

  // Why the store cannot be trusted (a file that cannot be read, or is not
  // in the store's format), empty when it can. Such a store is read for what
  // it gives and never written.
  virtual std::string Problem() { return {}; }

  // The device path configured for a port name in the group "Ports", if any.
  virtual std::optional<std::string> PortPath(std::string_view port_name) const = 0;
};

}  // namespace stbup
