#pragma once

#include <string>

namespace stbup {

// A path as SQLite takes file names: UTF-8. On Linux the path's bytes as
// they are; on Windows paths arrive in the system's ANSI code page (the
// command line, the environment) and are converted, so a folder such as
// C:\Users\José\AppData\Local opens.
std::string SqliteFileName(const std::string& path);

}  // namespace stbup
