#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stbup {

// SHA-256 (FIPS 180-4), fed in pieces; the records keep each image's digest so
// that "which firmware did this box get" has an answer beyond the file name.
class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Ends the message; the object must not be fed afterwards.
  Digest Final();

  // Lower-case hexadecimal, 64 characters.
  static std::string Hex(const Digest& digest);

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes fed so far
};

// The digest of a whole file in hexadecimal; nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace stbup
