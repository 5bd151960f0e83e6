// A paced line is the yardstick the tool is measured against: its time runs
// with the line, not with how late the system wakes the box.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "sim/box_line.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

constexpr int kBaud = 115200;
constexpr auto kLateWakeUp = 3ms;

// Every pause ends late, as on a busy machine; the tool answers a write with
// `answer` after `reaction`.
class LateChannel : public BoxChannel {
 public:
  std::size_t Read(std::span<std::uint8_t> out, SimClock::time_point deadline) override {
    if (answer.empty() || !asked) {
      std::this_thread::sleep_until(deadline);
      return 0;
    }
    std::this_thread::sleep_for(reaction);
    const std::size_t n = std::min(out.size(), answer.size());
    std::copy_n(answer.begin(), n, out.begin());
    answer.erase(0, n);
    return n;
  }
  std::size_t Write(std::span<const std::uint8_t> bytes, SimClock::time_point) override {
    writes.push_back(SimClock::now());
    asked = true;
    return bytes.size();
  }
  void PauseUntil(SimClock::time_point until) override {
    targets.push_back(until);
    std::this_thread::sleep_until(until + kLateWakeUp);
  }
  void Stop() noexcept override {}
  void HangUp() override {}

  std::string answer;
  std::chrono::milliseconds reaction{0};
  bool asked = false;
  std::vector<SimClock::time_point> targets;
  std::vector<SimClock::time_point> writes;
};

TEST(PacedLine, LateWakeUpsDoNotLengthenTheLine) {
  LateChannel channel;
  const auto start = SimClock::now();
  BoxLine line(channel, LinePacing{kBaud, false, 1, 0});
  line.Write(std::string(640, 'x'));  // ten pieces of 64 bytes

  ASSERT_EQ(channel.writes.size(), 10u);
  // A pause whose moment has already passed is not taken, so a very late
  // wake-up may skip one; the moments asked for stay on the line's grid.
  ASSERT_GE(channel.targets.size(), 2u);
  ASSERT_LE(channel.targets.size(), 10u);
  for (std::size_t i = 1; i < channel.targets.size(); ++i) {
    SCOPED_TRACE(i);
    const auto step = channel.targets[i] - channel.targets[i - 1];
    EXPECT_GT(step, SimClock::duration::zero());
    EXPECT_EQ(step % line.ByteTime(64), SimClock::duration::zero());
  }
  EXPECT_LE(channel.targets.back() - channel.targets.front(), 9 * line.ByteTime(64));
  // Each piece reaches the tool once its last byte has crossed the line.
  EXPECT_GE(channel.writes[0] - start, line.ByteTime(64));
}

TEST(PacedLine, TheWaitForTheToolCountsAndTheBlockTakesItsTimeOnTheLine) {
  LateChannel channel;
  channel.answer = std::string(1025, 'b');
  channel.reaction = 5ms;
  BoxLine line(channel, LinePacing{kBaud, false, 1, 0});
  line.Write(std::string("REQUEST_1024DOWN:0000\n"));
  std::vector<std::uint8_t> block(1025);
  ASSERT_TRUE(line.ReadExact(block, SimClock::now() + 1s));

  ASSERT_EQ(channel.targets.size(), 2u);
  const auto asked = channel.targets[0];
  const auto received = channel.targets[1];
  // The block is there a line's time for 1025 bytes after the tool began to
  // answer, and the tool's reaction counts; the late wake-up after the
  // request does not move the line on by itself.
  EXPECT_GE(received - asked, channel.reaction + line.ByteTime(1025));
  EXPECT_EQ(line.received_bytes(), 1025u);
}

TEST(PacedLine, AnUnpacedLineWritesAtOnce) {
  LateChannel channel;
  BoxLine line(channel, LinePacing{0, false, 1, 0});
  line.Write(std::string(640, 'x'));
  EXPECT_TRUE(channel.targets.empty());
  EXPECT_EQ(channel.writes.size(), 1u);
  EXPECT_EQ(line.ByteTime(1025), SimClock::duration::zero());
}

}  // namespace
}  // namespace stbup
