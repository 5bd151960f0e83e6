#include "sim/line_noise.h"

#include <array>
#include <string_view>

namespace stbup {
namespace {

constexpr std::array<std::string_view, 16> kJunkLines = {
    "BAD CRC :other",
    "BAD CRC : flash image !!",
    "request_download",
    "upgrade_success",
    "1024down_success:0001",
    "flash_write",
    "Ack",
    "ACK ",
    "DOWN_SUCCESS_",
    "REQUEST_TOTALCRC2",
    "BOOT: diag 55aa",
    "\r",
    "",
    "no_acknowledge with pc.",
    "targetinfo:junk",
    "ram test ... ok\r",
};

}  // namespace

std::string NoiseLine(std::mt19937& random) {
  std::uniform_int_distribution<int> pick(0, 3);
  if (pick(random) != 0) {
    std::uniform_int_distribution<std::size_t> which(0, kJunkLines.size() - 1);
    return std::string(kJunkLines[which(random)]) + "\n";
  }
  // Random bytes behind a "~", so the command part is never a real one; no
  // upper-case letters, no line feed inside.
  std::string line = "~";
  std::uniform_int_distribution<int> length(1, 40);
  std::uniform_int_distribution<int> byte(0x00, 0xFF);
  for (int n = length(random); n > 0; --n) {
    int b = byte(random);
    if (b == '\n' || (b >= 'A' && b <= 'Z')) b = '.';
    line += static_cast<char>(b);
  }
  return line + "\n";
}

}  // namespace stbup
