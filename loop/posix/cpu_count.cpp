// How many CPUs the calling thread may run on, from its affinity mask (which
// taskset or a container may have cut), not from the CPUs the machine has.
#include <sched.h>

#include "loop/hand_over_watch.h"

namespace stbup {

bool RunsOnSeveralCpus() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
  return CPU_COUNT(&allowed) > 1;
}

}  // namespace stbup
