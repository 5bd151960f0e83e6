#include "protocol/file_stream.h"

#include <algorithm>
#include <cerrno>

#include "image/regular_file.h"
#include "image/scramble_key.h"
#include "seams/errors.h"

namespace stbup {

void FileStream::OpenRead(const std::string& path, std::int64_t offset,
                          const ImageFileIdentity& loaded, const std::string& shown) {
  Close();
  const std::string& name = shown.empty() ? path : shown;
  // Never waits for a FIFO's writer; a folder or a device is refused.
  const int fd = OpenRegularFile(path);
  if (fd < 0) {
    const int error = errno;
    if (error == EISDIR) throw EFileError::NotTheLoadedFile(name, "Is a directory");
    if (error == EINVAL) throw EFileError::NotTheLoadedFile(name, "Not a regular file");
    throw EFileError::CannotOpen(name, error);
  }
  const ImageFileIdentity found = IdentityOf(fd);
  if (loaded.size >= 0 && !(found == loaded)) {
    CloseFile(fd);
    throw EFileError::NotTheLoadedFile(name, "The file has changed since it was loaded");
  }
  fd_ = fd;
  path_ = path;
  offset_ = offset;
  identity_ = found;
}

int FileStream::CreateNew(const std::string& path) {
  Close();
  const int fd = CreateNewFile(path);
  if (fd < 0) return errno;
  fd_ = fd;
  path_ = path;
  offset_ = 0;
  identity_ = {};
  return 0;
}

void FileStream::Close() {
  if (fd_ >= 0) CloseFile(fd_);
  fd_ = -1;
  ahead_first_ = -1;
}

std::int64_t FileStream::PayloadBytes() const {
  return std::max<std::int64_t>(0, identity_.size - offset_);
}

int FileStream::ReadSlice(std::int64_t index, std::uint8_t* data) {
  if (fd_ < 0 || index < 0) return 0;
  const std::int64_t at = index * kBlockSize;
  const auto expected =
      static_cast<int>(std::clamp<std::int64_t>(PayloadBytes() - at, 0, kBlockSize));
  if (expected == 0) return 0;
  if (ahead_first_ < 0 || index < ahead_first_ || index >= ahead_first_ + kReadAheadBlocks) {
    ReadAhead(index);
  }
  const std::int64_t from = (index - ahead_first_) * kBlockSize;
  std::copy_n(ahead_.begin() + from, expected, data);
  return expected;
}

// One read and one look at the file for many slices: the bytes kept are the
// file's as it was loaded, since it was found unchanged after they were read.
void FileStream::ReadAhead(std::int64_t index) {
  ahead_first_ = -1;
  const std::int64_t at = index * kBlockSize;
  const std::int64_t expected =
      std::clamp<std::int64_t>(PayloadBytes() - at, 0, std::int64_t{kReadAheadBlocks} * kBlockSize);
  ahead_.resize(static_cast<std::size_t>(kReadAheadBlocks) * kBlockSize);
  std::int64_t got = 0;
  while (got < expected) {
    const long n = ReadFileAt(fd_, ahead_.data() + got, static_cast<std::size_t>(expected - got),
                              offset_ + at + got);
    if (n < 0) {
      const int error = errno;
      Close();
      throw EFileError::CannotRead(path_, error);
    }
    if (n == 0) break;
    got += n;
  }
  // Truncated, rewritten or appended to since it was checked: what was read
  // may be neither the old file nor the new one.
  if (got < expected || !(IdentityOf(fd_) == identity_)) FailChanged();
  ahead_first_ = index;
}

void FileStream::CheckUnchanged() {
  if (fd_ >= 0 && !(IdentityOf(fd_) == identity_)) FailChanged();
}

void FileStream::FailChanged() {
  Close();
  throw EFileError::NotTheLoadedFile(path_, "The file has changed since it was loaded");
}

}  // namespace stbup
