#include "cli/ini_ports.h"

#include <charconv>
#include <cstdlib>
#include <fstream>

namespace stbup {
namespace {

std::string Trim(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// The INI writer quotes values holding special characters and escapes
// backslashes and quotes inside them.
std::string Unquote(const std::string& value) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
  std::string plain;
  for (std::size_t i = 1; i + 1 < value.size(); ++i) {
    if (value[i] == '\\' && i + 2 < value.size()) ++i;
    plain += value[i];
  }
  return plain;
}

}  // namespace

std::string SettingsFilePath() {
  if (const char* explicit_path = std::getenv("STBUP_SETTINGS"); explicit_path && *explicit_path) {
    return explicit_path;
  }
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::string(home) + "/.config";
  } else {
    config = ".config";
  }
  return config + "/stbup/stbup.ini";
}

std::map<std::string, std::string, std::less<>> ReadPortMap(const std::string& ini_path) {
  std::map<std::string, std::string, std::less<>> ports;
  std::ifstream in(ini_path);
  std::string group;
  for (std::string line; std::getline(in, line);) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[' && text.back() == ']') {
      group = Trim(std::string_view(text).substr(1, text.size() - 2));
      continue;
    }
    if (group != "Ports") continue;
    auto equals = text.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(std::string_view(text).substr(0, equals));
    std::string value = Unquote(Trim(std::string_view(text).substr(equals + 1)));
    if (!key.empty() && !value.empty()) ports[key] = value;
  }
  return ports;
}

std::optional<std::string> ResolvePortName(
    std::string_view name, const std::map<std::string, std::string, std::less<>>& map) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  if (auto found = map.find(name); found != map.end()) return found->second;
  if (name.size() > 3 && name.substr(0, 3) == "COM") {
    int number = 0;
    auto digits = name.substr(3);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc() && end == digits.data() + digits.size() && number >= 1) {
      return "/dev/ttyS" + std::to_string(number - 1);
    }
  }
  return std::nullopt;
}

}  // namespace stbup
