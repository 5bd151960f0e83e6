#include "image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image/image_parser.h"
#include "seams/errors.h"

namespace stbup {

namespace {

// Opens without blocking (a FIFO would otherwise wait for a writer) and
// accepts only regular files. Returns -1 with errno set on failure.
int OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    const int error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

ImageFileIdentity IdentityOfStatus(const struct stat& status) {
  ImageFileIdentity identity;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
  identity.size = static_cast<std::int64_t>(status.st_size);
  identity.modified_ns = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
                         status.st_mtim.tv_nsec;
  return identity;
}

}  // namespace

ImageFileIdentity IdentityOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return {};
  return IdentityOfStatus(status);
}

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
  head.identity = IdentityOfStatus(status);
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
