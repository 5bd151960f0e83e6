#include "records/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

std::string Digest(std::string_view bytes, std::size_t piece) {
  Sha256 sha;
  for (std::size_t at = 0; at < bytes.size(); at += piece) sha.Update(bytes.substr(at, piece));
  return Sha256::Hex(sha.Final());
}

// Lengths around the padding's edges (55 fits the length in one block, 56
// does not; 64 is a whole block), each fed whole, byte by byte and in pieces
// that straddle blocks.
TEST(Sha256Test, MatchesReferenceDigestsAcrossBlockEdgesHoweverFed) {
  const struct {
    std::size_t size;
    const char* hex;
  } cases[] = {
      {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {55, "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
      {56, "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
      {63, "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
      {64, "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
      {65, "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
      {119, "9ce7368e4daf32341631b492e80359dc9f594b48453cd0dd5bf0b19279cc177e"},
      {1000, "1e9bc38cbf860b9ec31918b065f9b52476c549a782e0e7990bed8ce3868d2371"},
  };
  for (const auto& test : cases) {
    const std::string bytes = Pattern(test.size);
    for (const std::size_t piece : {std::size_t{100000}, std::size_t{1}, std::size_t{37}}) {
      EXPECT_EQ(Digest(bytes, piece), test.hex) << test.size << " bytes in pieces of " << piece;
    }
  }
  EXPECT_EQ(Digest("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256Test, DigestsAFileAndSaysWhenItCannotBeRead) {
  TempDir dir;
  const std::string million(1000000, 'a');
  EXPECT_EQ(Sha256OfFile(dir.WriteFile("a.bin", million)),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha256OfFile(dir.PathOf("missing.bin")), std::nullopt);
}

}  // namespace
}  // namespace stbup
