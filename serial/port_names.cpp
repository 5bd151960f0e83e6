#include "serial/port_names.h"

namespace stbup {

int ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.substr(0, 3) != "COM") return 0;
  long long number = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
    if (number > 1'000'000) return 0;
  }
  return static_cast<int>(number);
}

std::string DefaultComDevice(int number) { return "/dev/ttyS" + std::to_string(number - 1); }

bool PortNameNeedsMap(std::string_view name) { return !name.empty() && name.front() != '/'; }

std::optional<std::string> ResolvePortName(std::string_view name, const PortMap& map) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  if (const auto found = map.find(name); found != map.end()) return found->second;
  if (const int number = ComPortNumber(name); number > 0) return DefaultComDevice(number);
  return std::nullopt;
}

}  // namespace stbup
