#pragma once

#include <iosfwd>
#include <string_view>

#include "cli/doctor_check.h"

namespace stbup {

// The doctor's status when something needs doing (0 when nothing does).
inline constexpr int kExitDoctorTodo = 1;

// Runs the checks in order and writes what each found. As text, one line per
// finding ("ok    ", "TODO  " or "note  ", the check's name, what was found),
// what to do on the line below it, and a closing count; with json, one JSON
// object {"findings":[{"check","status","found","todo"}...],"todo":N}. A check
// that fails to look is reported as a note saying why. Returns 0 when nothing
// needs doing, else kExitDoctorTodo.
int ReportDoctorChecks(const DoctorChecks& checks, bool json, std::ostream& out);

std::string_view DoctorStatusName(DoctorStatus status);

}  // namespace stbup
