#include "sim/memory_box_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "sim/box_simulator.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;
using Clock = MemoryLineEnd::Clock;

// The tool's side, written by hand: what a port would send and read.
class Tool {
 public:
  explicit Tool(std::shared_ptr<MemoryLineEnd> end) : end_(std::move(end)) {}

  void Send(std::string_view text) {
    std::size_t written = 0;
    ASSERT_EQ(end_->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                          Clock::now() + 1s, written),
              MemoryLineEnd::Wait::kReady);
    ASSERT_EQ(written, text.size());
  }
  // Everything up to and with the line feed ending `last`.
  std::string ReadThrough(std::string_view last) {
    std::string got;
    const auto deadline = Clock::now() + 5s;
    while (got.find(std::string(last) + "\n") == std::string::npos) {
      if (end_->WaitReadable(deadline) != MemoryLineEnd::Wait::kReady) break;
      std::uint8_t buffer[256];
      const std::size_t n = end_->Read(buffer);
      got.append(reinterpret_cast<const char*>(buffer), n);
    }
    return got;
  }
  MemoryLineEnd& end() { return *end_; }

 private:
  std::shared_ptr<MemoryLineEnd> end_;
};

struct Played {
  std::shared_ptr<MemoryLineEnd> tool_end;
  std::unique_ptr<BoxSimulator> box;
  std::vector<SimulationSummary> summaries;
  std::thread thread;
};

void Play(Played& played, const SimulatorOptions& options) {
  auto [tool, box_end] = OpenMemoryLine();
  played.tool_end = tool;
  played.box = std::make_unique<BoxSimulator>(options);
  played.thread = std::thread([&played, box_end] {
    MemoryBoxChannel channel(box_end);
    played.summaries = played.box->Run(channel);
  });
}

TEST(MemoryBoxChannelTest, TheBoxAnnouncesItselfAfterTheWakeUpByte) {
  Played played;
  Play(played, SimulatorOptions{});
  Tool tool(played.tool_end);
  tool.Send("\x07");
  const std::string said = tool.ReadThrough("BL_FLASH_END");
  EXPECT_EQ(said.rfind("REQUEST_V217\nBL_FLASH_INFO\n", 0), 0u) << said;
  EXPECT_TRUE(said.ends_with("BL_FLASH_END\n")) << said;
  // The tool leaves without answering.
  played.tool_end->Close();
  played.thread.join();
  ASSERT_EQ(played.summaries.size(), 1u);
  EXPECT_EQ(played.summaries[0].verdict, "pc_gone");
  ASSERT_FALSE(played.summaries[0].problems.empty());
  EXPECT_EQ(played.summaries[0].problems.back(),
            "the tool's end of the line went away: the tool closed its end of the line");
}

TEST(MemoryBoxChannelTest, StopEndsAWaitForTheToolAndAnEarlierStopEndsRunAtOnce) {
  for (const bool stop_first : {false, true}) {
    SCOPED_TRACE(stop_first ? "stopped before Run" : "stopped during Run");
    auto [tool, box_end] = OpenMemoryLine();
    BoxSimulator box{SimulatorOptions{}};
    if (stop_first) box.Stop();
    std::vector<SimulationSummary> summaries{SimulationSummary{}};
    std::thread player([&, end = box_end] {
      MemoryBoxChannel channel(end);
      summaries = box.Run(channel);
    });
    if (!stop_first) {
      std::this_thread::sleep_for(30ms);
      box.Stop();
    }
    player.join();
    EXPECT_TRUE(summaries.empty());
    EXPECT_FALSE(tool->PeerClosed());  // a stop is no hang-up
  }
}

TEST(MemoryBoxChannelTest, TheHangUpFaultClosesTheBoxEndAfterItsLastLine) {
  SimulatorOptions options;
  options.hangup_after = 0;
  Played played;
  Play(played, options);
  Tool tool(played.tool_end);
  tool.Send("\x07");
  tool.ReadThrough("BL_FLASH_END");
  tool.Send("PC___");
  tool.ReadThrough("REQUEST_VERSION:00,00,00,BOX,00,00,00,00,00,00");
  tool.Send("ack");
  tool.ReadThrough("REQUEST_START_BLOCK");
  tool.Send("0016");
  tool.ReadThrough("REQUEST_BLOCK");
  tool.Send("0001");
  const std::string asked = tool.ReadThrough("REQUEST_1024DOWN:0000");
  EXPECT_NE(asked.find("REQUEST_DOWNLOAD\n"), std::string::npos) << asked;
  tool.Send(std::string(1025, '\0'));  // a block of zeros and its sum
  EXPECT_EQ(tool.ReadThrough("1024DOWN_SUCCESS:0000"), "1024DOWN_SUCCESS:0000\n");
  played.thread.join();
  EXPECT_EQ(played.tool_end->WaitReadable(Clock::now() + 1s), MemoryLineEnd::Wait::kClosed);
  ASSERT_EQ(played.summaries.size(), 1u);
  EXPECT_EQ(played.summaries[0].verdict, "hung_up");
  EXPECT_EQ(played.summaries[0].blocks, 1);
}

}  // namespace
}  // namespace stbup
