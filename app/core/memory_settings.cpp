#include "app/core/memory_settings.h"

#include <stdexcept>

namespace stbup {

bool MemorySettings::OpenKey(std::string_view path, bool create) {
  auto found = keys.find(path);
  if (found == keys.end()) {
    if (!create) return false;
    if (fail_create) throw std::runtime_error("Failed to create key " + std::string(path));
    keys.emplace(std::string(path), std::map<std::string, std::string>{});
  }
  open_key_ = std::string(path);
  return true;
}

void MemorySettings::CloseKey() { open_key_.reset(); }

std::string MemorySettings::ReadString(std::string_view name) {
  if (!open_key_) return {};
  if (non_text_values.contains(name)) {
    throw std::runtime_error("Invalid data type for '" + std::string(name) + "'");
  }
  const auto& values = keys[*open_key_];
  auto found = values.find(std::string(name));
  return found == values.end() ? std::string() : found->second;
}

void MemorySettings::WriteString(std::string_view name, std::string_view value) {
  if (!open_key_ || unwritable_values.contains(name)) {
    throw std::runtime_error("Failed to set data for '" + std::string(name) + "'");
  }
  keys[*open_key_][std::string(name)] = std::string(value);
}

std::optional<std::string> MemorySettings::PortPath(std::string_view port_name) const {
  auto found = ports.find(port_name);
  if (found == ports.end()) return std::nullopt;
  return found->second;
}

}  // namespace stbup
