#include "cli/posix/doctor_report.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace stbup {

std::string_view DoctorStatusName(DoctorStatus status) {
  switch (status) {
    case DoctorStatus::kOk:
      return "ok";
    case DoctorStatus::kTodo:
      return "todo";
    case DoctorStatus::kNote:
      return "note";
  }
  return "note";
}

namespace {

struct NamedFinding {
  std::string check;
  DoctorFinding finding;
};

std::vector<NamedFinding> RunAll(const DoctorChecks& checks) {
  std::vector<NamedFinding> all;
  for (const auto& check : checks) {
    try {
      for (auto& finding : check->Run()) all.push_back({check->Name(), std::move(finding)});
    } catch (const std::exception& error) {
      // One check that cannot look must not hide what the others found.
      all.push_back({check->Name(),
                     {DoctorStatus::kNote, std::string("could not look: ") + error.what(), {}}});
    }
  }
  return all;
}

std::string_view TextLabel(DoctorStatus status) {
  switch (status) {
    case DoctorStatus::kOk:
      return "ok    ";
    case DoctorStatus::kTodo:
      return "TODO  ";
    case DoctorStatus::kNote:
      return "note  ";
  }
  return "note  ";
}

}  // namespace

int ReportDoctorChecks(const DoctorChecks& checks, bool json, std::ostream& out) {
  const std::vector<NamedFinding> all = RunAll(checks);
  int todo = 0;
  for (const auto& [check, finding] : all) todo += finding.status == DoctorStatus::kTodo ? 1 : 0;

  if (json) {
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const auto& [check, finding] : all) {
      findings.push_back({{"check", check},
                          {"status", DoctorStatusName(finding.status)},
                          {"found", finding.found},
                          {"todo", finding.todo}});
    }
    out << nlohmann::ordered_json{{"findings", findings}, {"todo", todo}}.dump(
               2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
        << '\n';
  } else {
    for (const auto& [check, finding] : all) {
      out << TextLabel(finding.status) << check << ": " << finding.found << '\n';
      if (!finding.todo.empty()) out << "      To do: " << finding.todo << '\n';
    }
    if (todo == 0) {
      out << "Nothing needs doing.\n";
    } else {
      out << todo << (todo == 1 ? " thing needs doing.\n" : " things need doing.\n");
    }
  }
  return todo == 0 ? 0 : kExitDoctorTodo;
}

}  // namespace stbup
