#include "cli/ini_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "image/regular_file.h"

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

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw SettingsFileError("settings file " + path + ": " + why);
}

// The whole file, read from a regular file of bounded size only; opening
// never waits on a FIFO or a device.
std::string ReadSettingsText(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    if (errno == EISDIR || errno == EINVAL) Fail(path, "not a regular file");
    Fail(path, std::strerror(errno));
  }
  struct Closer {
    int fd;
    ~Closer() { CloseFile(fd); }
  } closer{fd};
  const auto too_large = [&path] {
    Fail(path, "larger than " + std::to_string(kMaxSettingsFileSize / 1024) + " KiB");
  };
  if (IdentityOf(fd).size > static_cast<std::int64_t>(kMaxSettingsFileSize)) too_large();
  std::string text;
  char buffer[8192];
  for (;;) {
    const long got = ReadFileAt(fd, buffer, sizeof buffer, static_cast<std::int64_t>(text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail(path, std::strerror(errno));
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxSettingsFileSize) too_large();
  }
  return text;
}

}  // namespace

std::string AnchorPortName(std::string_view name, std::string_view directory) {
  if (name.empty() || name.front() == '/' || ResolvePortName(name, {})) return std::string(name);
  std::string anchored(directory);
  if (anchored.empty() || anchored.back() != '/') anchored += '/';
  return anchored.append(name);
}

PortMap ReadPortMap(const std::string& ini_path) {
  PortMap ports;
  const std::string contents = ReadSettingsText(ini_path);
  if (contents.find('\0') != std::string::npos) Fail(ini_path, "not an INI file (binary data)");
  std::istringstream in(contents);
  std::string group;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[' && text.back() == ']') {
      group = Trim(std::string_view(text).substr(1, text.size() - 2));
      continue;
    }
    auto equals = text.find('=');
    if (equals == std::string::npos) {
      Fail(ini_path, "line " + std::to_string(number) + " is neither [group] nor key=value");
    }
    if (group != "Ports") continue;
    std::string key = Trim(std::string_view(text).substr(0, equals));
    std::string value = Unquote(Trim(std::string_view(text).substr(equals + 1)));
    if (!key.empty() && !value.empty()) ports[key] = value;
  }
  return ports;
}

}  // namespace stbup
