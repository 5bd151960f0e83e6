// The versions of the store's libraries this program runs with, as the
// libraries themselves say them.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <string>

#include "records/records.h"

namespace stbup {

std::string LibPqVersionText(int version) {
  // Since 10, major * 10000 + minor; before, major * 10000 + minor * 100 + patch.
  const int major = version / 10000;
  if (major >= 10) return std::to_string(major) + "." + std::to_string(version % 10000);
  return std::to_string(major) + "." + std::to_string(version / 100 % 100) + "." +
         std::to_string(version % 100);
}

std::string RecordsLibraryVersions() {
  std::string text =
      std::string("SQLite ") + sqlite3_libversion() + ", libpq " + LibPqVersionText(PQlibVersion());
#ifdef STBUP_RECORDS_LIBRARY_SOURCES
  // Built into the program from these source packages.
  text += " (" STBUP_RECORDS_LIBRARY_SOURCES ")";
#endif
  return text;
}

}  // namespace stbup
