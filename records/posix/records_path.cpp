#include <cstdlib>
#include <string>

#include "records/records.h"

namespace stbup {

std::string DefaultRecordsPath() {
  const auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
  };
  if (std::string given = variable("STBUP_RECORDS"); !given.empty()) return given;
  // Only an absolute XDG_DATA_HOME counts, as the base-directory rules say.
  std::string data = variable("XDG_DATA_HOME");
  if (data.empty() || data.front() != '/') {
    const std::string home = variable("HOME");
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return data + "/stbup/records.sqlite3";
}

std::string DefaultRecordsPlace() {
  return "stbup/records.sqlite3 under $XDG_DATA_HOME or ~/.local/share";
}

}  // namespace stbup
