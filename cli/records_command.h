#pragma once

#include <string>

#include "cli/command_registry.h"

namespace stbup {

struct RecordsCommandOptions {
  std::string records_file;  // empty: the default records file
  std::string server;        // empty: none
};

// stbup records push: sends what the records file holds and the line's
// server has not confirmed. Exit 0 nothing left pending, 1 some left (the
// server's problem said), 2 usage.
int RunRecordsPush(const RecordsCommandOptions& options, CommandIo& io);
// stbup records status: how many records are pending, the last error and
// when the last batch went. Exit 0, 1 the file cannot be read.
int RunRecordsStatus(const RecordsCommandOptions& options, CommandIo& io);
void AddRecordsCommand(CommandRegistry& registry);

}  // namespace stbup
