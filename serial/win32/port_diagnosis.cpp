// Why a COM port does not open, as far as Windows tells: a name it does not
// know, or a port another program holds.
#include <string_view>

#include "serial/port_diagnosis.h"
#include "serial/serial_ports.h"

#include <windows.h>

namespace stbup {

std::string AdviseOnOpenFailure(CommErrorKind kind, int, const std::string& device_path,
                                const std::filesystem::path&) {
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
  if (kind == CommErrorKind::kBusy) return std::string(name) + " is in use by another program";
  return {};
}

std::string DiagnosePort(const std::string& device_path, const std::filesystem::path& proc_root) {
  HANDLE handle = ::CreateFileA(device_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    // Open now: only a name Windows does not list is worth saying.
    return AdviseOnOpenFailure(CommErrorKind::kOther, 0, device_path, proc_root);
  }
  const int error = static_cast<int>(::GetLastError());
  return AdviseOnOpenFailure(CommErrorKindOf(error), error, device_path, proc_root);
}

}  // namespace stbup
