#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace stbup {

// A fresh directory under $TMPDIR (or /tmp), removed with all it holds when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string PathOf(std::string_view name) const;
  // Writes the bytes to a file in the directory and returns its path.
  std::string WriteFile(std::string_view name, std::span<const std::uint8_t> bytes) const;
  std::string WriteFile(std::string_view name, std::string_view bytes) const;
  // Sets a file's size without writing the bytes it gains, so that a file of
  // gigabytes costs no disk. The Windows runtime's own resize refuses to grow
  // a file beyond the disk's free space, sparse or not.
  static void ResizeFile(const std::string& file, std::uint64_t size);

 private:
  std::string path_;
};

}  // namespace stbup
