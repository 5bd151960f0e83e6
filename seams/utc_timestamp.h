#pragma once

#include <chrono>
#include <string>

namespace stbup {

// "2026-12-08T12:34:56.789Z": the records' form of a UTC time.
std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace stbup
