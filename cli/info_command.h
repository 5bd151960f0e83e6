#pragma once

#include <string>

#include "cli/command_registry.h"

namespace stbup {

struct InfoOptions {
  std::string image;
  bool json = false;
};

// stbup info IMAGE [--json]: the identification, geometry and flags a load
// gives the image. Exit 3, with the system's message, when it is not accepted.
void AddInfoCommand(CommandRegistry& registry);
int RunInfo(const InfoOptions& options, CommandIo& io);

}  // namespace stbup
