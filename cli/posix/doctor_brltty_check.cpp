#include <cctype>
#include <fstream>
#include <iterator>
#include <regex>

#include "cli/posix/doctor_checks.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

// The adapters brltty's rules have been known to take for braille displays.
struct ClaimedAdapter {
  const char* vendor;
  const char* product;
  const char* kind;
};
constexpr ClaimedAdapter kClaimable[] = {
    {"1a86", "7523", "CH340"}, {"1a86", "5523", "CH341"}, {"10c4", "ea60", "CP210x"}};

// Whether a rule line matches the adapter by its USB ids alone. A line that
// also asks for the adapter's manufacturer, product or serial string takes
// only the braille display built on that bridge, not every adapter.
bool ClaimsAdapter(const std::string& lower_line, const ClaimedAdapter& adapter) {
  const std::string vendor = adapter.vendor;
  const std::string product = adapter.product;
  const bool by_product = lower_line.find("\"" + vendor + "/" + product + "/") != std::string::npos;
  const bool by_ids = lower_line.find("{idvendor}==\"" + vendor + "\"") != std::string::npos &&
                      lower_line.find("{idproduct}==\"" + product + "\"") != std::string::npos;
  if (!by_product && !by_ids) return false;
  static const std::regex narrowing(R"(attrs?\{(manufacturer|product|serial|interface)\})");
  return !std::regex_search(lower_line, narrowing);
}

class BrlttyCheck : public DoctorCheck {
 public:
  explicit BrlttyCheck(const DoctorSystem& system) : system_(system) {}

  std::string Name() const override { return "brltty"; }

  std::vector<DoctorFinding> Run() const override {
    std::vector<DoctorFinding> findings;
    for (const auto& file : UdevRuleFiles(system_.roots)) {
      const std::string name = file.filename().string();
      if (name.find("brltty") == std::string::npos) continue;
      const std::string claimed = Claimed(file);
      if (claimed.empty()) continue;
      const bool running = ProcessRunning(system_.roots.proc, "brltty");
      findings.push_back(
          {DoctorStatus::kTodo,
           "installed" + std::string(running ? " and running" : "") + ", and its udev rule " +
               file.string() + " takes " + claimed +
               " adapters for braille displays: such an adapter's port vanishes as soon as it "
               "appears",
           "without a braille display on this PC: sudo apt remove brltty; to keep brltty, mask "
           "the rule: sudo ln -s /dev/null /etc/udev/rules.d/" +
               name + "; then plug the adapter in again"});
    }
    if (findings.empty()) {
      findings.push_back(
          {DoctorStatus::kOk, "no udev rule of brltty takes CH340 or CP210x adapters", {}});
    }
    return findings;
  }

 private:
  // "CH340 (1a86:7523) and CP210x (10c4:ea60)", the adapters a rule file takes.
  static std::string Claimed(const fs::path& file) {
    bool claimed[std::size(kClaimable)] = {};
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
      const auto first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (std::size_t k = 0; k < std::size(kClaimable); ++k) {
        claimed[k] = claimed[k] || ClaimsAdapter(line, kClaimable[k]);
      }
    }
    std::vector<std::string> names;
    for (std::size_t k = 0; k < std::size(kClaimable); ++k) {
      if (!claimed[k]) continue;
      names.push_back(std::string(kClaimable[k].kind) + " (" + kClaimable[k].vendor + ":" +
                      kClaimable[k].product + ")");
    }
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
      text += names[k];
    }
    return text;
  }

  const DoctorSystem& system_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakeBrlttyCheck(const DoctorSystem& system) {
  return std::make_unique<BrlttyCheck>(system);
}

}  // namespace stbup
