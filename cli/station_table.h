#pragma once

#include <string>
#include <vector>

#include "cli/station_port.h"

namespace stbup {

// The live table of a station on a terminal: a header and one line per port,
// each cut to width columns so that redrawing in place never wraps.
std::vector<std::string> StationTable(const std::vector<StationRow>& rows, std::size_t width);

// What the station did, port by port, when it ends: a line per port with its
// counts and last verdict, then every box that did not end upgraded and why.
struct StationBoxSummary {
  bool succeeded = false;  // upgraded (or, checking only, accepted)
  std::string verdict;
};
struct StationPortSummary {
  std::string port;
  std::vector<StationBoxSummary> boxes;  // in order
};
// success names what a box that succeeded did: "upgraded", or "accepted" when
// the station only checks.
std::vector<std::string> StationSummary(const std::vector<StationPortSummary>& ports,
                                        std::string_view success = "upgraded");

// "12.3 KiB/s", "--" for 0.
std::string StationRate(double bytes_per_second);
// "m:ss".
std::string StationElapsed(double seconds);

}  // namespace stbup
