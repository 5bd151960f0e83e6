#pragma once

#include <cstdint>
#include <string>

#include "image/image_info.h"

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

// Creates a file that did not exist, never through a link: an existing name
// (a file, a folder, a link, dangling or not) fails with EEXIST.
int CreateNewFile(const std::string& path);

// Reads up to count bytes at offset without moving a shared position;
// returns the bytes read, 0 at the end, -1 with errno set on failure.
long ReadFileAt(int fd, void* data, std::size_t count, std::int64_t offset);

// Which file a descriptor is and its size and time of change; size -1 when
// the platform cannot tell.
ImageFileIdentity IdentityOf(int fd);

void CloseFile(int fd);

}  // namespace stbup
