#include "records/record_database.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using testing::SampleRecord;

// What SQLite itself says of the file, outside the class under test.
std::string Pragma(const std::string& path, const std::string& pragma) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::string value;
  if (sqlite3_prepare_v2(db, ("PRAGMA " + pragma).c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

TEST(RecordDatabaseTest, EveryFieldComesBackAsWrittenAndAbsentOnesStayAbsent) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  BoxRecord full = SampleRecord(1, Verdict::kRestarted);
  full.box_model = "M\xC3\xA9X";  // a box's byte 0xE9, kept as U+00E9
  full.log_tail = "0003 Block Retry\nSTB normal start.";
  full.image_sha256 = std::string(64, 'a');
  BoxRecord sparse = SampleRecord(2, Verdict::kTimeout);
  sparse.loader_kind.reset();
  sparse.loader_version.reset();
  sparse.flash_size.reset();
  sparse.flash_chip.reset();
  sparse.box_model.reset();
  sparse.box_hw.reset();
  sparse.box_sw.reset();
  sparse.image_size.reset();
  {
    RecordDatabase database(path, RecordDatabase::Mode::kWrite);
    database.Insert({full, sparse});
  }
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  const std::vector<BoxRecord> got = database.Query({});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], full);
  EXPECT_EQ(got[1], sparse);
  EXPECT_EQ(Pragma(path, "journal_mode"), "wal");
}

TEST(RecordDatabaseTest, FiltersCombineOnStartTimePortModelAndVerdict) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  std::vector<BoxRecord> records;
  for (int k = 0; k < 6; ++k) {
    BoxRecord r = SampleRecord(k, k % 2 == 0 ? Verdict::kUpgraded : Verdict::kRefused);
    r.started_at = "2026-12-0" + std::to_string(1 + k) + "T10:00:00.000Z";
    r.port = k < 3 ? "/dev/ttyUSB0" : "COM2";
    r.box_model = k == 4 ? "ZZ-9" : "MX1";
    r.image_model = k == 5 ? "ZZ-9" : "MX1";
    records.push_back(r);
  }
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(records);
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  const auto ids = [&](const RecordFilter& filter) {
    std::vector<std::string> got;
    for (const BoxRecord& r : database.Query(filter)) got.push_back(r.record_id);
    return got;
  };
  const auto id = [&](int k) { return records[static_cast<std::size_t>(k)].record_id; };
  RecordFilter since;
  since.since = "2026-12-03T10:00:00.000Z";
  EXPECT_EQ(ids(since), (std::vector{id(2), id(3), id(4), id(5)}));
  RecordFilter window = since;
  window.before = "2026-12-05T10:00:00.000Z";
  EXPECT_EQ(ids(window), (std::vector{id(2), id(3)}));
  RecordFilter port;
  port.port = "COM2";
  EXPECT_EQ(ids(port), (std::vector{id(3), id(4), id(5)}));
  RecordFilter model;  // the box's model or the image's
  model.model = "ZZ-9";
  EXPECT_EQ(ids(model), (std::vector{id(4), id(5)}));
  RecordFilter refused_on_com2 = port;
  refused_on_com2.verdict = Verdict::kRefused;
  EXPECT_EQ(ids(refused_on_com2), (std::vector{id(3), id(5)}));
}

TEST(RecordDatabaseTest, FiltersOnStationOperatorAndWorkOrder) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  std::vector<BoxRecord> records;
  for (int k = 0; k < 4; ++k) {
    BoxRecord r = SampleRecord(k, Verdict::kUpgraded);
    r.station = k < 2 ? "line-a" : "line-b";
    if (k % 2 == 1) r.operator_name = "Ana";
    if (k == 3) r.work_order = "WO-9";
    records.push_back(r);
  }
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(records);
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  const struct {
    std::optional<std::string> station, operator_name, work_order;
    std::vector<int> expected;
  } cases[] = {
      {"line-a", {}, {}, {0, 1}}, {{}, "Ana", {}, {1, 3}},    {"line-b", "Ana", {}, {3}},
      {{}, {}, "WO-9", {3}},      {"line-a", {}, "WO-9", {}},
  };
  for (const auto& test : cases) {
    RecordFilter filter;
    filter.station = test.station;
    filter.operator_name = test.operator_name;
    filter.work_order = test.work_order;
    std::vector<std::string> got, want;
    for (const BoxRecord& r : database.Query(filter)) got.push_back(r.record_id);
    for (const int k : test.expected)
      want.push_back(records[static_cast<std::size_t>(k)].record_id);
    EXPECT_EQ(got, want) << test.station.value_or("-") << " " << test.operator_name.value_or("-");
  }
}

