// Appends COUNT records tagged TAG to FILE through the records writer, as a
// station or a window would, then exits: 0 when the store said no problem.
// With SERVER, the writer also uploads to the line's server, and flushes
// every 50 records (each flush a round of uploads).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "records/record_writer.h"
#include "tests/records/sample_records.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: record_writer_tool FILE COUNT TAG [SERVER]\n");
    return 2;
  }
  const int count = std::atoi(argv[2]);
  const std::string server = argc == 5 ? argv[4] : "";
  stbup::RecordWriter writer(argv[1], server);
  for (int k = 0; k < count; ++k) {
    stbup::BoxRecord record = stbup::testing::SampleRecord(k, stbup::Verdict::kUpgraded);
    record.record_id = std::string(argv[3]) + "-" + std::to_string(k);
    record.station = argv[3];
    record.image_size.reset();  // nothing to digest: the writes are what is tested
    writer.Append(record);
    // One transaction each, so the two processes' writes interleave.
    if (server.empty() || k % 50 == 49) writer.Flush();
  }
  writer.Flush();
  if (const auto problem = writer.TakeProblem()) {
    std::fprintf(stderr, "record_writer_tool: %s\n", problem->c_str());
    return 1;
  }
  return 0;
}
