#pragma once

#include <ostream>
#include <string>

#include "seams/box_record.h"

namespace stbup {

inline void PrintTo(const BoxRecord& r, std::ostream* out) {
  *out << "{" << r.record_id << " " << r.started_at << " " << r.port << " "
       << VerdictName(r.verdict) << " " << r.exit_status << "}";
}

namespace testing {

// A whole record, told apart by k.
inline BoxRecord SampleRecord(int k, Verdict verdict) {
  BoxRecord r;
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", k);
  r.record_id = id;
  r.started_at = "2026-12-08T12:00:" + std::to_string(10 + k % 50) + ".125Z";
  r.ended_at = "2026-12-08T12:01:00.500Z";
  r.station = "bench-3";
  r.front_end = "upgrade";
  r.port = "/dev/ttyUSB0";
  r.loader_kind = "5518";
  r.loader_version = "0217";
  r.flash_size = 1;
  r.flash_chip = "2782";
  r.box_model = "MX1";
  r.box_hw = "01.02.03";
  r.box_sw = "01.00.00";
  r.image_path = "/srv/images/mx1.bin";
  r.image_size = 786533;
  r.image_model = "MX1";
  r.image_hw = "01.02.03";
  r.image_sw = "04.05.06";
  r.image_type = "CODE";
  r.blocks_sent = 768;
  r.blocks_retried = k % 3;
  r.seconds = 12.5 + k;
  r.verdict = verdict;
  r.exit_status = ExitStatusOf(verdict);
  return r;
}

// Where no records file can be made, even by root.
inline std::string UnwritableRecordsPath() { return "/proc/self/stbup/records.sqlite3"; }

}  // namespace testing
}  // namespace stbup
