#include "seams/box_record.h"

namespace stbup {

std::string_view VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kUpgraded:
      return "upgraded";
    case Verdict::kRefused:
      return "refused";
    case Verdict::kFailed:
      return "failed";
    case Verdict::kRestarted:
      return "restarted";
    case Verdict::kPortGone:
      return "port_gone";
    case Verdict::kTimeout:
      return "timeout";
    case Verdict::kSuccessAfterFailure:
      return "success_after_failure";
    case Verdict::kInterrupted:
      return "interrupted";
    case Verdict::kAccepted:
      return "accepted";
  }
  return "failed";
}

std::optional<Verdict> VerdictFromName(std::string_view name) {
  for (const Verdict verdict : kAllVerdicts) {
    if (VerdictName(verdict) == name) return verdict;
  }
  return std::nullopt;
}

}  // namespace stbup
