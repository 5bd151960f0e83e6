#include "cli/posix/doctor_checks.h"

namespace stbup {
namespace {

class ModemManagerCheck : public DoctorCheck {
 public:
  explicit ModemManagerCheck(const DoctorSystem& system) : system_(system) {}

  std::string Name() const override { return "ModemManager"; }

  std::vector<DoctorFinding> Run() const override {
    if (!ProcessRunning(system_.roots.proc, "ModemManager")) {
      return {{DoctorStatus::kOk, "not running", {}}};
    }
    const bool rule = StbupUdevRuleInstalled(system_.roots);
    std::vector<DoctorFinding> findings;
    for (const auto& port : system_.ports) {
      if (port.info.usb_vendor.empty()) continue;  // it leaves built-in ports alone
      const std::string title = PortTitle(port);
      if (UdevPropertySet(system_.roots.run, port.dev_number, "ID_MM_DEVICE_IGNORE")) {
        findings.push_back({DoctorStatus::kOk,
                            "running, and told to leave " + title + " alone (ID_MM_DEVICE_IGNORE)",
                            {}});
        continue;
      }
      std::string todo;
      if (AdapterKind(port.info.usb_vendor, port.info.usb_product).empty()) {
        todo =
            "add a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\" for this adapter's USB "
            "ids (as 60-stbup-serial.rules does for the common ones)";
      } else if (rule) {
        todo =
            "plug the adapter in again: stbup's udev rule is installed but was not applied to "
            "this adapter yet";
      } else {
        todo = kInstallUdevRule;
      }
      findings.push_back({DoctorStatus::kTodo,
                          "running, and may probe " + title +
                              ": its AT commands would reach the box's boot loader",
                          todo + "; or, with no modem on this PC: sudo systemctl disable --now "
                                 "ModemManager"});
    }
    if (!findings.empty()) return findings;
    if (rule) {
      return {{DoctorStatus::kOk,
               "running; stbup's udev rule tells it to leave common USB serial adapters alone",
               {}}};
    }
    return {{DoctorStatus::kTodo,
             "running, and without stbup's udev rule it probes USB serial adapters as they are "
             "plugged in",
             std::string(kInstallUdevRule) +
                 "; or, with no modem on this PC: sudo systemctl disable --now ModemManager"}};
  }

 private:
  const DoctorSystem& system_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakeModemManagerCheck(const DoctorSystem& system) {
  return std::make_unique<ModemManagerCheck>(system);
}

}  // namespace stbup
