#include "cli/ports_command.h"

#include <memory>
#include <nlohmann/json.hpp>

#include "seams/exit_status.h"
#include "serial/serial_ports.h"

namespace stbup {

namespace {

// Every port as one object; facts the system does not have are empty, a
// timer the adapter does not have is null.
void WritePortsJson(const std::vector<SerialPortInfo>& ports, std::ostream& out) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& port : ports) {
    list.push_back(
        {{"device", port.device_path},
         {"name", port.name},
         {"driver", port.driver},
         {"usb_vendor", port.usb_vendor},
         {"usb_product", port.usb_product},
         {"usb_serial", port.usb_serial},
         {"usb_manufacturer", port.usb_manufacturer},
         {"usb_description", port.usb_description},
         {"by_id", port.by_id},
         {"latency_timer_ms",
          port.latency_timer_ms ? nlohmann::json(*port.latency_timer_ms) : nlohmann::json()}});
  }
  out << nlohmann::json{{"ports", list}}.dump(-1, ' ', false,
                                              nlohmann::json::error_handler_t::replace)
      << '\n';
}

}  // namespace

int RunPorts(const PortsOptions& options, std::ostream& out) {
  auto ports = FindSerialPorts(options.sysfs_root, options.dev_root);
  if (options.json) {
    WritePortsJson(ports, out);
    return kExitOk;
  }
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
    if (port.latency_timer_ms) out << "  latency timer " << *port.latency_timer_ms << " ms";
    out << '\n';
    if (!port.by_id.empty()) out << "    " << port.by_id << '\n';
  }

  return ListPortSettings(options, out);
}

void AddPortsCommand(CommandRegistry& registry) {
  auto options = std::make_shared<PortsOptions>();
  CLI::App* sub = registry.Add("ports", "List the serial devices found and the COMn map",
                               [options](CommandIo& io) { return RunPorts(*options, io.out); });
  sub->add_option("--sysfs", options->sysfs_root, "Root of the sysfs tree (default /sys)");
  sub->add_option("--dev", options->dev_root, "Root of the device tree (default /dev)");
  sub->add_flag("--json", options->json,
                "The devices as one JSON object (each adapter's latency timer included)");
  sub->add_option("--settings", options->settings_file,
                  "Settings file holding the Ports group (default: $STBUP_SETTINGS, else "
                  "stbup/stbup.ini in the user's config directory)");
}

}  // namespace stbup
