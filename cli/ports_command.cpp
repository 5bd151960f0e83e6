#include "cli/ports_command.h"

#include <memory>

#include "app/core/main_window.h"
#include "cli/ini_ports.h"
#include "serial/serial_ports.h"

namespace stbup {

int RunPorts(const PortsOptions& options, std::ostream& out) {
  auto ports = FindSerialPorts(options.sysfs_root, options.dev_root);
  if (ports.empty()) out << "No serial devices found.\n";
  for (const auto& port : ports) {
    out << port.device_path;
    if (!port.driver.empty()) out << "  driver " << port.driver;
    if (!port.usb_vendor.empty()) {
      out << "  usb " << port.usb_vendor << ':' << port.usb_product;
      if (!port.usb_serial.empty()) out << "  serial " << port.usb_serial;
      if (!port.usb_manufacturer.empty() || !port.usb_description.empty()) {
        out << "  (" << port.usb_manufacturer
            << (port.usb_manufacturer.empty() || port.usb_description.empty() ? "" : " ")
            << port.usb_description << ')';
      }
    }
    out << '\n';
    if (!port.by_id.empty()) out << "    " << port.by_id << '\n';
  }

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

void AddPortsCommand(CommandRegistry& registry) {
  auto options = std::make_shared<PortsOptions>();
  CLI::App* sub = registry.Add("ports", "List the serial devices found and the COMn map",
                               [options](CommandIo& io) { return RunPorts(*options, io.out); });
  sub->add_option("--sysfs", options->sysfs_root, "Root of the sysfs tree (default /sys)");
  sub->add_option("--dev", options->dev_root, "Root of the device tree (default /dev)");
  sub->add_option("--settings", options->settings_file,
                  "Settings file holding the Ports group (default: $STBUP_SETTINGS, else "
                  "stbup/stbup.ini in the user's config directory)");
}

}  // namespace stbup
