// What keeping records costs: the hand-over of a box's record to the writer
// (all the exchange ever waits for), also while another connection holds the
// file locked, and one record's transaction in the writer's own thread.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "records/record_database.h"
#include "records/record_writer.h"

namespace {

using namespace stbup;

BoxRecord Sample(std::int64_t k) {
  BoxRecord r;
  r.record_id = "bench-" + std::to_string(k);
  r.started_at = "2026-12-08T12:00:00.000Z";
  r.ended_at = "2026-12-08T12:01:11.000Z";
  r.station = "bench";
  r.front_end = "upgrade";
  r.port = "/dev/ttyUSB0";
  r.loader_kind = "5518";
  r.loader_version = "0217";
  r.box_model = "MX1";
  r.image_path = "/srv/images/mx1.bin";
  r.image_model = "MX1";
  r.image_type = "CODE";
  r.blocks_sent = 768;
  r.seconds = 71.2;
  r.verdict = Verdict::kUpgraded;
  r.exit_status = 0;
  return r;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() /
          ("stbup-bench-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

void Remove(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

void BM_AppendWhileTheFileIsLocked(benchmark::State& state) {
  const std::string path = TempFile("locked.sqlite3");
  Remove(path);
  { RecordDatabase(path, RecordDatabase::Mode::kWrite); }
  sqlite3* holder = nullptr;
  sqlite3_open(path.c_str(), &holder);
  const bool locked = state.range(0) != 0;
  if (locked) sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  {
    RecordWriter writer(path);
    std::int64_t k = 0;
    for (auto _ : state) writer.Append(Sample(k++));
    state.SetItemsProcessed(k);
    // The writer waits for the file, not the caller; let it finish.
    if (locked) sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_close(holder);
  Remove(path);
}
BENCHMARK(BM_AppendWhileTheFileIsLocked)->Arg(0)->Arg(1)->Iterations(2000);

void BM_OneRecordPerTransaction(benchmark::State& state) {
  const std::string path = TempFile("insert.sqlite3");
  Remove(path);
  {
    RecordDatabase database(path, RecordDatabase::Mode::kWrite);
    std::int64_t k = 0;
    for (auto _ : state) database.Insert({Sample(k++)});
    state.SetItemsProcessed(k);
  }
  Remove(path);
}
BENCHMARK(BM_OneRecordPerTransaction)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
