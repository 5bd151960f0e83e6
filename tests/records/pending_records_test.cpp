// Records that cannot reach the records file are kept beside it and taken in
// by the next opening, once each; the wait for a held file is bounded.
#include "records/pending_records.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "records/record_database.h"
#include "records/record_writer.h"
#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using testing::SampleRecord;

TEST(PendingRecordsTest, EveryFieldSurvivesTheLineAndBrokenLinesAreRefused) {
  BoxRecord full = SampleRecord(1, Verdict::kRefused);
  full.box_model = std::string("A,\"B\"\\\x1b[2J\xC3\xA9\x7f", 13);
  full.log_tail = ">> model differs\n>> Upgrade Fail\t\r";
  full.image_sha256 = std::string(64, 'a');
  full.seconds = 0.1 + 0.2;
  BoxRecord sparse = SampleRecord(2, Verdict::kRestarted);
  sparse.loader_kind.reset();
  sparse.loader_version.reset();
  sparse.flash_size.reset();
  sparse.flash_chip.reset();
  sparse.box_model.reset();
  sparse.box_hw.reset();
  sparse.box_sw.reset();
  sparse.image_size.reset();
  for (const BoxRecord& record : {full, sparse}) {
    const std::string line = RecordToJsonLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_EQ(RecordFromJsonLine(line), record) << line;
  }
  const std::string whole = RecordToJsonLine(full);
  std::string unknown_verdict = whole;
  unknown_verdict.replace(unknown_verdict.find("\"refused\""), 9, "\"melted\"");
  std::string no_id = whole;
  no_id.replace(no_id.find("\"record_id\""), 11, "\"record_ix\"");
  for (const std::string& broken :
       {whole.substr(0, whole.size() / 2), whole.substr(0, whole.size() - 1), std::string(),
        std::string("{}"), unknown_verdict, no_id, whole + "x"}) {
    EXPECT_EQ(RecordFromJsonLine(broken), std::nullopt) << broken;
  }
}

TEST(PendingRecordsTest, TakeAllGivesEveryWholeLineOnceAndRemovesTheFile) {
  TempDir dir;
  const PendingRecords pending(dir.PathOf("records.sqlite3"));
  EXPECT_EQ(pending.Path(), dir.PathOf("records.sqlite3.pending.jsonl"));
  EXPECT_TRUE(pending.TakeAll().empty());
  pending.Append({SampleRecord(1, Verdict::kUpgraded), SampleRecord(2, Verdict::kTimeout)});
  pending.Append({SampleRecord(3, Verdict::kInterrupted)});
  // A run that died mid-line leaves half a record: it is no record.
  std::ofstream(pending.Path(), std::ios::app) << "{\"record_id\":\"torn";
  const std::vector<BoxRecord> taken = pending.TakeAll();
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[2], SampleRecord(3, Verdict::kInterrupted));
  EXPECT_FALSE(std::filesystem::exists(pending.Path()));
  EXPECT_TRUE(pending.TakeAll().empty());
}

// Another program holds the records file (as sqlite3 would with an open
// write transaction): the writer waits at most its bound, keeps the record
// beside the file, and the next writer takes it in, once.
TEST(PendingRecordsTest, AFileHeldPastTheBoundLosesNothing) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert({SampleRecord(0, Verdict::kUpgraded)});
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    RecordWriter writer(path);
    writer.Append(SampleRecord(1, Verdict::kUpgraded));
    const auto start = std::chrono::steady_clock::now();
    writer.Flush();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, RecordWriter::kExitWait);
    EXPECT_LT(waited, RecordWriter::kExitWait + std::chrono::seconds(2));
    const std::vector<std::string> notes = writer.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "1 record could not be written to " + path + " within 10 s: kept in " +
                            path + ".pending.jsonl for the next run");
    EXPECT_EQ(writer.TakeProblem(), std::nullopt);  // busy is no fault of the file
  }
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  ASSERT_TRUE(std::filesystem::exists(path + ".pending.jsonl"));
  // The same record kept twice (a run that died after taking in): once.
  PendingRecords(path).Append({SampleRecord(1, Verdict::kUpgraded)});
  {
    RecordWriter writer(path);
    writer.Append(SampleRecord(2, Verdict::kRefused));
    writer.Flush();
    const std::vector<std::string> notes = writer.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "2 records kept in " + path + ".pending.jsonl by an earlier run taken in");
  }
  const auto all = RecordDatabase(path, RecordDatabase::Mode::kRead).Query({});
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1].record_id, SampleRecord(1, Verdict::kUpgraded).record_id);
  EXPECT_FALSE(std::filesystem::exists(path + ".pending.jsonl"));
}

TEST(PendingRecordsTest, ABrokenFileKeepsItsRecordsAside) {
  TempDir dir;
  const std::string corrupt = dir.WriteFile("corrupt.sqlite3", std::string(4096, 'x'));
  {
    RecordWriter writer(corrupt);
    writer.Append(SampleRecord(4, Verdict::kUpgraded));
    writer.Flush();
    EXPECT_TRUE(writer.TakeProblem().has_value());
  }
  const auto kept = PendingRecords(corrupt).TakeAll();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0], SampleRecord(4, Verdict::kUpgraded));
}

}  // namespace
}  // namespace stbup
