#pragma once

#include <string>

namespace stbup {

// Image files are read and written through C runtime descriptors; how one is
// opened is the platform's (each in image/<platform>/regular_file.cpp).

// Opens the path read-only, in binary, when it names a regular file. Never
// waits for a FIFO's writer. Returns -1 with errno set on failure (EISDIR for
// a folder, EINVAL for any other kind of file).
int OpenRegularFile(const std::string& path);

// Creates the file, or empties an existing one, for writing bytes unchanged.
// Returns -1 with errno set on failure.
int CreateRegularFile(const std::string& path);

}  // namespace stbup