TEST(RecordDatabaseTest, SchemaStepsApplyOnceInOrderAndANewerFileIsRefused) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert({SampleRecord(1, Verdict::kUpgraded)});
  EXPECT_EQ(RecordDatabase(path, RecordDatabase::Mode::kRead).SchemaVersion(), 2);

  // A later build's step: applied to the existing file, keeping its records.
  std::vector<SchemaStep> later = RecordSchemaSteps();
  later.push_back({3, "ALTER TABLE box_records ADD COLUMN line_speed VARCHAR(64)"});
  {
    RecordDatabase upgraded(path, RecordDatabase::Mode::kWrite, later);
    EXPECT_EQ(upgraded.SchemaVersion(), 3);
    EXPECT_EQ(upgraded.Query({}).size(), 1u);
  }
  // Opening again does not apply it twice (ADD COLUMN twice would fail).
  EXPECT_NO_THROW(RecordDatabase(path, RecordDatabase::Mode::kWrite, later));

  // This build knows version 2 only: a version-3 file is neither written nor read.
  EXPECT_THROW(RecordDatabase(path, RecordDatabase::Mode::kWrite), RecordsError);
  try {
    RecordDatabase(path, RecordDatabase::Mode::kRead);
    ADD_FAILURE() << "a newer file was read";
  } catch (const RecordsError& error) {
    EXPECT_NE(std::string(error.what()).find("schema version 3, newer than this stbup knows (2)"),
              std::string::npos)
        << error.what();
  }
}

// A file an earlier build made (schema 1) takes the station's fields and the
// outbox; its records keep every value and count as not sent yet.
TEST(RecordDatabaseTest, AnEarlierFileGainsTheNewFieldsAndItsRecordsArePending) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  const std::vector<SchemaStep> first = {RecordSchemaSteps().front()};
  {
    // What the earlier build wrote: its 26 columns only.
    RecordDatabase earlier(path, RecordDatabase::Mode::kWrite, first);
    EXPECT_EQ(earlier.SchemaVersion(), 1);
    EXPECT_EQ(earlier.PendingCount(), 0);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO box_records (record_id, started_at, ended_at, station, "
                         "front_end, port, image_path, image_model, image_hw, image_sw, "
                         "image_type, blocks_sent, blocks_retried, seconds, verdict, "
                         "exit_status) VALUES ('old-1', '2026-12-01T10:00:00.000Z', "
                         "'2026-12-01T10:01:00.000Z', 'pc-7', 'upgrade', 'COM1', '/i.bin', "
                         "'MX1', '01.02.03', '04.05.06', 'CODE', 768, 0, 60, 'upgraded', 0)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(RecordDatabase(path, RecordDatabase::Mode::kRead).PendingCount(), 1);

  RecordDatabase database(path, RecordDatabase::Mode::kWrite);
  EXPECT_EQ(database.SchemaVersion(), 2);
  BoxRecord labelled = SampleRecord(2, Verdict::kRefused);
  labelled.operator_name = "Ana";
  labelled.work_order = "WO-2026-117";
  database.Insert({labelled});
  const std::vector<BoxRecord> got = database.Query({});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].record_id, "old-1");
  EXPECT_EQ(got[0].station, "pc-7");
  EXPECT_EQ(got[0].operator_name, std::nullopt);
  EXPECT_EQ(got[0].work_order, std::nullopt);
  EXPECT_EQ(got[1], labelled);
  EXPECT_EQ(database.PendingCount(), 2);
}

