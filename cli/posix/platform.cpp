#include "cli/platform.h"

#include "cli/demo_command.h"
#include "cli/simulate_command.h"

namespace stbup {

void AddPlatformCommands(CommandRegistry& registry) {
  AddDemoCommand(registry);
  AddSimulateCommand(registry);
}

// The streams carry bytes unchanged already.
void PrepareStandardStreams() {}

}  // namespace stbup
