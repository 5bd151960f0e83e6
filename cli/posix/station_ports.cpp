// Linux: ports are device paths; a watch pattern is a glob over the files.
#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "cli/ini_ports.h"
#include "cli/station_port.h"
#include "cli/station_ports.h"

namespace stbup {

// Nothing to ask beforehand: the file system is looked at as it is asked.
PortLook::PortLook() = default;

std::set<std::string> PortLook::Matching(const std::string& pattern) const {
  std::set<std::string> paths;
  glob_t found{};
  if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc; ++i) paths.insert(found.gl_pathv[i]);
  }
  ::globfree(&found);
  return paths;
}

bool PortLook::Present(const std::string& device) const {
  struct stat st {};
  return !device.empty() && ::stat(device.c_str(), &st) == 0;
}

std::string AnchorWatchPattern(const std::string& pattern) {
  if (pattern.empty() || pattern.starts_with("/")) return pattern;
  return (std::filesystem::current_path() / pattern).string();
}

std::string StationPortFileName(std::string_view port) { return StationFileName(port); }

std::string WatchPatternHelp() {
  return "Serve every device matching this glob (e.g. '/dev/serial/by-id/usb-*') as it "
         "appears; release it when it vanishes";
}

bool StationNeedsPortMap(const std::vector<std::string>& ports) {
  return std::any_of(ports.begin(), ports.end(),
                     [](const std::string& port) { return PortNameNeedsMap(port); });
}

std::string StationPortDevice(const std::string& port,
                              const std::map<std::string, std::string, std::less<>>& map) {
  // Any other name (a relative path) is opened as it is, from the folder the
  // station was started in: looked for there too, or it would never be served.
  return ResolvePortName(port, map).value_or(port);
}

}  // namespace stbup
