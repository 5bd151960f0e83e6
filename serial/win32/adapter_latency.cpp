// FTDI adapters on Windows: the driver keeps each port's latency timer as the
// DWORD LatencyTimer beside its PortName, under
// HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters.
// It is read only: changing it needs an administrator and a new plug-in.
#include <array>
#include <vector>

#include "serial/adapter_latency.h"

#include <windows.h>

namespace stbup {

namespace {

std::optional<std::string> StringValue(HKEY key, const char* name) {
  std::array<char, 256> text{};
  DWORD size = sizeof text;
  if (::RegGetValueA(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(text.data());
}

std::optional<DWORD> NumberValue(HKEY key, const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueA(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> SubKeys(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    std::array<char, 256> name{};
    DWORD size = sizeof name;
    const LSTATUS status =
        ::RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name.data(), size);
  }
  return names;
}

// The timer of the instance whose PortName is the COM name, searched through
// every device and instance the driver lists.
std::optional<int> FindTimer(HKEY bus, const std::string& port) {
  for (const std::string& device : SubKeys(bus)) {
    HKEY device_key = nullptr;
    if (::RegOpenKeyExA(bus, device.c_str(), 0, KEY_READ, &device_key) != ERROR_SUCCESS) continue;
    std::optional<int> found;
    for (const std::string& instance : SubKeys(device_key)) {
      HKEY parameters = nullptr;
      const std::string sub = instance + "\\Device Parameters";
      if (::RegOpenKeyExA(device_key, sub.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) {
        continue;
      }
      const std::optional<std::string> name = StringValue(parameters, "PortName");
      if (name && ::_stricmp(name->c_str(), port.c_str()) == 0) {
        const std::optional<DWORD> timer = NumberValue(parameters, "LatencyTimer");
        if (timer && *timer <= 255) found = static_cast<int>(*timer);
      }
      ::RegCloseKey(parameters);
      if (found) break;
    }
    ::RegCloseKey(device_key);
    if (found) return found;
  }
  return std::nullopt;
}

// "COM3" of "\\.\COM3" or "COM3".
std::string ComName(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::filesystem::path DefaultAdapterRoot() { return "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"; }

std::optional<int> ReadLatencyTimer(const std::filesystem::path& root, const std::string& adapter) {
  if (adapter.empty()) return std::nullopt;
  HKEY bus = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, root.string().c_str(), 0, KEY_READ, &bus) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  const std::optional<int> timer = FindTimer(bus, ComName(adapter));
  ::RegCloseKey(bus);
  return timer;
}

AdapterLatency LowerAdapterLatency(std::intptr_t, const std::string& path,
                                   const std::filesystem::path& root) {
  AdapterLatency latency;
  latency.adapter = ComName(path);
  latency.timer_ms = ReadLatencyTimer(root, latency.adapter);
  return latency;
}

void RestoreAdapterLatency(const AdapterLatency&, const std::filesystem::path&) {}

std::string LowerLatencyAdvice() {
  return "in Device Manager, the port's Properties, Port Settings, Advanced..., set Latency "
         "Timer (msec) to 1";
}

}  // namespace stbup
