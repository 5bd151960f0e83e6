#pragma once

#include <memory>
#include <string>
#include <vector>

namespace stbup {

// What one look of `stbup doctor` found.
enum class DoctorStatus {
  kOk,    // nothing to do
  kTodo,  // something keeps a connection from working, or makes it worse
  kNote,  // nothing to look at, or nothing that can be told from here
};

struct DoctorFinding {
  DoctorStatus status = DoctorStatus::kOk;
  std::string found;  // what was found, naming the port or file it is about
  std::string todo;   // what to do about it; empty when nothing
};

// One thing the doctor looks at: the port's permissions, ModemManager, the
// records file ... A check is made with what it reads (the system's folders,
// who is asking, the ports, the options) and says one finding, or one per
// port where it looks at ports. Checks are independent: the command runs
// them in order and reports each.
class DoctorCheck {
 public:
  virtual ~DoctorCheck() = default;
  // Its name in the report and in --json: "port access", "ModemManager", ...
  virtual std::string Name() const = 0;
  virtual std::vector<DoctorFinding> Run() const = 0;
};

using DoctorChecks = std::vector<std::unique_ptr<DoctorCheck>>;

}  // namespace stbup
