#include <gtest/gtest.h>

#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "cli/upgrade_command.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "seams/memory_line.h"
#include "sim/box_simulator.h"
#include "sim/memory_box_channel.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<SimulationSummary> boxes;
};

// "stbup upgrade" in-process against the simulator on an in-memory line, as
// the demo runs it: the same window logic, engine, texts and statuses as on a
// serial device, with MEMORY as the port's name.
class MemoryUpgradeTest : public ::testing::Test {
 protected:
  MemoryUpgradeTest() {
    ImageSpec recipe;
    recipe.model_name = "MX1";
    recipe.hardware_version = {0x01, 0x02, 0x03};
    recipe.software_version = {0x04, 0x05, 0x06};
    recipe.start_block = 16;
    image_ = dir_.PathOf("image.bin");
    // A CODE image fills what a 1 Mbyte box takes: 768 KiB.
    std::vector<std::uint8_t> payload(0xC0000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    WriteImageFile(image_, recipe, payload);
  }

  Outcome Run(SimulatorOptions sim, bool check_only = false, bool box_gone_first = false) {
    sim.image = ReadImageInfo(image_);
    sim.ack_timeout_ms = 1000;
    sim.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M: the image fits
    sim.flash_record[6] = 0x81;
    auto [tool, box_end] = OpenMemoryLine();
    BoxSimulator box(sim);
    if (box_gone_first) box_end->Close();
    auto boxes = std::async(std::launch::async, [&box, end = box_end] {
      MemoryBoxChannel channel(end);
      return box.Run(channel);
    });
    UpgradeOptions options;
    options.image = image_;
    options.port = "MEMORY";
    options.memory_line = tool;
    options.check_only = check_only;
    options.out_is_terminal = false;
    options.err_is_terminal = false;
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.status = RunUpgrade(options, out, err);
    if (boxes.wait_for(5s) != std::future_status::ready) box.Stop();
    outcome.boxes = boxes.get();
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
  }

  TempDir dir_;
  std::string image_;
};

TEST_F(MemoryUpgradeTest, EachEndingGivesTheStatusAndLinesOfASerialDevice) {
  struct Case {
    const char* name;
    SimulatorOptions sim;
    bool check_only;
    int status;
    std::string verdict;
    std::vector<std::string> memo;
    std::vector<std::string> messages;
  };
  SimulatorOptions clean;
  SimulatorOptions corrupt;
  corrupt.corrupt_blocks = {5};
  SimulatorOptions gives_up = corrupt;
  gives_up.max_retries = 1;
  SimulatorOptions hangs_up;
  hangs_up.hangup_after = 2;
  const Case cases[] = {
      {"clean",
       clean,
       false,
       0,
       "verified",
       {"\nConnect Success\n", "\nUpgrade End\n",
        "\nMEMORY Off !!! (\"Enter\" key to reconnect.)\n"},
       {}},
      {"corrupted block sent again", corrupt, false, 0, "verified", {"\nUpgrade End\n"}, {}},
      {"box gives up", gives_up, false, 6, "too_many_retries", {"\nSTB normal start.\n"}, {}},
      {"box hangs up",
       hangs_up,
       false,
       7,
       "hung_up",
       {"\n>> MEMORY has gone away (unplugged or hung up).\n"},
       {"stbup: MEMORY has gone away\n"}},
      {"check only",
       clean,
       true,
       0,
       "",
       {},
       {"stbup: check-only: the image would be accepted by this box\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Run(c.sim, c.check_only);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    ASSERT_EQ(outcome.boxes.size(), 1u);
    if (!c.verdict.empty()) {
      EXPECT_EQ(outcome.boxes[0].verdict, c.verdict);
    }
    if (c.check_only) {
      EXPECT_EQ(outcome.boxes[0].blocks, 0);
    }
    for (const auto& line : c.memo) EXPECT_NE(outcome.out.find(line), std::string::npos) << line;
    for (const auto& line : c.messages) {
      EXPECT_NE(outcome.err.find(line), std::string::npos) << line << outcome.err;
    }
  }
}

TEST_F(MemoryUpgradeTest, ALineTheBoxHasLeftIsAPortNotOpened) {
  const Outcome outcome = Run({}, false, true);
  EXPECT_EQ(outcome.status, 4);
  EXPECT_TRUE(outcome.boxes.empty());
  EXPECT_NE(outcome.out.find("MEMORY Disconnected !\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.err.find(
                "stbup: Can't open specified device MEMORY (the simulated box has hung up)\n"),
            std::string::npos)
      << outcome.err;
}

}  // namespace
}  // namespace stbup
