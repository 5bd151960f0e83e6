#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace stbup {

// One item of the port selector: the name opened, saved as "ComPort" and
// logged ("COM3", "/dev/serial/by-id/usb-FTDI_..."), and the text shown,
// which says what device the name means.
struct PortChoice {
  std::string name;
  std::string label;

  friend bool operator==(const PortChoice&, const PortChoice&) = default;
};

// The serial devices this machine has now, as selector items: a USB
// adapter by its stable by-id name (the ttyUSBn number changes with the plug
// order), with its maker and product; other ports by their device path. On
// Windows: the COM names Windows knows, each with its driver's device (the
// roots are not used there).
std::vector<PortChoice> FoundSerialPortChoices(const std::filesystem::path& sysfs_root = "/sys",
                                               const std::filesystem::path& dev_root = "/dev");

}  // namespace stbup
