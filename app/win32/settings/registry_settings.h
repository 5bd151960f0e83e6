#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/settings.h"

namespace stbup {

// The settings store in the Windows registry. The window's key lives under
// HKEY_LOCAL_MACHINE, which an ordinary user may read but not write; so:
//   - a value is read from HKEY_CURRENT_USER first, then from
//     HKEY_LOCAL_MACHINE (a machine-wide default an administrator or an
//     installer may have set);
//   - a key is created, and every value written, under HKEY_CURRENT_USER,
//     which the user always may; what the operator saves thus wins from then
//     on, on this account;
//   - a failure is an exception with the store's message texts, never silent.
// Key paths are as the window names them ("\SOFTWARE\A\B"). COM names are the
// ports Windows knows: there is no port map.
class RegistrySettings : public Settings {
 public:
  RegistrySettings() = default;
  ~RegistrySettings() override;
  RegistrySettings(const RegistrySettings&) = delete;
  RegistrySettings& operator=(const RegistrySettings&) = delete;

  bool OpenKey(std::string_view path, bool create) override;
  void CloseKey() override;
  std::string ReadString(std::string_view name) override;
  void WriteString(std::string_view name, std::string_view value) override;
  std::optional<std::string> PortPath(std::string_view port_name) const override;

 private:
  // HKEY values, kept as integers so that this header needs no windows.h.
  std::uintptr_t user_key_ = 0;     // the key under HKEY_CURRENT_USER, when open
  std::uintptr_t machine_key_ = 0;  // the key under HKEY_LOCAL_MACHINE, read only
  std::string path_;                // without the leading backslash
};

}  // namespace stbup
