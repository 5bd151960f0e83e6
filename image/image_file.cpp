#include "image/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image/image_parser.h"
#include "image/regular_file.h"
#include "seams/errors.h"

namespace stbup {

bool CanOpenImageFile(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

ImageFileHead ReadImageFileHead(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) throw EFileError::CannotOpen(path, errno);
  ImageFileHead head;
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    const int error = errno;
    ::close(fd);
    throw EFileError::CannotOpen(path, error);
  }
  head.size = status.st_size;
  head.identity = IdentityOf(fd);
  head.bytes.resize(kHeaderReadSize);
  std::size_t filled = 0;
  while (filled < head.bytes.size()) {
    const ssize_t got = ::read(fd, head.bytes.data() + filled, head.bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      throw EFileError::CannotOpen(path, error);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  head.bytes.resize(filled);
  ::close(fd);
  return head;
}

}  // namespace stbup
