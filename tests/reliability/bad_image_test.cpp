// Files an operator might pick by mistake, or that were damaged on the way:
// "stbup info" and "stbup upgrade" say what the system says about them and
// end with status 3, without ever touching the port.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/core/main_window.h"
#include "cli/info_command.h"
#include "cli/upgrade_command.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

// "TAVO", reserved, hardware and software pairs: the 22 bytes before the start block.
const std::string kHead =
    "TAVO000000010203"
    "0A0B0C";

std::string Junk() {
  std::string bytes;
  std::uint32_t x = 12345;
  for (int i = 0; i < 700; ++i) {
    x = x * 1103515245u + 12345u;
    bytes += static_cast<char>(x >> 24);
  }
  bytes[0] = '\x9c';  // no known marker, whatever the generator gives
  return bytes;
}

struct BadImage {
  const char* name;
  std::string bytes;
  // The error "stbup info" and "stbup upgrade" report; empty: the file was
  // refused, which the upgrade shows in its log only.
  std::string error;
  // For a refused header of ours: the line the upgrade logs after the refusal.
  std::string reason = {};
};

std::string Refused() { return "This File is not appropriate Image!"; }
std::string NotAnInteger(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}

const std::vector<BadImage>& Corpus() {
  static const std::vector<BadImage> corpus = {
      {"Empty", "", ""},
      {"Junk", Junk(), ""},
      {"RefusedMarker", "ZUB2LL" + kHead + "0000000016CABCx" + std::string(64, '\x55'), ""},
      {"RefusedMarkerAlone", "ZUB2LL", ""},
      {"BrandAlone", "TAVO", NotAnInteger("")},
      {"CutBeforeStartBlock", kHead.substr(0, 20), NotAnInteger("")},
      {"ZeroBeforeStartBlock", kHead + std::string(1, '\0') + "0000000016CABCx", NotAnInteger("")},
      {"LettersInStartBlock", kHead + "00000A0016CABCx", NotAnInteger("00000A0016")},
      {"BlanksAfterStartBlock", kHead + "16        CABCx", NotAnInteger("16        ")},
      {"HugeStartBlock", kHead + "9999999999CABCx" + std::string(100, '\0'),
       NotAnInteger("9999999999")},
      {"HugeStartBlockWithoutTerminator", kHead + "2147483648C" + std::string(200, 'M'),
       NotAnInteger("2147483648")},
      // Headers that cannot describe what would be sent.
      {"CutAfterTypeLetter", kHead + "0000000016C", "", "the file ends inside its header"},
      {"HeaderWithoutPayload", kHead + "0000000016CABCx", "", "the image has no payload"},
      {"NegativeStartBlock", kHead + "-000000016CABCx" + std::string(3000, 'p'), "",
       "the start block is negative"},
  };
  return corpus;
}

class BadImageTest : public ::testing::TestWithParam<BadImage> {
 protected:
  std::string Write() { return dir_.WriteFile("bad.bin", GetParam().bytes); }
  TempDir dir_;
};

TEST_P(BadImageTest, InfoReportsAndEndsWithStatus3) {
  const std::string path = Write();
  CommandRegistry registry("stbup");
  AddInfoCommand(registry);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(registry.Execute({"info", path}, out, err), kExitImageNotAccepted);
  EXPECT_EQ(out.str(), "");
  const std::string& error = GetParam().error;
  EXPECT_EQ(err.str(), "stbup: " + (error.empty() ? Refused() : error) + "\n");
}

TEST_P(BadImageTest, UpgradeLogsAndEndsWithStatus3WithoutOpeningThePort) {
  const std::string path = Write();
  testing::PtyPair pty;
  UpgradeOptions options;
  options.image = path;
  options.port = pty.slave_path();
  options.settings_file = dir_.PathOf("none.ini");
  options.out_is_terminal = false;
  options.err_is_terminal = false;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunUpgrade(options, out, err), kExitImageNotAccepted);
  const std::string& error = GetParam().error;
  if (error.empty()) {
    const std::string reason = GetParam().reason;
    EXPECT_EQ(out.str(), "[ Upgrade mode. ]\n" + Refused() + "\n" +
                             (reason.empty() ? "" : ">> " + reason + "\n"));
    EXPECT_EQ(err.str(), "");
  } else {
    // The announcement comes before the start block is read.
    EXPECT_EQ(out.str(), "[ Upgrade mode. ]\n \n" + std::string(MainWindow::kCaptionPrefix) +
                             std::string(MainWindow::kVersionText) + "\nFile open O.K.!\n");
    EXPECT_EQ(err.str(), "stbup: " + error + "\n");
  }
  EXPECT_EQ(pty.ReadAvailable(), "") << "nothing may reach the port";
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadImageTest, ::testing::ValuesIn(Corpus()),
                         [](const ::testing::TestParamInfo<BadImage>& info) {
                           return info.param.name;
                         });

// Damage the system takes in its stride: bad hexadecimal pairs read as 0 and
// a header without its terminator is 135 bytes long. Such files load, as
// long as a payload follows the header.
TEST(DamagedButAcceptedImageTest, InfoShowsWhatTheSystemMakesOfThem) {
  TempDir dir;
  struct Case {
    std::string bytes;
    std::string expected_line;
  };
  const std::vector<Case> cases = {
      {"TAVO000000zz02G30A0B0C0000000016CABCx1234", "Hardware:              00.02.00\n"},
      {"TAVO000000010203-A0B0C0000000016CABCx1234", "Software:              00.0B.0C\n"},
      {kHead + "0000000016C" + std::string(150, 'M'), "Payload offset:        135\n"},
      {kHead + "0000000016C" + std::string(150, 'M'), "Padded size:           1024\n"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.WriteFile("damaged.bin", c.bytes);
    CommandRegistry registry("stbup");
    AddInfoCommand(registry);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(registry.Execute({"info", path}, out, err), kExitOk) << c.bytes;
    EXPECT_NE(out.str().find(c.expected_line), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace stbup
