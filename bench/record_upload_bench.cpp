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
      stbup::BoxRecord r;
      char id[40];
      std::snprintf(id, sizeof id, "%08x-0000-4000-8000-%012d", static_cast<unsigned>(std::rand()),
                    k);
      r.record_id = id;
      r.started_at = "2026-12-09T01:00:00.000Z";
      r.ended_at = "2026-12-09T01:01:10.000Z";
      r.station = "bench";
      r.front_end = "station";
      r.port = "/dev/ttyUSB" + std::to_string(k % 16);
      r.loader_kind = "5518";
      r.loader_version = "0217";
      r.flash_size = 1;
      r.flash_chip = "2782";
      r.box_model = "MX1";
      r.box_hw = "01.02.03";
      r.box_sw = "01.00.00";
      r.image_path = "/srv/images/mx1.bin";
      r.image_size = 786533;
      r.image_sha256 = std::string(64, 'a');
      r.image_model = "MX1";
      r.image_hw = "01.02.03";
      r.image_sw = "04.05.06";
      r.image_type = "CODE";
      r.blocks_sent = 768;
      r.seconds = 70.0 + k % 7;
      r.verdict = stbup::Verdict::kUpgraded;
      r.exit_status = 0;
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
