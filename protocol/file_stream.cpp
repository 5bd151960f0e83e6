#include "protocol/file_stream.h"

#include <cerrno>

#include "seams/errors.h"

namespace stbup {

void FileStream::OpenRead(const std::string& path, std::int64_t offset) {
  Close();
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw EFileError::CannotOpen(path, errno);
  file_.reset(file);
  if (offset > 0 && fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
    const int error = errno;
    Close();
    throw EFileError::CannotOpen(path, error);
  }
}

void FileStream::Create(const std::string& path) {
  Close();
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw EFileError::CannotCreate(path, errno);
  file_.reset(file);
}

int FileStream::Read(std::uint8_t* data, int count) {
  if (!file_ || count <= 0) return 0;
  return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(count), file_.get()));
}

}  // namespace stbup
