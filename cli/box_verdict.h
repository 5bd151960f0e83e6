#pragma once

#include "app/core/box_record.h"

namespace stbup {

// The verdict a box's exit status stands for in the records: 0 upgraded (or,
// under --check-only, accepted), 5 refused, 6 restarted, 7 port_gone,
// 8 timeout, 9 success_after_failure, 130 interrupted, anything else failed.
Verdict VerdictOfStatus(int status, bool check_only);

}  // namespace stbup
