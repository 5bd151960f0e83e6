#include "image/regular_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

namespace stbup {

// The C runtime's text mode would turn CR LF into LF and stop at byte 26.

int OpenRegularFile(const std::string& path) {
  struct _stat64 status {};
  if (::_stat64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR) {
    errno = EISDIR;
    return -1;
  }
  const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return -1;
  if (::_fstat64(fd, &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
    ::_close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

int CreateNewFile(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

long ReadFileAt(int fd, void* data, std::size_t count, std::int64_t offset) {
  // The download source is one stream's own descriptor: seeking it is safe.
  if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return ::_read(fd, data, static_cast<unsigned>(count));
}

ImageFileIdentity IdentityOf(int fd) {
  struct _stat64 status {};
  if (::_fstat64(fd, &status) != 0) return {};
  ImageFileIdentity identity;
  // No inode numbers here: the size and the time of change tell a rewrite.
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.size = static_cast<std::int64_t>(status.st_size);
  identity.modified_ns = static_cast<std::int64_t>(status.st_mtime) * 1'000'000'000;
  return identity;
}

void CloseFile(int fd) { ::_close(fd); }

int CreateRegularFile(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

}  // namespace stbup
