#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/box_record.h"
#include "records/records.h"

struct sqlite3;

namespace stbup {

// One step of the schema: applied once, in order, inside one transaction,
// and remembered in the table stbup_schema.
struct SchemaStep {
  int version;
  std::string_view sql;  // statements separated by ";"
};

// The steps this build knows, oldest first.
const std::vector<SchemaStep>& RecordSchemaSteps();

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
