#pragma once

#include <string>

#include "cli/command_registry.h"

namespace stbup {

struct DoctorOptions {
  std::string port;  // empty: the serial adapters found
  bool json = false;
  std::string records_file;  // empty: the default records file
  std::string root;          // empty: this system; else a stand-in tree of it
};

// `stbup doctor`: looks at what keeps a first connection from working and
// says what to do. 0 when nothing needs doing, 1 when something does.
int RunDoctor(const DoctorOptions& options, CommandIo& io);

void AddDoctorCommand(CommandRegistry& registry);

}  // namespace stbup
