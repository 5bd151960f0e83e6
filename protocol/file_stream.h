#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_info.h"

namespace stbup {

// A plain file held open across messages: the download source and the
// database upload file. Failures raise the system's file errors.
class FileStream {
 public:
  FileStream() = default;
  ~FileStream() { Close(); }
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // The download source: the regular file a load checked, payload at offset.
  // Never blocks (a FIFO put in its place fails at once); a file that is not
  // the one loaded (another file, or this one since changed) fails with
  // EFileError::CannotOpen. An unknown identity (size -1) is taken as found.
  // shown: the name failures give (the name as the operator knows it);
  // empty for path itself.
  void OpenRead(const std::string& path, std::int64_t offset, const ImageFileIdentity& loaded,
                const std::string& shown = {});
  // A new file that did not exist (never emptied, never through a link).
  // Returns 0, or the error code (EEXIST when the name is taken).
  int CreateNew(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Slice `index` (1024 bytes from offset + index * 1024) into data; returns
  // the bytes the file holds there, 0 beyond its end. Slices come from a
  // read-ahead of kReadAheadBlocks slices, each read checked against the file
  // as it was opened: a short read before the end the file had when opened, a
  // read error, or any change of the file since it was opened raises
  // EFileError and closes the stream.
  int ReadSlice(std::int64_t index, std::uint8_t* data);
  // Raises EFileError and closes the stream when the file is no longer as it
  // was opened (a change after the last read-ahead is seen here).
  void CheckUnchanged();
  // Payload bytes the file holds (its size at opening minus the offset).
  std::int64_t PayloadBytes() const;

  static constexpr int kReadAheadBlocks = 64;

 private:
  // Reads the chunk holding slice `index` into ahead_ and checks the file.
  void ReadAhead(std::int64_t index);
  [[noreturn]] void FailChanged();

  int fd_ = -1;
  std::string path_;
  std::int64_t offset_ = 0;
  ImageFileIdentity identity_;
  std::vector<std::uint8_t> ahead_;  // the chunk read, as the file held it
  std::int64_t ahead_first_ = -1;    // its first slice; -1: nothing read
};

}  // namespace stbup
