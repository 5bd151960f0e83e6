#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/records_options.h"
#include "seams/exit_status.h"

namespace stbup {

struct StationOptions {
  std::string image;
  std::vector<std::string> ports;
  std::string watch;  // a glob; empty: none
  int boxes = 0;      // 0: no limit
  std::string log_dir;
  std::string trace_dir;
  bool check_only = false;
  double timeout_seconds = 0;  // 0: no limit
  // Each box's record is appended here; empty: no records.
  std::string records_file;
  // The line's server, and the station, operator and work order records name.
  RecordsTarget records_target;

  // Where the COMn map comes from; empty: the window's settings file.
  std::string settings_file;
  // The process as a whole (the stbup binary): SIGINT and SIGTERM are the
  // operator's Ctrl-C.
  bool process_wide = false;
  // Terminal detection; unset: isatty of the process's stdout.
  std::optional<bool> out_is_terminal;
  // How often a watched glob is looked at again, and the table redrawn.
  int watch_interval_ms = 500;
  int redraw_interval_ms = 250;
};

// Many ports at once, each running its boxes as "upgrade --repeat" does, in
// one process. Returns the exit status: 0 every box that ended was upgraded,
// 2 usage, 3 image not accepted, 10 some box was not, 130 aborted.
int RunStation(const StationOptions& options, std::ostream& out, std::ostream& err);

void AddStationCommand(CommandRegistry& registry);

}  // namespace stbup
