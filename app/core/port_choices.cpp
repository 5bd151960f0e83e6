#include "app/core/port_choices.h"

#include "serial/serial_ports.h"

namespace stbup {

std::vector<PortChoice> FoundSerialPortChoices(const std::filesystem::path& sysfs_root,
                                               const std::filesystem::path& dev_root) {
  std::vector<PortChoice> choices;
  for (const SerialPortInfo& port : FindSerialPorts(sysfs_root, dev_root)) {
    PortChoice choice;
    choice.name = port.by_id.empty() ? port.device_path : port.by_id;
    std::string about = port.usb_manufacturer;
    if (!port.usb_description.empty()) about += (about.empty() ? "" : " ") + port.usb_description;
    if (about.empty()) about = port.driver;
    // The device node first: short, and what the operator knows from dmesg.
    choice.label = port.device_path;
    if (!about.empty()) choice.label += "  " + about;
    if (!port.by_id.empty()) choice.label += "  " + port.by_id;
    choices.push_back(std::move(choice));
  }
  return choices;
}

}  // namespace stbup
