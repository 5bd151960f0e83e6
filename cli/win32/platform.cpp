#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/platform.h"

namespace stbup {

// Windows has no pseudo-terminal for the simulator to speak on, so neither
// `simulate` nor the pty-based `demo` is offered here.
void AddPlatformCommands(CommandRegistry&) {}

void PrepareStandardStreams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace stbup
