#include "cli/posix/doctor_checks.h"

namespace stbup {
namespace {

class LatencyTimerCheck : public DoctorCheck {
 public:
  explicit LatencyTimerCheck(const DoctorSystem& system) : system_(system) {}

  std::string Name() const override { return "latency timer"; }

  std::vector<DoctorFinding> Run() const override {
    std::vector<DoctorFinding> findings;
    for (const auto& port : system_.ports) {
      const auto timer = ReadLatencyTimer(system_.roots.sysfs, port.info.name);
      if (!timer) continue;
      const std::string title = PortTitle(port);
      const std::string ms = std::to_string(*timer) + " ms";
      if (*timer <= 1) {
        findings.push_back({DoctorStatus::kOk, title + ": " + ms, {}});
        continue;
      }
      // The adapter holds back what it received for up to this long before
      // it sends a short packet on, and the box's replies are short.
      findings.push_back(
          {DoctorStatus::kTodo,
           title + ": " + ms + ": each short reply of the box may wait up to " + ms +
               " in the adapter, which slows an upgrade",
           StbupUdevRuleInstalled(system_.roots)
               ? "plug the adapter in again: stbup's udev rule sets 1 ms when it appears"
               : std::string(kInstallUdevRule) +
                     ", which sets 1 ms; until then: echo 1 | sudo tee "
                     "/sys/bus/usb-serial/devices/" +
                     port.info.name + "/latency_timer"});
    }
    if (findings.empty()) {
      findings.push_back({DoctorStatus::kNote,
                          "no FTDI adapter found (only FTDI adapters have a latency timer)",
                          {}});
    }
    return findings;
  }

 private:
  const DoctorSystem& system_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakeLatencyTimerCheck(const DoctorSystem& system) {
  return std::make_unique<LatencyTimerCheck>(system);
}

}  // namespace stbup
