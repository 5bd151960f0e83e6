// A message the box follows at once with its next one leaves with it in one
// write; it never stays behind when the box waits, pauses or ends, and the
// line's timing is what two writes would give.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/box_line.h"
#include "tests/sim/timed_channel.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

const std::string kSuccess = "1024DOWN_SUCCESS:0000\n";
const std::string kRequest = "REQUEST_1024DOWN:0001\n";

TEST(JoinedWrite, LeavesWithTheNextWriteOrBeforeTheBoxWaits) {
  struct Case {
    std::string name;
    std::function<void(BoxLine&)> then;  // what the box does after the verdict
    std::vector<std::string> expected;   // the writes the tool gets
  };
  const std::vector<Case> cases = {
      {"the next message", [](BoxLine& line) { line.Write(kRequest); }, {kSuccess + kRequest}},
      {"another joined message, then the next",
       [](BoxLine& line) {
         line.WriteWithNext(std::string_view("NOISE\n"));
         line.Write(kRequest);
       },
       {kSuccess + "NOISE\n" + kRequest}},
      {"a read",
       [](BoxLine& line) {
         std::uint8_t byte = 0;
         line.ReadByte(SimClock::now() + 1ms, byte);
       },
       {kSuccess}},
      {"a wait for more", [](BoxLine& line) { line.MoreWithin(1ms); }, {kSuccess}},
      {"a pause", [](BoxLine& line) { line.PauseUntil(SimClock::now() + 1ms); }, {kSuccess}},
      {"going silent", [](BoxLine& line) { line.DiscardUntil(SimClock::now() + 1ms); }, {kSuccess}},
      {"the box's last words", [](BoxLine& line) { line.FlushHeld(); }, {kSuccess}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TimedChannel channel;
    BoxLine line(channel, LinePacing{});
    line.WriteWithNext(kSuccess);
    EXPECT_TRUE(channel.pieces.empty());
    c.then(line);
    std::vector<std::string> got;
    std::size_t total = 0;
    for (const auto& piece : channel.pieces) {
      got.push_back(piece.bytes);
      total += piece.bytes.size();
    }
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(line.sent_bytes(), total);
  }
}

// On a paced line, or through an adapter, the bytes reach the tool when two
// plain writes would have them there.
TEST(JoinedWrite, KeepsThePacedAndTheHeldLinesTiming) {
  struct Case {
    std::string name;
    LinePacing pacing;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"115200 bit/s", LinePacing{115200, false, 1, 0}, {kSuccess, kRequest}},
      {"a 30 ms adapter", LinePacing{0, false, 1, 30}, {kSuccess + kRequest}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TimedChannel plain;
    TimedChannel joined;
    BoxLine plain_line(plain, c.pacing);
    BoxLine joined_line(joined, c.pacing);
    const auto plain_start = SimClock::now();
    plain_line.Write(kSuccess);
    plain_line.Write(kRequest);
    plain_line.FlushHeld();
    const auto joined_start = SimClock::now();
    joined_line.WriteWithNext(kSuccess);
    joined_line.Write(kRequest);
    joined_line.FlushHeld();
    ASSERT_EQ(joined.pieces.size(), c.expected.size());
    ASSERT_EQ(plain.pieces.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(joined.pieces[i].bytes, c.expected[i]);
      EXPECT_EQ(plain.pieces[i].bytes, c.expected[i]);
      const auto late = (joined.pieces[i].at - joined_start) - (plain.pieces[i].at - plain_start);
      EXPECT_LT(late, 5ms);
      EXPECT_GT(late, -5ms);
    }
  }
}

}  // namespace
}  // namespace stbup
