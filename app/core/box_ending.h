#pragma once

#include <optional>

#include "protocol/engine.h"
#include "seams/box_record.h"

namespace stbup {

// Where one box stands when something happens to it: what its session has
// seen of it since the box was awaited.
struct BoxSoFar {
  bool announced = false;   // its loader announced itself
  bool accepted = false;    // the checks let it through (counted as a box from here on)
  bool ended = false;       // it has its verdict
  bool single_box = false;  // the session serves this one box only
  bool check_only = false;  // an accepted box is not answered "ack"
};

// A box's ending: its verdict, and whether it counts as a box in the
// command's summary (it was judged by the checks, or the session waits for
// it alone). A box cut short before that is only recorded, when it spoke.
struct BoxEnding {
  Verdict verdict = Verdict::kFailed;
  bool counted = false;
  bool operator==(const BoxEnding&) const = default;
};

// How a box ends when the engine raises event, or nothing when the event
// ends no box. With EndingOfCut, the one table every front end's verdicts
// and exit statuses (ExitStatusOf) come from.
std::optional<BoxEnding> EndingOfRunEvent(RunEvent event, const BoxSoFar& box);
// How a box ends when its run is cut short from outside (the port went away,
// the time limit, an interrupt), or nothing when no box was on the line.
std::optional<BoxEnding> EndingOfCut(Verdict verdict, const BoxSoFar& box);

// The command's exit status for a run whose boxes ended with box_status:
// an upgrade whose --log or --trace could not be written whole is 11; a
// failure's own status says more and stays.
int RunExitStatus(int box_status, bool record_whole);

// The verdict an exit status stands for in the records: 0 upgraded (or,
// under --check-only, accepted), 5 refused, 6 restarted, 7 port_gone,
// 8 timeout, 9 success_after_failure, 130 interrupted, anything else failed.
Verdict VerdictOfStatus(int status, bool check_only);

}  // namespace stbup
