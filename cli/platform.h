#pragma once

#include <string>

#include "cli/command_registry.h"

namespace stbup {

// What differs between the platforms' stbup (cli/posix/, cli/win32/).

// The sub-commands each platform offers beyond the common ones: `station`
// (on each its own way of finding ports), and on Linux `simulate`, which runs
// the box simulator on a pseudo-terminal, and `doctor`, which reads the
// system's device, process and udev folders.
void AddPlatformCommands(CommandRegistry& registry);

// Standard output and error carry bytes unchanged, as on Linux: on Windows the
// C runtime would otherwise write every line end as CR LF; and a console there
// is asked to obey the erase sequence the progress bars use.
void PrepareStandardStreams();

// This station's name for its records; "localhost" when it has none.
std::string HostName();

// Why there is no default records place and what to set, for the message
// that says the boxes go unrecorded.
std::string NoRecordsPlaceReason();

}  // namespace stbup
