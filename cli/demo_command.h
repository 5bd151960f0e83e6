#pragma once

#include <ostream>

#include "cli/command_registry.h"

namespace stbup {

struct DemoOptions {
  bool process_wide = false;  // see UpgradeOptions
  bool quiet = false;
};

// A whole upgrade on any machine: a sample image in a temporary folder, the
// simulator on a pty in this process, and the same path as "stbup upgrade".
// 0 when the simulator verified what it received.
int RunDemo(const DemoOptions& options, std::ostream& out, std::ostream& err);

void AddDemoCommand(CommandRegistry& registry);

}  // namespace stbup
