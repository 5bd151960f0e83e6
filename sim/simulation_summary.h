#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stbup {

// What one simulated box made of its upgrade. `verdict` is "verified" only
// when the box finished ("UPGRADE_SUCCESS") and every check it could make
// passed: its block sums, the total checksum, the geometry and tokens it was
// told to expect, and the region against the image when it had one.
struct SimulationSummary {
  std::string loader;                // the announcement line, e.g. "REQUEST_V217"
  std::int32_t blocks = 0;           // blocks accepted
  std::int32_t retries = 0;          // blocks answered with 1024DOWN_ERR
  std::int64_t bytes = 0;            // bytes of the accepted region
  std::uint64_t received_bytes = 0;  // every byte the tool sent
  std::uint64_t sent_bytes = 0;      // every byte the box sent
  double seconds = 0;                // from the wake-up byte to the box's last line
  double download_seconds = 0;       // from REQUEST_DOWNLOAD to the last block's verdict
  std::int64_t latency_p50_us = 0;   // end of a REQUEST_1024DOWN line to the 1025th byte
  std::int64_t latency_p99_us = 0;
  std::string verdict = "stopped";
  bool image_checked = false;
  std::string token;  // the last image-type token received
  std::int32_t start_block = -1;
  std::int32_t block_count = -1;
  std::vector<std::string> problems;
};

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none.
std::int64_t Percentile(std::vector<std::int64_t> samples, double p);

// The summary as one line of JSON, without the line end.
std::string SummaryJson(const SimulationSummary& summary);

// Bytes shown safely in a text: printable ASCII as is, anything else as \xNN.
std::string PrintableBytes(std::string_view bytes);

}  // namespace stbup
