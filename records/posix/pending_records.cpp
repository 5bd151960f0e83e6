#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "records/pending_records.h"
#include "records/records.h"

namespace stbup {

namespace {

// The file open and locked, and still the one the path names: another run
// may have taken it in (and removed it) while this one waited for the lock.
int OpenLocked(const std::string& path, bool create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(
        path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
      if (!S_ISREG(opened.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
      }
      return fd;
    }
    ::close(fd);
    if (!create) {
      errno = ENOENT;
      return -1;
    }
  }
  errno = EBUSY;
  return -1;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

PendingRecords::PendingRecords(const std::string& records_path)
    : path_(records_path + ".pending.jsonl") {}

void PendingRecords::Append(const std::vector<BoxRecord>& records) const {
  if (records.empty()) return;
  const int fd = OpenLocked(path_, true);
  if (fd < 0) {
    throw RecordsError(path_ + ": cannot keep records there: " + std::strerror(errno));
  }
  struct stat before {};
  ::fstat(fd, &before);
  std::string lines;
  for (const BoxRecord& record : records) lines += RecordToJsonLine(record) + "\n";
  if (!WriteAll(fd, lines) || ::fsync(fd) != 0) {
    const int error = errno;
    // Whole or not at all: a torn tail would be half a record.
    if (::ftruncate(fd, before.st_size) != 0) {
      // Nothing more can be done; a torn line is skipped when taken in.
    }
    ::close(fd);
    throw RecordsError(path_ + ": cannot keep records there: " + std::strerror(error));
  }
  ::close(fd);
}

std::vector<BoxRecord> PendingRecords::TakeAll() const {
  std::vector<BoxRecord> records;
  const int fd = OpenLocked(path_, false);
  if (fd < 0) {
    if (errno == ENOENT) return records;
    throw RecordsError(path_ + ": cannot take in the records kept there: " + std::strerror(errno));
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      throw RecordsError(path_ +
                         ": cannot take in the records kept there: " + std::strerror(error));
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  // Removed under the lock: a run appending meanwhile waits, then finds the
  // path gone and starts a new file.
  ::unlink(path_.c_str());
  ::close(fd);
  AppendRecordsFromJsonLines(text, records);
  return records;
}

}  // namespace stbup
