#include "seams/utc_timestamp.h"

#include <cstdio>

namespace stbup {

std::string FormatUtcTimestamp(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time);
  const auto day = std::chrono::floor<std::chrono::days>(ms);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(ms - day);
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

}  // namespace stbup
