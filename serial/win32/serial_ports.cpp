// The ports Windows knows: the values under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM,
// where every serial driver lists its ports (value: the driver's device
// name, data: the COM name).
#include <algorithm>
#include <vector>

#include "serial/adapter_latency.h"
#include "serial/serial_ports.h"

#include <windows.h>

namespace stbup {

namespace {

// "COM2" before "COM10".
bool ComesBefore(const SerialPortInfo& a, const SerialPortInfo& b) {
  const auto number = [](const std::string& name) {
    std::size_t digits = name.find_first_of("0123456789");
    return digits == std::string::npos ? 0 : std::atoi(name.c_str() + digits);
  };
  if (number(a.name) != number(b.name)) return number(a.name) < number(b.name);
  return a.name < b.name;
}

}  // namespace

std::vector<SerialPortInfo> FindSerialPorts(const std::filesystem::path&,
                                            const std::filesystem::path&) {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    char value_name[256];
    DWORD name_size = sizeof value_name;
    BYTE data[256];
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    const LSTATUS status =
        ::RegEnumValueA(key, index, value_name, &name_size, nullptr, &type, data, &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[data_size] = 0;
    SerialPortInfo port;
    port.name = reinterpret_cast<const char*>(data);
    while (!port.name.empty() && port.name.back() == '\0') port.name.pop_back();
    port.device_path = port.name;
    port.driver = std::string(value_name, name_size);
    port.latency_timer_ms = ReadLatencyTimer(DefaultAdapterRoot(), port.name);
    ports.push_back(std::move(port));
  }
  ::RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), ComesBefore);
  return ports;
}

}  // namespace stbup
