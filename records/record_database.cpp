#include "records/record_database.h"

#include <sqlite3.h>

#include <chrono>
#include <functional>

#include "records/sqlite_file_name.h"
#include "seams/utc_timestamp.h"

namespace stbup {

namespace {

// Plain portable types and UTC texts only, so that the same shape can live
// on a database server that every station of a line writes to.
constexpr std::string_view kSchema1 = R"(
CREATE TABLE box_records (
  record_id      VARCHAR(36)   NOT NULL PRIMARY KEY,
  started_at     VARCHAR(24)   NOT NULL,
  ended_at       VARCHAR(24)   NOT NULL,
  station        VARCHAR(255)  NOT NULL,
  front_end      VARCHAR(16)   NOT NULL,
  port           VARCHAR(255)  NOT NULL,
  loader_kind    VARCHAR(8),
  loader_version VARCHAR(8),
  flash_size     INTEGER,
  flash_chip     VARCHAR(8),
  box_model      VARCHAR(600),
  box_hw         VARCHAR(8),
  box_sw         VARCHAR(8),
  image_path     VARCHAR(4096) NOT NULL,
  image_size     BIGINT,
  image_sha256   CHAR(64),
  image_model    VARCHAR(600)  NOT NULL,
  image_hw       VARCHAR(8)    NOT NULL,
  image_sw       VARCHAR(8)    NOT NULL,
  image_type     VARCHAR(16)   NOT NULL,
  blocks_sent    INTEGER       NOT NULL,
  blocks_retried INTEGER       NOT NULL,
  seconds        DOUBLE PRECISION NOT NULL,
  verdict        VARCHAR(32)   NOT NULL,
  exit_status    INTEGER       NOT NULL,
  log_tail       TEXT
);
CREATE INDEX box_records_started_at ON box_records (started_at);
CREATE INDEX box_records_port ON box_records (port, started_at)
)";

// Who ran the box and for which work order, and the station's own name; a
// line's server is asked per station. Both stores take these statements.
constexpr std::string_view kSchema2 = R"(
ALTER TABLE box_records ADD COLUMN operator_name VARCHAR(255);
ALTER TABLE box_records ADD COLUMN work_order VARCHAR(255);
CREATE INDEX box_records_station ON box_records (station, started_at)
)";

// SQLite keeps a text of any length in any text column; the server would
// refuse a box's over-long version or name, and with it every later record
// in its batch. Its texts take any length too (no rewrite of the table).
constexpr std::string_view kSchema2Server = R"(
ALTER TABLE box_records ALTER COLUMN station TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN port TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN loader_kind TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN loader_version TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN flash_chip TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN box_model TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN box_hw TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN box_sw TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN image_path TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN image_model TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN image_hw TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN image_sw TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN image_type TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN operator_name TYPE TEXT;
ALTER TABLE box_records ALTER COLUMN work_order TYPE TEXT
)";

// The local file is the outbox of the line's server: a record is confirmed
// here once the server has committed it, and what the uploader last saw is
// kept for `stbup records status`. The server has no use for either.
constexpr std::string_view kSchema2Local = R"(
CREATE TABLE record_uploads (
  record_id   VARCHAR(36) NOT NULL PRIMARY KEY,
  uploaded_at VARCHAR(24) NOT NULL
);
CREATE TABLE record_upload_state (
  id            INTEGER NOT NULL PRIMARY KEY CHECK (id = 1),
  server        TEXT,
  last_batch_at VARCHAR(24),
  last_error    TEXT,
  last_error_at VARCHAR(24)
)
)";

constexpr std::string_view kColumns =
    "record_id, started_at, ended_at, station, front_end, port, loader_kind, loader_version, "
    "flash_size, flash_chip, box_model, box_hw, box_sw, image_path, image_size, image_sha256, "
    "image_model, image_hw, image_sw, image_type, blocks_sent, blocks_retried, seconds, "
    "verdict, exit_status, log_tail, operator_name, work_order";
constexpr int kColumnCount = kRecordColumnCount;

