#include "cli/box_verdict.h"

#include "cli/exit_status.h"

namespace stbup {

// The window's records take their statuses from ExitStatusOf: they must be
// the command line's own.
static_assert(ExitStatusOf(Verdict::kUpgraded) == kExitOk);
static_assert(ExitStatusOf(Verdict::kFailed) == kExitInternalError);
static_assert(ExitStatusOf(Verdict::kRefused) == kExitRefused);
static_assert(ExitStatusOf(Verdict::kRestarted) == kExitNormalStart);
static_assert(ExitStatusOf(Verdict::kPortGone) == kExitPortGone);
static_assert(ExitStatusOf(Verdict::kTimeout) == kExitTimeout);
static_assert(ExitStatusOf(Verdict::kInterrupted) == kExitInterrupted);
static_assert(ExitStatusOf(Verdict::kSuccessAfterFailure) == kExitSuccessAfterFailure);

Verdict VerdictOfStatus(int status, bool check_only) {
  if (status == kExitOk) return check_only ? Verdict::kAccepted : Verdict::kUpgraded;
  for (const Verdict verdict : kAllVerdicts) {
    if (verdict != Verdict::kUpgraded && verdict != Verdict::kAccepted &&
        ExitStatusOf(verdict) == status) {
      return verdict;
    }
  }
  return Verdict::kFailed;
}

}  // namespace stbup
