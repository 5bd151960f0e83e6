// Why a COM port does not open, as far as Windows tells: a name it does not
// know, or a port another program holds.
#include <string_view>

#include "serial/port_diagnosis.h"
#include "serial/serial_ports.h"

#include <windows.h>

namespace stbup {

std::string DiagnosePort(const std::string& device_path, const std::filesystem::path&) {
  std::string_view name = device_path;
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  const auto ports = FindSerialPorts({}, {});
  bool known = false;
  std::string names;
  for (const auto& port : ports) {
    known = known || port.name == name;
    names += (names.empty() ? "" : ", ") + port.name;
  }
  if (!known) {
    return std::string(name) + " is not a port Windows knows" +
           (names.empty() ? std::string(" (it knows none)") : " (it knows " + names + ")");
  }
  HANDLE handle = ::CreateFileA(device_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return {};
  }
  if (::GetLastError() == ERROR_ACCESS_DENIED) {
    return std::string(name) + " is in use by another program";
  }
  return {};
}

}  // namespace stbup
