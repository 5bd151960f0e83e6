#include "serial/serial_ports.h"

#include "serial/adapter_latency.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace stbup {
namespace {

namespace fs = std::filesystem;

std::string ReadFirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.pop_back();
  }
  return line;
}

// The USB device a tty hangs off: the nearest ancestor carrying idVendor.
void ReadUsbFacts(const fs::path& device, SerialPortInfo& info) {
  std::error_code error;
  fs::path dir = fs::canonical(device, error);
  if (error) return;
  for (int depth = 0; depth < 8 && dir.has_relative_path(); ++depth, dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", error)) {
      info.usb_vendor = ReadFirstLine(dir / "idVendor");
      info.usb_product = ReadFirstLine(dir / "idProduct");
      info.usb_serial = ReadFirstLine(dir / "serial");
      info.usb_manufacturer = ReadFirstLine(dir / "manufacturer");
      info.usb_description = ReadFirstLine(dir / "product");
      return;
    }
  }
}

std::string FindById(const fs::path& dev_root, const std::string& name) {
  std::error_code error;
  fs::path by_id = dev_root / "serial" / "by-id";
  for (const auto& entry : fs::directory_iterator(by_id, error)) {
    std::error_code link_error;
    fs::path target = fs::read_symlink(entry.path(), link_error);
    if (!link_error && target.filename() == name) return entry.path().string();
  }
  return {};
}

}  // namespace

std::vector<SerialPortInfo> FindSerialPorts(const fs::path& sysfs_root, const fs::path& dev_root) {
  std::vector<SerialPortInfo> ports;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(sysfs_root / "class" / "tty", error)) {
    const fs::path dir = entry.path();
    const fs::path device = dir / "device";
    std::error_code link_error;
    if (!fs::exists(device, link_error)) continue;  // a virtual tty

    SerialPortInfo info;
    info.name = dir.filename().string();
    info.device_path = (dev_root / info.name).string();
    fs::path driver = fs::read_symlink(device / "driver", link_error);
    if (!link_error) info.driver = driver.filename().string();
    // The 8250 driver registers every legacy port whether or not a UART
    // answered; the unanswered ones have type 0 (PORT_UNKNOWN).
    std::error_code type_error;
    bool has_type = fs::exists(dir / "type", type_error);
    std::string type = has_type ? ReadFirstLine(dir / "type") : std::string();
    if (has_type && type == "0") continue;
    if (!has_type && info.driver.starts_with("serial8250")) continue;
    ReadUsbFacts(device, info);
    info.by_id = FindById(dev_root, info.name);
    info.latency_timer_ms = ReadLatencyTimer(sysfs_root, info.name);
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.name < b.name; });
  return ports;
}

}  // namespace stbup
