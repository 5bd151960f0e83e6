// Windows: ports are the COM names Windows knows, listed by their drivers.
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "cli/port_pattern.h"
#include "cli/station_port.h"
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

// A name Windows opens as a device wherever it stands, whatever extension
// follows: "COM1.log" is the port.
bool IsDeviceName(std::string_view stem) {
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  const std::string upper = UpperCase(stem);
  for (std::string_view name : kPlain) {
    if (upper == name) return true;
  }
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string StationPortFileName(std::string_view port) {
  std::string name = StationFileName(port);
  const std::size_t stem = name.find('.');
  const std::size_t end = stem == std::string::npos ? name.size() : stem;
  if (end == 0 || !IsDeviceName(std::string_view(name).substr(0, end))) return name;
  // A letter or digit is never escaped otherwise: the name stays one of its own.
  char escaped[4];
  std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(name[end - 1]));
  return name.replace(end - 1, 1, escaped);
}

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
