// Linux: a COMn name is mapped to a device by the settings file.
#include "app/core/main_window.h"
#include "cli/ini_ports.h"
#include "cli/ports_command.h"
#include "seams/exit_status.h"

namespace stbup {

int ListPortSettings(const PortsOptions& options, std::ostream& out) {
  std::string settings_file =
      options.settings_file.empty() ? SettingsFilePath() : options.settings_file;
  std::map<std::string, std::string, std::less<>> map;
  try {
    map = ReadPortMap(settings_file);
  } catch (const SettingsFileError& error) {
    out << "\nCOMn map: " << error.what() << '\n';
    return kExitInternalError;
  }
  out << "\nCOMn map (" << settings_file << ", group Ports):\n";
  for (int index = 0; index < MainWindow::kPortCount; ++index) {
    std::string name = MainWindow::PortName(index);
    bool configured = map.contains(name);
    out << name << (name.size() < 5 ? "  " : " ") << " -> " << *ResolvePortName(name, map)
        << (configured ? "" : "  (default)") << '\n';
  }
  // Names beyond COM10 that the settings file maps as well.
  for (const auto& [name, path] : map) {
    bool listed = false;
    for (int index = 0; index < MainWindow::kPortCount; ++index) {
      listed = listed || MainWindow::PortName(index) == name;
    }
    if (!listed) out << name << " -> " << path << '\n';
  }
  return kExitOk;
}

}  // namespace stbup
