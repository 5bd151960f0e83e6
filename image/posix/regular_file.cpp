#include "image/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace stbup {

int OpenRegularFile(const std::string& path) {
  // Without O_NONBLOCK a FIFO would wait here for a writer.
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

int CreateRegularFile(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int CreateNewFile(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                0666);
}

long ReadFileAt(int fd, void* data, std::size_t count, std::int64_t offset) {
  for (;;) {
    const ssize_t got = ::pread(fd, data, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

ImageFileIdentity IdentityOf(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return {};
  ImageFileIdentity identity;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
  identity.size = static_cast<std::int64_t>(status.st_size);
  identity.modified_ns =
      static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
  return identity;
}

void CloseFile(int fd) { ::close(fd); }

}  // namespace stbup
