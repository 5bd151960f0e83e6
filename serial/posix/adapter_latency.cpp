// FTDI adapters on Linux: the latency timer is the sysfs attribute
// latency_timer of the tty's device; root (or the package's udev rule) may
// write it.
#include "serial/adapter_latency.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

namespace stbup {

namespace {

namespace fs = std::filesystem;

fs::path TimerPath(const fs::path& sysfs_root, const std::string& adapter) {
  return sysfs_root / "class/tty" / adapter / "device/latency_timer";
}

// The kernel's name of the tty behind an open descriptor: sysfs links each
// character device's numbers to it, whatever name or link it was opened by.
std::string TtyName(std::intptr_t device, const std::string& path, const fs::path& sysfs_root) {
  struct stat status {};
  if (::fstat(static_cast<int>(device), &status) == 0 && S_ISCHR(status.st_mode)) {
    const std::string numbers =
        std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev));
    std::error_code error;
    const fs::path target = fs::read_symlink(sysfs_root / "dev/char" / numbers, error);
    if (!error && !target.filename().empty()) return target.filename().string();
  }
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  return error ? fs::path(path).filename().string() : real.filename().string();
}

bool WriteTimer(const fs::path& file, int ms) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const std::string text = std::to_string(ms) + "\n";
  ssize_t put = 0;
  do {
    put = ::write(fd, text.data(), text.size());
  } while (put < 0 && errno == EINTR);
  const bool closed = ::close(fd) == 0;
  return put == static_cast<ssize_t>(text.size()) && closed;
}

}  // namespace

fs::path DefaultAdapterRoot() { return "/sys"; }

std::optional<int> ReadLatencyTimer(const fs::path& sysfs_root, const std::string& adapter) {
  if (adapter.empty()) return std::nullopt;
  std::ifstream in(TimerPath(sysfs_root, adapter));
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  int value = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
  if (line.empty() || error != std::errc() || end != line.data() + line.size() || value < 0 ||
      value > 255) {
    return std::nullopt;
  }
  return value;
}

AdapterLatency LowerAdapterLatency(std::intptr_t device, const std::string& path,
                                   const fs::path& sysfs_root) {
  AdapterLatency latency;
  latency.adapter = TtyName(device, path, sysfs_root);
  latency.timer_ms = ReadLatencyTimer(sysfs_root, latency.adapter);
  if (!latency.timer_ms || *latency.timer_ms <= 1) return latency;
  // Read back: a write that the driver took but did not apply changes nothing.
  if (WriteTimer(TimerPath(sysfs_root, latency.adapter), 1) &&
      ReadLatencyTimer(sysfs_root, latency.adapter) == 1) {
    latency.restore_ms = latency.timer_ms;
    latency.timer_ms = 1;
  }
  return latency;
}

void RestoreAdapterLatency(const AdapterLatency& latency, const fs::path& sysfs_root) {
  if (!latency.restore_ms) return;
  // A timer someone else changed meanwhile is theirs to keep.
  if (ReadLatencyTimer(sysfs_root, latency.adapter) != 1) return;
  WriteTimer(TimerPath(sysfs_root, latency.adapter), *latency.restore_ms);
}

std::string LowerLatencyAdvice() {
  return "install stbup's udev rule (/usr/lib/udev/rules.d/60-stbup-serial.rules, in the stbup "
         "package) and plug the adapter in again";
}

}  // namespace stbup
