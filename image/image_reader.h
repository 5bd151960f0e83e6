#pragma once

#include <string>

#include "image/image_info.h"

namespace stbup {

// Loads an image without a window, as a fresh ImageInfo with the tool's own
// check code. Throws std::runtime_error carrying the system's message when the
// file cannot be opened ("Cannot open file ..."), is refused ("This File is not
// appropriate Image!") or has a bad start block ("'...' is not a valid integer value").
ImageInfo ReadImageInfo(const std::string& path);

}  // namespace stbup
