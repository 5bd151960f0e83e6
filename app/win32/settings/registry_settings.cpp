#include "app/win32/settings/registry_settings.h"

#include <stdexcept>
#include <vector>

#include <windows.h>

namespace stbup {

namespace {

HKEY AsKey(std::uintptr_t key) { return reinterpret_cast<HKEY>(key); }
std::uintptr_t FromKey(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

void Close(std::uintptr_t& key) {
  if (key != 0) ::RegCloseKey(AsKey(key));
  key = 0;
}

// A value of one key: nothing when missing; throws for a value that is not text.
std::optional<std::string> QueryText(std::uintptr_t key, std::string_view name) {
  if (key == 0) return std::nullopt;
  const std::string value_name(name);
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status =
      ::RegQueryValueExA(AsKey(key), value_name.c_str(), nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    throw std::runtime_error("Invalid data type for '" + value_name + "'");
  }
  std::vector<char> bytes(size + 1, '\0');
  status = ::RegQueryValueExA(AsKey(key), value_name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(bytes.data()), &size);
  if (status != ERROR_SUCCESS)
    throw std::runtime_error("Invalid data type for '" + value_name + "'");
  // Stored text may or may not carry its terminating zero.
  std::string text(bytes.data(), size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace

RegistrySettings::~RegistrySettings() { CloseKey(); }

bool RegistrySettings::OpenKey(std::string_view path, bool create) {
  CloseKey();
  const std::string given(path);
  if (path.starts_with('\\')) path.remove_prefix(1);
  path_ = std::string(path);
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    machine_key_ = FromKey(key);
  }
  key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ | KEY_WRITE, &key) ==
      ERROR_SUCCESS) {
    user_key_ = FromKey(key);
  }
  if (user_key_ != 0 || machine_key_ != 0) return true;
  if (!create) return false;
  key = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("Failed to create key " + given);
  }
  user_key_ = FromKey(key);
  return true;
}

void RegistrySettings::CloseKey() {
  Close(user_key_);
  Close(machine_key_);
}

std::string RegistrySettings::ReadString(std::string_view name) {
  if (auto text = QueryText(user_key_, name)) return *text;
  if (auto text = QueryText(machine_key_, name)) return *text;
  return {};
}

void RegistrySettings::WriteString(std::string_view name, std::string_view value) {
  const std::string value_name(name);
  if (user_key_ == 0 && machine_key_ != 0) {
    // The key exists only machine-wide: the user's own copy takes the value.
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_READ | KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      user_key_ = FromKey(key);
    }
  }
  const std::string text(value);
  if (user_key_ == 0 || ::RegSetValueExA(AsKey(user_key_), value_name.c_str(), 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text.c_str()),
                                         static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    throw std::runtime_error("Failed to set data for '" + value_name + "'");
  }
}

std::optional<std::string> RegistrySettings::PortPath(std::string_view) const {
  return std::nullopt;
}

}  // namespace stbup
