#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace stbup {

// What a command that records boxes says of them beyond the local file: the
// line's server to upload to, and the station, operator and work order each
// record names.
struct RecordsTarget {
  std::string server;        // a libpq URL or key words; empty: no server
  std::string station_name;  // empty: the host name
  std::string operator_name;
  std::string work_order;

  std::optional<std::string> Operator() const;
  std::optional<std::string> WorkOrder() const;
};

// --records-server (else $STBUP_RECORDS_SERVER), --station-name, --operator
// (else $STBUP_OPERATOR) and --order on a command that records boxes. The
// server needs the local file as its outbox: with --no-records the command
// sends nothing either.
void AddRecordsTargetOptions(CLI::App& sub, RecordsTarget& target);

// --records-server for a command that reads or sends records.
CLI::Option* AddRecordsServerOption(CLI::App& sub, std::string& server, const std::string& what);

}  // namespace stbup
