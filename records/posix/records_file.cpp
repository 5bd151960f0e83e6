#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "records/records.h"
#include "records/records_file.h"

namespace stbup {

namespace {

constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw RecordsError(path + ": not a records file: " + why);
}

[[noreturn]] void Unreadable(const std::string& path, int error) {
  throw RecordsError(path + ": cannot be read: " + std::strerror(error));
}

}  // namespace

RecordsFileState CheckRecordsFile(const std::string& path) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    // A dangling link is as good as no file; a loop is a fault to be told.
    if (errno == ENOENT) return RecordsFileState::kMissing;
    Unreadable(path, errno);
  }
  if (!S_ISREG(named.st_mode)) Refuse(path, KindOf(named.st_mode));
  // Not blocking even if the path was swapped for a FIFO since the look.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) Unreadable(path, errno);
  struct stat opened {};
  char header[16] = {};
  ssize_t got = 0;
  int error = 0;
  if (::fstat(fd, &opened) != 0) {
    error = errno;
  } else if (S_ISREG(opened.st_mode)) {
    got = ::pread(fd, header, sizeof header, 0);
    if (got < 0) error = errno;
  }
  ::close(fd);
  if (error != 0) Unreadable(path, error);
  if (!S_ISREG(opened.st_mode)) Refuse(path, KindOf(opened.st_mode));
  // An empty file is a database SQLite has not written to yet.
  if (got == 0) return RecordsFileState::kReady;
  if (std::string_view(header, static_cast<std::size_t>(got)) != kSqliteHeader) {
    Refuse(path, "not an SQLite database");
  }
  return RecordsFileState::kReady;
}

}  // namespace stbup
