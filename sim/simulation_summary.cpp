#include "sim/simulation_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace stbup {

std::int64_t Percentile(std::vector<std::int64_t> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const std::size_t index =
      static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(samples.size()))) - 1;
  return samples[index];
}

std::string PrintableBytes(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      text += hex;
    }
  }
  return text;
}

std::string SummaryJson(const SimulationSummary& s) {
  nlohmann::ordered_json j;
  j["loader"] = PrintableBytes(s.loader);
  j["blocks"] = s.blocks;
  j["retries"] = s.retries;
  j["bytes"] = s.bytes;
  j["received_bytes"] = s.received_bytes;
  j["sent_bytes"] = s.sent_bytes;
  j["seconds"] = std::round(s.seconds * 1e6) / 1e6;
  j["download_seconds"] = std::round(s.download_seconds * 1e6) / 1e6;
  j["latency_p50_us"] = s.latency_p50_us;
  j["latency_p99_us"] = s.latency_p99_us;
  j["verdict"] = s.verdict;
  j["image_checked"] = s.image_checked;
  j["token"] = PrintableBytes(s.token);
  j["start_block"] = s.start_block;
  j["block_count"] = s.block_count;
  nlohmann::json problems = nlohmann::json::array();
  for (const auto& p : s.problems) problems.push_back(PrintableBytes(p));
  j["problems"] = problems;
  return j.dump();
}

}  // namespace stbup
