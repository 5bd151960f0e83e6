// The simulated USB adapter between box and tool: the box's bytes reach the
// tool in full packets at once, and what is left once the timer runs out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/box_line.h"
#include "tests/sim/timed_channel.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(AdapterLine, HoldsShortRepliesUntilTheTimerAndSendsFullPacketsAtOnce) {
  const std::string request = "REQUEST_1024DOWN:0001\n";
  const std::string success = "1024DOWN_SUCCESS:0000\n";
  const std::string long_line(100, 'L');
  struct Case {
    std::string name;
    int latency_ms;
    std::vector<std::string> writes;    // back to back
    std::vector<std::string> expected;  // pieces the tool gets
    std::vector<bool> held;             // each piece waited the timer
  };
  const std::vector<Case> cases = {
      {"no adapter", 0, {success, request}, {success, request}, {false, false}},
      {"two short lines, one wait", 40, {success, request}, {success + request}, {true}},
      {"a full packet leaves at once",
       40,
       {long_line},
       {long_line.substr(0, 62), long_line.substr(62)},
       {false, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TimedChannel channel;
    BoxLine line(channel, LinePacing{0, false, 1, c.latency_ms});
    const auto start = SimClock::now();
    for (const std::string& text : c.writes) line.Write(text);
    std::uint8_t byte = 0;
    // The box waits for the tool's answer; the held bytes leave meanwhile.
    EXPECT_FALSE(line.ReadByte(SimClock::now() + 200ms, byte));
    ASSERT_EQ(channel.pieces.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(channel.pieces[i].bytes, c.expected[i]);
      const auto waited = channel.pieces[i].at - start;
      if (c.held[i]) {
        EXPECT_GE(waited, std::chrono::milliseconds(c.latency_ms));
        EXPECT_LT(waited, 190ms);
      } else {
        EXPECT_LT(waited, std::chrono::milliseconds(c.latency_ms > 0 ? c.latency_ms : 20));
      }
    }
    EXPECT_EQ(line.sent_bytes(), [&] {
      std::size_t total = 0;
      for (const auto& text : c.writes) total += text.size();
      return total;
    }());
  }
}

TEST(AdapterLine, APauseOfTheBoxLetsHeldBytesGoWhenTheirTimeComes) {
  TimedChannel channel;
  BoxLine line(channel, LinePacing{0, false, 1, 30});
  const auto start = SimClock::now();
  line.Write(std::string_view("UPGRADE_SUCCESS\n"));
  line.PauseUntil(start + 100ms);
  ASSERT_EQ(channel.pieces.size(), 1u);
  EXPECT_GE(channel.pieces[0].at - start, 30ms);
  EXPECT_LT(channel.pieces[0].at - start, 90ms);
}

TEST(AdapterLine, TheBoxsLastWordsLeaveWhenFlushed) {
  TimedChannel channel;
  BoxLine line(channel, LinePacing{0, false, 1, 200});
  line.Write(std::string_view("NO_ACKNOWLEDGE with PC.\n"));
  EXPECT_TRUE(channel.pieces.empty());
  line.FlushHeld();
  ASSERT_EQ(channel.pieces.size(), 1u);
  EXPECT_EQ(channel.pieces[0].bytes, "NO_ACKNOWLEDGE with PC.\n");
  line.FlushHeld();
  EXPECT_EQ(channel.pieces.size(), 1u);
}

}  // namespace
}  // namespace stbup
