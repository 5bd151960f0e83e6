#pragma once

#include "cli/command_registry.h"

namespace stbup {

// What differs between the platforms' stbup (cli/posix/, cli/win32/).

// The sub-commands that exist on one platform only: on Linux `simulate` and
// `demo`, which run the box simulator on a pseudo-terminal.
void AddPlatformCommands(CommandRegistry& registry);

// Standard output and error carry bytes unchanged, as on Linux: on Windows the
// C runtime would otherwise write every line end as CR LF.
void PrepareStandardStreams();

}  // namespace stbup
