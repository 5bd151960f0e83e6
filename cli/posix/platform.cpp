#include "cli/platform.h"

#include <unistd.h>

#include "cli/doctor_command.h"
#include "cli/simulate_command.h"
#include "cli/station_command.h"

namespace stbup {

void AddPlatformCommands(CommandRegistry& registry) {
  AddStationCommand(registry);
  AddSimulateCommand(registry);
  AddDoctorCommand(registry);
}

// The streams carry bytes unchanged already.
void PrepareStandardStreams() {}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

}  // namespace stbup
