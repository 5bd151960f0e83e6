#pragma once

#include <optional>
#include <string>

#include "cli/command_registry.h"

namespace stbup {

struct HistoryOptions {
  std::string records_file;  // empty: the default records file
  std::string since;         // DATE: inclusive
  std::string until;         // DATE: inclusive at its precision (a day, a minute, ...)
  std::string port;
  std::string model;
  std::string verdict;
  std::string station_name;
  std::string operator_name;
  std::string work_order;
  // The line's server to read instead of the file; --records wins.
  std::string server;
  bool json = false;
  bool csv = false;
  // Terminal detection of stdout; unset: isatty.
  std::optional<bool> out_is_terminal;
};

// The earliest UTC time a DATE names and the start of the unit after it, as
// records' texts: "2026-12-08" -> 2026-12-08T00:00:00.000Z, 2026-12-09T00:00:00.000Z;
// "2026-12-08T12:30" -> 12:30:00.000, 12:31:00.000. Also seconds, milliseconds, a
// blank for the "T" and a trailing "Z". Nothing for a text that is no such date.
struct DateSpan {
  std::string first;
  std::string after;
};
std::optional<DateSpan> ParseRecordDate(std::string_view text);

// stbup history: the records that match, a table on a terminal, else JSON
// Lines (or CSV when asked). Exit 0 (also when nothing matches or there are
// no records yet), 1 the file cannot be read, 2 usage.
int RunHistory(const HistoryOptions& options, CommandIo& io);
void AddHistoryCommand(CommandRegistry& registry);

}  // namespace stbup
