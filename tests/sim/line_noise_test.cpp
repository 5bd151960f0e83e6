#include "sim/line_noise.h"

#include <gtest/gtest.h>

#include <set>

namespace stbup {
namespace {

// Every command the tool acts on, as its framing would split a line.
const std::set<std::string> kToolCommands = {"FLASH_WRITE_ERROR",
                                             "TargetInfo",
                                             "5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)",
                                             "REQUEST_MODE",
                                             "REQUEST_V",
                                             "REQUEST_L",
                                             "BL_FLASH_INFO",
                                             "FLASH_INFO",
                                             "BL_INFO_END",
                                             "BL_FLASH_END",
                                             "REQUEST_VERSION",
                                             "ACK",
                                             "REQUEST_BLOCK",
                                             "REQUEST_START_BLOCK",
                                             "REQDATA_START_BLOCK",
                                             "REQDATA_BLOCK",
                                             "ack",
                                             "REQUEST_DOWNLOAD",
                                             "REQUEST_1024DOWN",
                                             "1024DOWN_ERR",
                                             "1024DOWN_SUCCESS",
                                             "REQUEST_TOTALCRC",
                                             "DOWN_SUCCESS",
                                             "RAMCRC_SUCCESS",
                                             "SEND_DECODE_SIZE",
                                             "FLASHCRC_SUCCESS",
                                             "FLASH_WRITE",
                                             "4096FLASH_WRITE",
                                             "UPGRADE_SUCCESS",
                                             "RESPONSE_DOWNLOAD_FAIL",
                                             "NO_ACKNOWLEDGE with PC."};

TEST(NoiseLine, NeverSomethingTheToolActsOn) {
  std::mt19937 random(3);
  for (int i = 0; i < 5000; ++i) {
    const std::string line = NoiseLine(random);
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
    std::string text;
    for (const char c : line.substr(0, line.size() - 1)) {
      if (c != '\r') text += c;  // the framing drops carriage returns
    }
    const std::size_t colon = text.find(':');
    const std::string command = text.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : text.substr(colon + 1);
    EXPECT_FALSE(kToolCommands.contains(command)) << line;
    EXPECT_EQ(command.find("REQUEST_V"), std::string::npos) << line;
    EXPECT_EQ(command.find("REQUEST_L"), std::string::npos) << line;
    EXPECT_FALSE(command == "BAD CRC " && argument == " Flash image !!") << line;
  }
}

}  // namespace
}  // namespace stbup
