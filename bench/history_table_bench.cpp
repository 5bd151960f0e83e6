// What `stbup history` costs on a terminal with a line's worth of records:
// fills a records file with N records, then runs the real binary with a
// pseudo-terminal as its standard output (so it prints the table) and prints
// its wall time, peak resident memory and the lines it wrote.
//
//   history_table_bench STBUP [N]     (N: 100000 by default)
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "records/record_database.h"

namespace {

using namespace stbup;

BoxRecord Sample(long k) {
  BoxRecord r;
  char id[64];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012ld", k);
  r.record_id = id;
  char started[96];
  std::snprintf(started, sizeof started, "2026-12-%02ldT%02ld:%02ld:%02ld.000Z", 1 + k / 86400 % 28,
                k / 3600 % 24, k / 60 % 60, k % 60);
  r.started_at = started;
  r.ended_at = started;
  r.station = "bench";
  r.front_end = "station";
  r.port = "/dev/ttyUSB" + std::to_string(k % 8);
  r.loader_kind = "5518";
  r.loader_version = "0217";
  r.box_model = "MX1";
  r.box_hw = "01.02.03";
  r.box_sw = "01.00.00";
  r.image_path = "/srv/images/mx1.bin";
  r.image_model = "MX1";
  r.image_hw = "01.02.03";
  r.image_sw = "04.05.06";
  r.image_type = "CODE";
  r.blocks_sent = 768;
  r.seconds = 71.2;
  r.verdict = k % 50 == 0 ? Verdict::kRefused : Verdict::kUpgraded;
  r.exit_status = ExitStatusOf(r.verdict);
  r.log_tail = k % 50 == 0 ? ">> model differs\n>> Upgrade Fail" : "";
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: history_table_bench STBUP [N]\n");
    return 2;
  }
  const long count = argc > 2 ? std::atol(argv[2]) : 100000;
  char folder[] = "/tmp/stbup-history-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string path = std::string(folder) + "/records.sqlite3";
  {
    RecordDatabase database(path, RecordDatabase::Mode::kWrite);
    std::vector<BoxRecord> batch;
    for (long k = 0; k < count; ++k) {
      batch.push_back(Sample(k));
      if (batch.size() == 10000 || k + 1 == count) {
        database.Insert(batch);
        batch.clear();
      }
    }
  }

  int master = -1;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (child < 0) return 1;
  if (child == 0) {
    ::execl(argv[1], argv[1], "history", "--records", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  long lines = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has closed the terminal
    for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n' ? 1 : 0;
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove_all(folder);
  std::printf("{\"records\":%ld,\"seconds\":%.3f,\"max_rss_mb\":%.1f,\"lines\":%ld,\"exit\":%d}\n",
              count, seconds, static_cast<double>(usage.ru_maxrss) / 1024.0, lines,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
