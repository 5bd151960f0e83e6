#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_info.h"

namespace stbup {

// The start of an image file and its size: all a load ever reads.
struct ImageFileHead {
  std::vector<std::uint8_t> bytes;  // at most the first 1024
  std::int64_t size = 0;
  ImageFileIdentity identity;
};

// The open test: true when the path names a regular file that opens for
// reading. Directories and devices fail it, so a load never blocks or reads a
// stream that has no size.
bool CanOpenImageFile(const std::string& path);

// Reads the first up-to-1024 bytes and the size; throws EFileError when the
// file cannot be opened or read.
ImageFileHead ReadImageFileHead(const std::string& path);

}  // namespace stbup
