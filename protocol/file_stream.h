#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace stbup {

// A plain file held open across messages: the download source and the
// database upload file. Open failures raise the system's file errors.
class FileStream {
 public:
  // Read-only, positioned at offset; EFileError::CannotOpen on failure.
  void OpenRead(const std::string& path, std::int64_t offset);
  // Created empty (an existing file is emptied); EFileError::CannotCreate.
  void Create(const std::string& path);
  void Close() { file_.reset(); }
  bool IsOpen() const { return file_ != nullptr; }
  // Up to count bytes; 0 at the end, on a read error or when closed.
  int Read(std::uint8_t* data, int count);

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace stbup
