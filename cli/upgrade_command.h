#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/command_registry.h"
#include "cli/records_options.h"
#include "seams/exit_status.h"

namespace stbup {

class MemoryLineEnd;

struct UpgradeOptions {
  std::string image;
  std::string port;
  std::string log_file;
  std::string trace_file;
  bool quiet = false;
  double timeout_seconds = 0;  // 0: no limit, the box decides
  bool repeat = false;
  bool check_only = false;
  // The records file each box's record goes to; empty: no records.
  std::string records_file;
  // The line's server, and the station, operator and work order records name.
  RecordsTarget records_target;
  bool raw = false;  // memo lines on stdout as raw bytes, not escaped

  // Where the COMn map comes from; empty: the window's settings file.
  std::string settings_file;
  // The process as a whole (the stbup binary): SIGINT/SIGTERM end the run
  // with 130, and the image's folder becomes the current directory.
  bool process_wide = false;
  // Terminal detection; unset: isatty of the process's stdout and stderr.
  std::optional<bool> out_is_terminal;
  std::optional<bool> err_is_terminal;
  // The demo: the tool's end of an in-memory line to the simulated box
  // instead of a serial device; port is the name the log shows for it.
  std::shared_ptr<MemoryLineEnd> memory_line;
};

// One exchange (or, with repeat, one per box) exactly as the window runs it
// after start-up. Returns the exit status.
int RunUpgrade(const UpgradeOptions& options, std::ostream& out, std::ostream& err);

// Said once at start by upgrade and station when no records file can be
// found: the boxes are still upgraded.
void SayNoRecordsLocation(std::ostream& err);

void AddUpgradeCommand(CommandRegistry& registry);

}  // namespace stbup