// A prepared statement, finalized however the scope is left.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
      stmt_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, const std::optional<std::string>& text) {
    if (text) {
      Bind(index, *text);
    } else {
      sqlite3_bind_null(stmt_, index);
    }
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Bind(int index, double value) { sqlite3_bind_double(stmt_, index, value); }

  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
  }
  std::optional<std::string> OptionalText(int column) const {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
    return Text(column);
  }
  std::int64_t Integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::optional<std::int64_t> OptionalInteger(int column) const {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
    return Integer(column);
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::string_view RecordColumnList() { return kColumns; }

const std::vector<SchemaStep>& RecordSchemaSteps() {
  static const std::vector<SchemaStep> steps = {{1, kSchema1, {}, {}},
                                                {2, kSchema2, kSchema2Local, kSchema2Server}};
  return steps;
}

RecordDatabase::RecordDatabase(const std::string& path, Mode mode,
                               const std::vector<SchemaStep>& steps,
                               std::function<bool()> keep_waiting)
    : path_(path), keep_waiting_(std::move(keep_waiting)) {
  try {
    Open(mode, steps);
  } catch (...) {
    sqlite3_close_v2(db_);
    throw;
  }
}

void RecordDatabase::Open(Mode mode, const std::vector<SchemaStep>& steps) {
  const int flags =
      mode == Mode::kWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  const std::string file_name = SqliteFileName(path_);
  if (sqlite3_open_v2(file_name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    Fail("cannot open");
  }
  sqlite3_extended_result_codes(db_, 1);
  if (keep_waiting_) {
    sqlite3_busy_handler(
        db_,
        [](void* self, int) -> int {
          if (!static_cast<RecordDatabase*>(self)->keep_waiting_()) return 0;
          sqlite3_sleep(20);
          return 1;
        },
        this);
  } else {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  }
  if (mode == Mode::kRead) {
    const int version = SchemaVersion();
    const int known = steps.empty() ? 0 : steps.back().version;
    if (version > known) {
      throw RecordsError(path_ + ": records of schema version " + std::to_string(version) +
                         ", newer than this stbup knows (" + std::to_string(known) + ")");
    }
    return;
  }
  // The write-ahead log lets readers and one writer at a time work together;
  // NORMAL syncs at checkpoints only, which a log of records can afford.
  Execute("PRAGMA journal_mode=WAL");
  Execute("PRAGMA synchronous=NORMAL");
  Migrate(steps);
}

RecordDatabase::~RecordDatabase() { sqlite3_close_v2(db_); }

void RecordDatabase::Fail(std::string_view what) {
  std::string message = path_ + ": " + std::string(what);
  if (db_ != nullptr) {
    message += ": ";
    message += sqlite3_errmsg(db_);
  }
  throw RecordsError(message);
}

void RecordDatabase::Execute(std::string_view sql) {
  const std::string text(sql);
  char* error = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw RecordsError(path_ + ": " + message);
  }
}

int RecordDatabase::SchemaVersion() {
  Statement exists(db_,
                   "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND "
                   "name = 'stbup_schema'");
  if (!exists.ok()) Fail("cannot read");
  const int step = sqlite3_step(exists.get());
  if (step != SQLITE_ROW) Fail("cannot read");
  if (exists.Integer(0) == 0) return 0;
  Statement version(db_, "SELECT COALESCE(MAX(version), 0) FROM stbup_schema");
  if (!version.ok() || sqlite3_step(version.get()) != SQLITE_ROW) Fail("cannot read");
  return static_cast<int>(version.Integer(0));
}

void RecordDatabase::Migrate(const std::vector<SchemaStep>& steps) {
  // IMMEDIATE: two processes creating one file at once take turns, and the
  // second sees the first one's schema.
  Execute("BEGIN IMMEDIATE");
  try {
    Execute(
        "CREATE TABLE IF NOT EXISTS stbup_schema (version INTEGER NOT NULL PRIMARY KEY, "
        "applied_at VARCHAR(24) NOT NULL)");
    const int current = SchemaVersion();
    const int known = steps.empty() ? 0 : steps.back().version;
    if (current > known) {
      throw RecordsError(path_ + ": records of schema version " + std::to_string(current) +
                         ", newer than this stbup knows (" + std::to_string(known) + ")");
    }
    for (const SchemaStep& step : steps) {
      if (step.version <= current) continue;
      Execute(step.sql);
      if (!step.local_sql.empty()) Execute(step.local_sql);
      Statement applied(db_, "INSERT INTO stbup_schema (version, applied_at) VALUES (?, ?)");
      if (!applied.ok()) Fail("cannot write");
      applied.Bind(1, static_cast<std::int64_t>(step.version));
      applied.Bind(2, FormatUtcTimestamp(std::chrono::system_clock::now()));
      if (sqlite3_step(applied.get()) != SQLITE_DONE) Fail("cannot write");
    }
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void RecordDatabase::Insert(const std::vector<BoxRecord>& records, bool skip_known) {
  if (records.empty()) return;
  Execute("BEGIN IMMEDIATE");
  try {
    std::string sql = std::string(skip_known ? "INSERT OR IGNORE" : "INSERT") +
                      " INTO box_records (" + std::string(kColumns) + ") VALUES (?";
    for (int i = 1; i < kColumnCount; ++i) sql += ", ?";
    sql += ")";
    Statement insert(db_, sql);
    if (!insert.ok()) Fail("cannot write");
    for (const BoxRecord& r : records) {
      sqlite3_reset(insert.get());
      sqlite3_clear_bindings(insert.get());
      int i = 0;
      insert.Bind(++i, r.record_id);
      insert.Bind(++i, r.started_at);
      insert.Bind(++i, r.ended_at);
      insert.Bind(++i, r.station);
      insert.Bind(++i, r.front_end);
      insert.Bind(++i, r.port);
      insert.Bind(++i, r.loader_kind);
      insert.Bind(++i, r.loader_version);
      ++i;
      if (r.flash_size) insert.Bind(i, static_cast<std::int64_t>(*r.flash_size));
      insert.Bind(++i, r.flash_chip);
      insert.Bind(++i, r.box_model);
      insert.Bind(++i, r.box_hw);
      insert.Bind(++i, r.box_sw);
      insert.Bind(++i, r.image_path);
      ++i;
      if (r.image_size) insert.Bind(i, *r.image_size);
      insert.Bind(++i, r.image_sha256);
      insert.Bind(++i, r.image_model);
      insert.Bind(++i, r.image_hw);
      insert.Bind(++i, r.image_sw);
      insert.Bind(++i, r.image_type);
      insert.Bind(++i, static_cast<std::int64_t>(r.blocks_sent));
      insert.Bind(++i, static_cast<std::int64_t>(r.blocks_retried));
      insert.Bind(++i, r.seconds);
      insert.Bind(++i, std::string(VerdictName(r.verdict)));
      insert.Bind(++i, static_cast<std::int64_t>(r.exit_status));
      insert.Bind(++i, r.log_tail);
      insert.Bind(++i, r.operator_name);
      insert.Bind(++i, r.work_order);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) Fail("cannot write");
    }
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<BoxRecord> RecordDatabase::Query(const RecordFilter& filter) {
  std::vector<BoxRecord> records;
  Query(filter, [&records](const BoxRecord& record) { records.push_back(record); });
  return records;
}

void RecordDatabase::Query(const RecordFilter& filter, int passes,
                           const std::function<void(int pass, const BoxRecord&)>& each) {
  if (passes <= 1) {
    Query(filter, [&each](const BoxRecord& record) { each(0, record); });
    return;
  }
  Execute("BEGIN");
  try {
    for (int pass = 0; pass < passes; ++pass) {
      Query(filter, [&each, pass](const BoxRecord& record) { each(pass, record); });
    }
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void RecordDatabase::Query(const RecordFilter& filter,
                           const std::function<void(const BoxRecord&)>& each) {
  if (SchemaVersion() == 0) return;  // a file no record has reached yet
  std::string sql = "SELECT " + std::string(kColumns) + " FROM box_records WHERE 1 = 1";
  std::vector<std::string> values;
  const auto where = [&](const std::optional<std::string>& value, std::string_view clause,
                         int uses = 1) {
    if (!value) return;
    sql += " AND ";
    sql += clause;
    for (int k = 0; k < uses; ++k) values.push_back(*value);
  };
  where(filter.since, "started_at >= ?");
  where(filter.before, "started_at < ?");
  where(filter.port, "port = ?");
  where(filter.model, "(box_model = ? OR image_model = ?)", 2);
  if (filter.verdict) where(std::string(VerdictName(*filter.verdict)), "verdict = ?");
  where(filter.station, "station = ?");
  where(filter.operator_name, "operator_name = ?");
  where(filter.work_order, "work_order = ?");
  if (filter.pending) {
    sql += " AND record_id NOT IN (SELECT record_id FROM record_uploads)";
  }
  sql += " ORDER BY started_at, record_id";
  if (filter.limit) sql += " LIMIT " + std::to_string(*filter.limit);

  Statement query(db_, sql);
  if (!query.ok()) Fail("cannot read");
  for (std::size_t k = 0; k < values.size(); ++k) query.Bind(static_cast<int>(k + 1), values[k]);
  for (;;) {
    const int step = sqlite3_step(query.get());
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) Fail("cannot read");
    BoxRecord r;
    int i = 0;
    r.record_id = query.Text(i++);
    r.started_at = query.Text(i++);
    r.ended_at = query.Text(i++);
    r.station = query.Text(i++);
    r.front_end = query.Text(i++);
    r.port = query.Text(i++);
    r.loader_kind = query.OptionalText(i++);
    r.loader_version = query.OptionalText(i++);
    if (auto size = query.OptionalInteger(i++)) r.flash_size = static_cast<std::int32_t>(*size);
    r.flash_chip = query.OptionalText(i++);
    r.box_model = query.OptionalText(i++);
    r.box_hw = query.OptionalText(i++);
    r.box_sw = query.OptionalText(i++);
    r.image_path = query.Text(i++);
    r.image_size = query.OptionalInteger(i++);
    r.image_sha256 = query.OptionalText(i++);
    r.image_model = query.Text(i++);
    r.image_hw = query.Text(i++);
    r.image_sw = query.Text(i++);
    r.image_type = query.Text(i++);
    r.blocks_sent = static_cast<std::int32_t>(query.Integer(i++));
    r.blocks_retried = static_cast<std::int32_t>(query.Integer(i++));
    r.seconds = sqlite3_column_double(query.get(), i++);
    const std::string verdict = query.Text(i++);
    // New verdict names come with a schema step, so this is damage.
    const auto known = VerdictFromName(verdict);
    if (!known) throw RecordsError(path_ + ": a record with the unknown verdict " + verdict);
    r.verdict = *known;
    r.exit_status = static_cast<int>(query.Integer(i++));
    r.log_tail = query.Text(i++);
    r.operator_name = query.OptionalText(i++);
    r.work_order = query.OptionalText(i++);
    each(r);
  }
}

void RecordDatabase::MarkUploaded(const std::vector<std::string>& record_ids,
                                  const std::string& at) {
  if (record_ids.empty()) return;
  Execute("BEGIN IMMEDIATE");
  try {
    Statement mark(db_,
                   "INSERT OR IGNORE INTO record_uploads (record_id, uploaded_at) VALUES (?, ?)");
    if (!mark.ok()) Fail("cannot write");
    for (const std::string& id : record_ids) {
      sqlite3_reset(mark.get());
      mark.Bind(1, id);
      mark.Bind(2, at);
      if (sqlite3_step(mark.get()) != SQLITE_DONE) Fail("cannot write");
    }
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t RecordDatabase::PendingCount() {
  const int version = SchemaVersion();
  if (version == 0) return 0;
  // A file from before the outbox: nothing of it has been sent.
  Statement count(db_, version < 2 ? "SELECT COUNT(*) FROM box_records"
                                   : "SELECT COUNT(*) FROM box_records WHERE record_id NOT IN "
                                     "(SELECT record_id FROM record_uploads)");
  if (!count.ok() || sqlite3_step(count.get()) != SQLITE_ROW) Fail("cannot read");
  return count.Integer(0);
}

RecordDatabase::UploadState RecordDatabase::ReadUploadState() {
  UploadState state;
  if (SchemaVersion() < 2) return state;
  Statement read(db_,
                 "SELECT server, last_batch_at, last_error, last_error_at FROM "
                 "record_upload_state WHERE id = 1");
  if (!read.ok()) Fail("cannot read");
  const int step = sqlite3_step(read.get());
  if (step == SQLITE_DONE) return state;
  if (step != SQLITE_ROW) Fail("cannot read");
  state.server = read.OptionalText(0);
  state.last_batch_at = read.OptionalText(1);
  state.last_error = read.OptionalText(2);
  state.last_error_at = read.OptionalText(3);
  return state;
}

void RecordDatabase::WriteUploadState(const UploadState& state) {
  Statement write(db_,
                  "INSERT OR REPLACE INTO record_upload_state (id, server, last_batch_at, "
                  "last_error, last_error_at) VALUES (1, ?, ?, ?, ?)");
  if (!write.ok()) Fail("cannot write");
  write.Bind(1, state.server);
  write.Bind(2, state.last_batch_at);
  write.Bind(3, state.last_error);
  write.Bind(4, state.last_error_at);
  if (sqlite3_step(write.get()) != SQLITE_DONE) Fail("cannot write");
}

}  // namespace stbup
