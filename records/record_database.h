#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/records.h"
#include "seams/box_record.h"

struct sqlite3;

namespace stbup {

// One step of the schema: applied once, in order, inside one transaction,
// and remembered in the table stbup_schema.
struct SchemaStep {
  int version;
  std::string_view sql;  // statements separated by ";"
  // Statements for the local file only (its outbox), after sql.
  std::string_view local_sql = {};
  // Statements for the line's server only, after sql.
  std::string_view server_sql = {};
};

// The steps this build knows, oldest first.
const std::vector<SchemaStep>& RecordSchemaSteps();
// The columns of box_records in the order both stores read and write them.
std::string_view RecordColumnList();
inline constexpr int kRecordColumnCount = 28;

// The records file through SQLite: WAL journal, a busy timeout so that other
// writers (stations, windows) are waited for, the schema brought up to date
// on opening for writing. Every failure is a RecordsError with SQLite's text.
class RecordDatabase {
 public:
  enum class Mode { kWrite, kRead };
  static constexpr int kBusyTimeoutMs = 10000;

  // keep_waiting, when given, replaces the busy timeout: asked every 20 ms
  // while another connection holds the file; false gives up (SQLITE_BUSY).
  RecordDatabase(const std::string& path, Mode mode,
                 const std::vector<SchemaStep>& steps = RecordSchemaSteps(),
                 std::function<bool()> keep_waiting = {});
  ~RecordDatabase();
  RecordDatabase(const RecordDatabase&) = delete;
  RecordDatabase& operator=(const RecordDatabase&) = delete;

  // All in one transaction: every record or none. With skip_known a record
  // whose id is there already is left out (records taken in again).
  void Insert(const std::vector<BoxRecord>& records, bool skip_known = false);
  // The matching records, oldest first, one at a time (a line's records can
  // be many), or all at once.
  void Query(const RecordFilter& filter, const std::function<void(const BoxRecord&)>& each);
  std::vector<BoxRecord> Query(const RecordFilter& filter);
  // The matching records `passes` times over, inside one read transaction:
  // every pass sees the same records.
  void Query(const RecordFilter& filter, int passes,
             const std::function<void(int pass, const BoxRecord&)>& each);
  // The highest step applied; 0 for a file without the schema.
  int SchemaVersion();

  // The file as the line's server's outbox. What the uploader last saw.
  struct UploadState {
    std::optional<std::string> server;  // as messages show it, no password
    std::optional<std::string> last_batch_at;
    std::optional<std::string> last_error;
    std::optional<std::string> last_error_at;
  };
  // The server has committed these records: they are sent no more.
  void MarkUploaded(const std::vector<std::string>& record_ids, const std::string& at);
  // Records the server has not confirmed yet.
  std::int64_t PendingCount();
  UploadState ReadUploadState();
  void WriteUploadState(const UploadState& state);

 private:
  void Open(Mode mode, const std::vector<SchemaStep>& steps);
  void Execute(std::string_view sql);
  void Migrate(const std::vector<SchemaStep>& steps);
  [[noreturn]] void Fail(std::string_view what);

  std::string path_;
  std::function<bool()> keep_waiting_;
  sqlite3* db_ = nullptr;
};

}  // namespace stbup