TEST(RecordDatabaseTest, TheOutboxSendsOldestFirstAndForgetsWhatTheServerConfirmed) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  RecordDatabase database(path, RecordDatabase::Mode::kWrite);
  std::vector<BoxRecord> records;
  for (int k = 0; k < 5; ++k) records.push_back(SampleRecord(k, Verdict::kUpgraded));
  database.Insert(records);
  const auto pending = [&](int limit) {
    RecordFilter filter;
    filter.pending = true;
    filter.limit = limit;
    std::vector<std::string> ids;
    for (const BoxRecord& r : database.Query(filter)) ids.push_back(r.record_id);
    return ids;
  };
  EXPECT_EQ(database.PendingCount(), 5);
  EXPECT_EQ(pending(2), (std::vector{records[0].record_id, records[1].record_id}));
  database.MarkUploaded({records[0].record_id, records[1].record_id}, "2026-12-09T01:00:00.000Z");
  // A batch confirmed twice (its first mark lost) counts once.
  database.MarkUploaded({records[1].record_id}, "2026-12-09T01:00:05.000Z");
  EXPECT_EQ(database.PendingCount(), 3);
  EXPECT_EQ(pending(10),
            (std::vector{records[2].record_id, records[3].record_id, records[4].record_id}));
  EXPECT_EQ(database.Query({}).size(), 5u);  // sent records stay in the file

  EXPECT_EQ(database.ReadUploadState().last_batch_at, std::nullopt);
  RecordDatabase::UploadState state;
  state.server = "host=db.line dbname=records";
  state.last_batch_at = "2026-12-09T01:00:05.000Z";
  state.last_error = "records server: host=db.line dbname=records: no answer within 15 s";
  state.last_error_at = "2026-12-09T00:59:00.000Z";
  database.WriteUploadState(state);
  state.last_batch_at = "2026-12-09T01:02:00.000Z";
  database.WriteUploadState(state);  // one state, replaced
  const auto kept = RecordDatabase(path, RecordDatabase::Mode::kRead).ReadUploadState();
  EXPECT_EQ(kept.server, state.server);
  EXPECT_EQ(kept.last_batch_at, state.last_batch_at);
  EXPECT_EQ(kept.last_error, state.last_error);
  EXPECT_EQ(kept.last_error_at, state.last_error_at);
}

TEST(RecordDatabaseTest, AFileThatIsNoDatabaseOrCannotBeWrittenFailsWithSqlitesReason) {
  TempDir dir;
  const std::string corrupt = dir.WriteFile("corrupt.sqlite3", std::string(4096, 'x'));
  try {
    RecordDatabase(corrupt, RecordDatabase::Mode::kWrite);
    ADD_FAILURE() << "a corrupt file was opened";
  } catch (const RecordsError& error) {
    EXPECT_NE(std::string(error.what()).find("file is not a database"), std::string::npos)
        << error.what();
  }
  EXPECT_THROW(RecordDatabase(corrupt, RecordDatabase::Mode::kRead).Query({}), RecordsError);

  EXPECT_THROW(RecordDatabase(testing::UnwritableRecordsPath(), RecordDatabase::Mode::kWrite),
               RecordsError);
  if (::geteuid() == 0) return;  // root writes a read-only file all the same
  const std::string read_only = dir.PathOf("read_only.sqlite3");
  RecordDatabase(read_only, RecordDatabase::Mode::kWrite)
      .Insert({SampleRecord(1, Verdict::kUpgraded)});
  ::chmod(read_only.c_str(), 0444);
  EXPECT_THROW(RecordDatabase(read_only, RecordDatabase::Mode::kWrite)
                   .Insert({SampleRecord(2, Verdict::kUpgraded)}),
               RecordsError);
}

}  // namespace
}  // namespace stbup
