#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "seams/box_record.h"
#include "seams/record_sink.h"

namespace stbup {

// The records database as the front ends see it. A build without the store
// (no SQLite) has these too: the sink is absent and reading fails with a
// RecordsError saying so.

class RecordsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reading found no records file at the path: no box has been recorded there.
class NoRecordsYet : public RecordsError {
 public:
  using RecordsError::RecordsError;
};

// $STBUP_RECORDS, else stbup/records.sqlite3 under the user's data directory
// (Linux: $XDG_DATA_HOME, else ~/.local/share; Windows: %LOCALAPPDATA%);
// empty when there is no home.
std::string DefaultRecordsPath();
// Where that is, as help texts say it after "$STBUP_RECORDS, else ".
std::string DefaultRecordsPlace();

// A sink writing to the file from a thread of its own; nothing when this
// build keeps no records. Its destructor waits for queued records.
std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path);
// The same, and an uploader on the writer's thread sending what the file holds
// and the line's server has not confirmed (server: a libpq URL or key words;
// empty: none).
std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path, const std::string& server);

// Which records to read. Times are records' UTC texts; `since` is inclusive,
// `before` exclusive.
struct RecordFilter {
  std::optional<std::string> since;
  std::optional<std::string> before;
  std::optional<std::string> port;
  std::optional<std::string> model;  // the box's model or the image's
  std::optional<Verdict> verdict;
  std::optional<std::string> station;
  std::optional<std::string> operator_name;
  std::optional<std::string> work_order;
  // Only records the line's server has not confirmed yet (the local file).
  bool pending = false;
  // At most this many, the oldest.
  std::optional<int> limit;
};

// The records that match, oldest first, handed over one at a time. Throws
// NoRecordsYet when there is no file, RecordsError when the file cannot be
// read (a FIFO, a folder, a link loop, not a database, a newer schema). The
// path is looked at first without blocking.
void ReadRecords(const std::string& path, const RecordFilter& filter,
                 const std::function<void(const BoxRecord&)>& each);
// The same records handed over `passes` times (pass 0 first), all from one
// snapshot of the file: a table sizes its columns on one pass and prints on
// the next without holding the records.
void ReadRecords(const std::string& path, const RecordFilter& filter, int passes,
                 const std::function<void(int pass, const BoxRecord&)>& each);
std::vector<BoxRecord> ReadRecords(const std::string& path, const RecordFilter& filter);

// The same from the line's server (a libpq URL or key words). Throws
// RecordsError when it cannot be read; the text never holds a password.
void ReadServerRecords(const std::string& server, const RecordFilter& filter,
                       const std::function<void(const BoxRecord&)>& each);

// The local file as the line's server's outbox.
struct UploadStatus {
  std::int64_t pending = 0;                  // records the server has not confirmed
  std::optional<std::string> server;         // as last tried, no password
  std::optional<std::string> last_batch_at;  // when a batch last went
  std::optional<std::string> last_error;
  std::optional<std::string> last_error_at;
};
UploadStatus ReadUploadStatus(const std::string& path);

// The line's server as messages show it: host, port, database and user,
// never the password.
std::string DescribeRecordsServer(const std::string& server);

// What `stbup records push` did: records sent, records still pending, and
// the problems met (once each).
struct PushResult {
  std::int64_t sent = 0;
  std::int64_t pending = 0;
  std::vector<std::string> problems;
};
// Sends every pending record of the file until none is left or the server
// fails; each wait is bounded as the uploader's are.
PushResult PushRecords(const std::string& path, const std::string& server);

// The store's libraries inside this program, as they say their versions
// ("SQLite 3.40.1, libpq 15.18"); empty for a build that keeps no records.
std::string RecordsLibraryVersions();
// libpq's number for its version (PQlibVersion) as people write it: 150018
// is "15.18", 90624 "9.6.24".
std::string LibPqVersionText(int version);

}  // namespace stbup
