#include "app/core/box_ending.h"

#include "seams/exit_status.h"

namespace stbup {

std::optional<BoxEnding> EndingOfRunEvent(RunEvent event, const BoxSoFar& box) {
  // A box restarting after its verdict, or any later word of it, is no news.
  if (box.ended) return std::nullopt;
  switch (event) {
    case RunEvent::kAnnounced:
      return std::nullopt;
    case RunEvent::kAccepted:
      // Checking only, an accepted box is done: nothing will be sent to it.
      if (box.check_only) return BoxEnding{Verdict::kAccepted, true};
      return std::nullopt;
    case RunEvent::kRefused:
      return BoxEnding{Verdict::kRefused, true};
    case RunEvent::kUpgradeSuccess:
      return BoxEnding{Verdict::kUpgraded, true};
    case RunEvent::kSuccessAfterFailure:
      return BoxEnding{Verdict::kSuccessAfterFailure, true};
    case RunEvent::kNormalStart:
      // The box started its own software before success. One that never
      // spoke is no box, unless the session waits for this one only.
      if (box.accepted || box.single_box) return BoxEnding{Verdict::kRestarted, true};
      if (box.announced) return BoxEnding{Verdict::kRestarted, false};
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<BoxEnding> EndingOfCut(Verdict verdict, const BoxSoFar& box) {
  if (box.ended) return std::nullopt;
  if (box.accepted) return BoxEnding{verdict, true};
  if (box.announced) return BoxEnding{verdict, false};
  return std::nullopt;
}

int RunExitStatus(int box_status, bool record_whole) {
  if (box_status == kExitOk && !record_whole) return kExitRecordIncomplete;
  return box_status;
}

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
