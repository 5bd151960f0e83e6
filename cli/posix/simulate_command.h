#pragma once

#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "sim/simulator_options.h"

namespace stbup {

// The command line's view of a simulated box: texts where the box wants
// hexadecimal or composite values, checked when the command runs.
struct SimulateOptions {
  SimulatorOptions box;
  std::string loader = "v";
  std::string link;
  std::string image;
  std::string flash_size;    // byte 4 of the record, e.g. 0x21
  std::string flash_chip;    // bytes 5 and 6, e.g. 2782
  std::string flash_record;  // all 33 bytes as 66 hexadecimal digits
  std::string hardware;      // "01.02.03"
  std::string software;
  std::vector<std::int32_t> corrupt_blocks;
  std::int32_t silent_after = -1;
  std::int32_t hangup_after = -1;
  std::int32_t decode_size = -1;
  int count = 1;  // boxes at once, each on a pty of its own
};

// stbup simulate [options]: a box on a fresh pty (with --count K, K boxes at
// once on K ptys, linked at LINK-1 .. LINK-K). Exit 0 only when every box
// verified its upgrade; 1 otherwise; 2 usage; 3 an image that is not accepted.
void AddSimulateCommand(CommandRegistry& registry);
int RunSimulate(SimulateOptions options, CommandIo& io);

}  // namespace stbup
