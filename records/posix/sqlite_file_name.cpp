#include "records/sqlite_file_name.h"

namespace stbup {

std::string SqliteFileName(const std::string& path) { return path; }

}  // namespace stbup
