#include "image/image_reader.h"

#include <cerrno>
#include <stdexcept>

#include "image/check_code.h"
#include "image/image_file.h"
#include "image/image_loader.h"
#include "image/image_parser.h"
#include "seams/errors.h"
#include "seams/null_view.h"

namespace stbup {

ImageInfo ReadImageInfo(const std::string& path) {
  ImageInfo info;
  info.ImageFileName = path;
  NullView view;  // loading without a window: nothing is shown
  const LoaderContext ctx{"", BuildImageCheckCode()};
  if (!CanOpenImageFile(path) && !CanOpenImageFile(path)) {
    throw EFileError::CannotOpen(path, errno);
  }
  if (!LoadImage(info, view, ctx)) {
    // A file that opened a moment ago was refused, unless it has just gone.
    if (!CanOpenImageFile(path)) throw EFileError::CannotOpen(path, errno);
    throw std::runtime_error(std::string(kRefusedLine));
  }
  return info;
}

}  // namespace stbup
