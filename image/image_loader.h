#pragma once

#include <string>

#include "image/image_info.h"
#include "seams/view.h"
#include "seams/working_folder.h"

namespace stbup {

// What the loader needs from the window that runs it.
struct LoaderContext {
  std::string caption;           // the window's caption, logged when a file opens
  std::string image_check_code;  // ImageCheckCode, built at start-up
};

// Opens info.ImageFileName, checks its marker, parses its header, shows the
// identification and log lines on the view and fills info. Returns true when
// the image is accepted, false when the file cannot be opened or is refused.
// A start block that is not an integer raises EConvertError after the
// announcement and the versions have been taken; a file that passes the open
// test but cannot then be read raises EFileError. A relative name is opened
// from folder (the window logic's working folder); the name shown stays.
bool LoadImage(ImageInfo& info, View& view, const LoaderContext& ctx,
               const WorkingFolder& folder = {});

}  // namespace stbup
