#include "cli/records_command.h"

#include <memory>
#include <ostream>

#include "cli/records_options.h"
#include "records/records.h"

namespace stbup {

namespace {

std::string RecordsPath(const RecordsCommandOptions& options) {
  return options.records_file.empty() ? DefaultRecordsPath() : options.records_file;
}

std::string Count(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

}  // namespace

int RunRecordsPush(const RecordsCommandOptions& options, CommandIo& io) {
  if (options.server.empty()) {
    PrintError(io.err, "no records server: give --records-server URL or set STBUP_RECORDS_SERVER");
    return kExitUsage;
  }
  const std::string path = RecordsPath(options);
  if (path.empty()) {
    PrintError(io.err, "no records file: give --records FILE or set STBUP_RECORDS");
    return kExitInternalError;
  }
  PushResult result;
  try {
    result = PushRecords(path, options.server);
  } catch (const RecordsError& error) {
    PrintError(io.err, std::string("records: ") + error.what());
    return kExitInternalError;
  }
  for (const std::string& problem : result.problems) PrintError(io.err, "records: " + problem);
  io.out << Count(result.sent) << " sent to " << DescribeRecordsServer(options.server) << ", "
         << result.pending << " pending\n";
  return result.pending == 0 ? kExitOk : kExitInternalError;
}

int RunRecordsStatus(const RecordsCommandOptions& options, CommandIo& io) {
  const std::string path = RecordsPath(options);
  if (path.empty()) {
    PrintError(io.err, "no records file: give --records FILE or set STBUP_RECORDS");
    return kExitInternalError;
  }
  UploadStatus status;
  try {
    status = ReadUploadStatus(path);
  } catch (const RecordsError& error) {
    PrintError(io.err, std::string("records: ") + error.what());
    return kExitInternalError;
  }
  const std::string server =
      !options.server.empty() ? DescribeRecordsServer(options.server) : status.server.value_or("");
  io.out << "records file: " << path << '\n'
         << "server:       " << (server.empty() ? "none" : server) << '\n'
         << "pending:      " << status.pending << '\n'
         << "last batch:   " << status.last_batch_at.value_or("never") << '\n'
         << "last error:   "
         << (status.last_error ? *status.last_error_at + " " + *status.last_error
                               : std::string("none"))
         << '\n';
  return kExitOk;
}

void AddRecordsCommand(CommandRegistry& registry) {
  auto options = std::make_shared<RecordsCommandOptions>();
  // Which of its commands was asked decides; push is known once added.
  auto push_command = std::make_shared<CLI::App*>(nullptr);
  CLI::App* sub = registry.Add("records", "Send the records to the line's server, or say how far",
                               [options, push_command](CommandIo& io) {
                                 return (*push_command)->parsed() ? RunRecordsPush(*options, io)
                                                                  : RunRecordsStatus(*options, io);
                               });
  sub->require_subcommand(1);
  CLI::App* push =
      sub->add_subcommand("push", "Send every record the line's server has not confirmed, now");
  CLI::App* status = sub->add_subcommand(
      "status", "How many records are pending, the last error and when the last batch went");
  for (CLI::App* command : {push, status}) {
    command->add_option("--records", options->records_file,
                        std::string("The records file (default: $STBUP_RECORDS, else ") +
                            DefaultRecordsPlace() + ")");
    AddRecordsServerOption(*command, options->server, "The line's PostgreSQL database");
  }
  push->footer("Exit status: 0 nothing left pending, 1 some left (why is said), 2 usage.");
  status->footer("Exit status: 0, 1 the records file cannot be read.");
  *push_command = push;
}

}  // namespace stbup
