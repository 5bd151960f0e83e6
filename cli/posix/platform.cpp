#include "cli/platform.h"

#include <signal.h>
#include <unistd.h>

#include "cli/doctor_command.h"
#include "cli/posix/simulate_command.h"
#include "cli/station_command.h"

namespace stbup {

void AddPlatformCommands(CommandRegistry& registry) {
  AddStationCommand(registry);
  AddSimulateCommand(registry);
  AddDoctorCommand(registry);
}

// The streams carry bytes unchanged already. A reader that goes away (a
// pipe into head, a log viewer closed) must not end a run with the box
// mid-download: a write to it fails instead, and the run goes on.
void PrepareStandardStreams() { ::signal(SIGPIPE, SIG_IGN); }

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

std::string NoRecordsPlaceReason() {
  return "(HOME, XDG_DATA_HOME and STBUP_RECORDS are unset): the boxes are not recorded; give "
         "--records FILE, or set STBUP_RECORDS or HOME";
}

}  // namespace stbup
