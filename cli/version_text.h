#pragma once

#include <string>

namespace stbup {

// What `stbup --version` says: the program's version, and on a line of its
// own the versions of the records' libraries inside it, where it has them.
std::string VersionText();

}  // namespace stbup
