#pragma once

#include <ostream>

#include "cli/command_registry.h"

namespace stbup {

struct DemoOptions {
  bool process_wide = false;  // see UpgradeOptions
  bool quiet = false;
  // The box on an in-memory line even where a pseudo-terminal exists.
  bool memory_line = false;
};

// A whole upgrade on any machine: a sample image in a temporary folder, the
// simulator in this process on a pty (Linux) or an in-memory line, and the
// same path as "stbup upgrade".
// 0 when the simulator verified what it received.
int RunDemo(const DemoOptions& options, std::ostream& out, std::ostream& err);

void AddDemoCommand(CommandRegistry& registry);

}  // namespace stbup
