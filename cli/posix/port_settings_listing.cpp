// Linux: a COMn name is mapped to a device by the settings file.
#include "app/core/main_window.h"
#include "cli/ini_ports.h"
#include "cli/ports_command.h"

namespace stbup {

void ListPortSettings(const PortsOptions& options, std::ostream& out) {
  std::string settings_file =
      options.settings_file.empty() ? SettingsFilePath() : options.settings_file;
  auto map = ReadPortMap(settings_file);
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
}

}  // namespace stbup
