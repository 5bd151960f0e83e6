// How many CPUs the process may run on, from its affinity mask, not from the
// CPUs the machine has.
#include <bitset>

#include "loop/hand_over_watch.h"

#include <windows.h>

namespace stbup {

bool RunsOnSeveralCpus() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask)) return false;
  return std::bitset<sizeof(DWORD_PTR) * 8>(process_mask).count() > 1;
}

}  // namespace stbup
