// Records uploaded per second: COUNT records written to a fresh records file,
// then sent to the line's server as `stbup records push` sends them. Prints
// one JSON line.
//
//   record_upload_bench URL [COUNT]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "records/record_database.h"
#include "records/records.h"
#include "tests/records/sample_records.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: record_upload_bench URL [COUNT]\n");
    return 2;
  }
  const std::string server = argv[1];
  const int count = argc == 3 ? std::atoi(argv[2]) : 20000;
  char folder[] = "/tmp/stbup-upload-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 2;
  const std::string path = std::string(folder) + "/records.sqlite3";
  {
    stbup::RecordDatabase database(path, stbup::RecordDatabase::Mode::kWrite);
    std::vector<stbup::BoxRecord> chunk;
    for (int k = 0; k < count; ++k) {
      stbup::BoxRecord r = stbup::testing::SampleRecord(k, stbup::Verdict::kUpgraded);
      // A fresh id each run, so a second run against the same server is not
      // taken as records it already has.
      char id[40];
      std::snprintf(id, sizeof id, "%08x-0000-4000-8000-%012d", static_cast<unsigned>(std::rand()),
                    k);
      r.record_id = id;
      r.station = "bench";
      r.front_end = "station";
      r.port = "/dev/ttyUSB" + std::to_string(k % 16);
      r.image_sha256 = std::string(64, 'a');
      r.operator_name = "Ana";
      r.work_order = "WO-117";
      chunk.push_back(r);
      if (chunk.size() == 1000) {
        database.Insert(chunk);
        chunk.clear();
      }
    }
    database.Insert(chunk);
  }
  const auto start = std::chrono::steady_clock::now();
  const stbup::PushResult pushed = stbup::PushRecords(path, server);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove_all(folder);
  for (const std::string& problem : pushed.problems) {
    std::fprintf(stderr, "record_upload_bench: %s\n", problem.c_str());
  }
  std::printf(
      "{\"records\": %lld, \"pending\": %lld, \"seconds\": %.3f, \"records_per_second\": %.0f}\n",
      static_cast<long long>(pushed.sent), static_cast<long long>(pushed.pending), seconds,
      static_cast<double>(pushed.sent) / seconds);
  return pushed.pending == 0 ? 0 : 1;
}
