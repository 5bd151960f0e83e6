#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace stbup {

// One serial device found under /sys/class/tty.
struct SerialPortInfo {
  std::string name;         // ttyUSB0
  std::string device_path;  // /dev/ttyUSB0
  std::string driver;       // ftdi_sio, serial8250, ...
  std::string usb_vendor;   // idVendor, e.g. 0403, when on USB
  std::string usb_product;  // idProduct
  std::string usb_serial;
  std::string usb_manufacturer;
  std::string usb_description;
  std::string by_id;                    // the stable /dev/serial/by-id name, when there is one
  std::optional<int> latency_timer_ms;  // an FTDI adapter's latency timer
};

// Serial devices under <sysfs_root>/class/tty, sorted by name. Virtual ttys
// (no device link) and 8250 ports that were never probed (type 0) are left
// out. by-id names are looked up under <dev_root>/serial/by-id.
std::vector<SerialPortInfo> FindSerialPorts(const std::filesystem::path& sysfs_root = "/sys",
                                            const std::filesystem::path& dev_root = "/dev");

}  // namespace stbup
