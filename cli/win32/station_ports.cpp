// Windows: ports are the COM names Windows knows, listed by their drivers.
#include <cctype>
#include <string_view>

#include "cli/port_pattern.h"
#include "cli/station_ports.h"
#include "serial/serial_ports.h"

#include <windows.h>

namespace stbup {
namespace {

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// "\\.\COM10" and "COM10" are one port.
std::string_view WithoutDevicePrefix(std::string_view name) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  return name.starts_with(kDevicePrefix) ? name.substr(kDevicePrefix.size()) : name;
}

}  // namespace

PortLook::PortLook() {
  for (const SerialPortInfo& port : FindSerialPorts()) listed_.insert(port.name);
}

std::set<std::string> PortLook::Matching(const std::string& pattern) const {
  std::set<std::string> names;
  for (const std::string& name : listed_) {
    if (PortPatternMatches(WithoutDevicePrefix(pattern), name)) names.insert(name);
  }
  return names;
}

bool PortLook::Present(const std::string& device) const {
  const std::string name = UpperCase(WithoutDevicePrefix(device));
  if (name.empty()) return false;
  for (const std::string& listed : listed_) {
    if (UpperCase(listed) == name) return true;
  }
  // A port some driver did not list (a virtual one) is still a device name
  // Windows can open.
  char target[1024];
  return ::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

std::string AnchorWatchPattern(const std::string& pattern) { return pattern; }

std::string WatchPatternHelp() {
  return "Serve every COM port whose name matches this pattern (e.g. 'COM*', 'COM1?') as "
         "Windows lists it; release it when it vanishes";
}

bool StationNeedsPortMap(const std::vector<std::string>&) { return false; }

std::string StationPortDevice(const std::string& port,
                              const std::map<std::string, std::string, std::less<>>&) {
  return port;
}

}  // namespace stbup
