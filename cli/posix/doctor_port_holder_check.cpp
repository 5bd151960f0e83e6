#include <system_error>

#include "cli/posix/doctor_checks.h"
#include "serial/port_diagnosis.h"

namespace stbup {
namespace {

class PortHolderCheck : public DoctorCheck {
 public:
  explicit PortHolderCheck(const DoctorSystem& system) : system_(system) {}

  std::string Name() const override { return "port in use"; }

  std::vector<DoctorFinding> Run() const override {
    std::vector<DoctorFinding> findings;
    for (const auto& port : system_.ports) {
      std::error_code error;
      if (!std::filesystem::exists(port.device, error)) continue;  // said under port access
      const std::string holders = FindHolders(port.device, system_.roots.proc);
      if (!holders.empty()) {
        findings.push_back({DoctorStatus::kTodo, port.device + " is held open by " + holders,
                            "end that program, or have it close the port, before an upgrade: "
                            "stbup needs the port to itself"});
      } else {
        // Only root sees which files other users' processes hold.
        findings.push_back({DoctorStatus::kOk,
                            system_.who.uid == 0
                                ? "no process holds " + port.device + " open"
                                : "no process of this user holds " + port.device + " open",
                            {}});
      }
    }
    return findings;
  }

 private:
  const DoctorSystem& system_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakePortHolderCheck(const DoctorSystem& system) {
  return std::make_unique<PortHolderCheck>(system);
}

}  // namespace stbup
