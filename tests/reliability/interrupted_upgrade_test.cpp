// An operator's Ctrl-C (or a supervisor's SIGTERM) ends "stbup upgrade" with
// status 130 and a note, whether the tool waits for one box or serves many.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/upgrade_command.h"
#include "tests/reliability/child_process.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/pty_pair.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(InterruptedUpgradeTest, ASignalEndsTheRunWithStatus130AndANote) {
  const std::string binary = testing::StbupBinary();
  ASSERT_TRUE(std::filesystem::exists(binary)) << binary << " (build the stbup target)";
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, 4 * 1024);
  const struct {
    int signal;
    bool repeat;
  } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGINT, true}};
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(strsignal(test.signal)) + (test.repeat ? " --repeat" : ""));
    testing::PtyPair pty;  // a box that stays silent
    std::vector<std::string> args{binary, "upgrade", image, "--port", pty.slave_path()};
    if (test.repeat) args.push_back("--repeat");
    testing::Child tool(args);
    ASSERT_GT(tool.pid(), 0);
    // The wake-up byte, then the poll bytes: the tool has the port and waits.
    const std::string heard = pty.Read(2, 5s);
    ASSERT_EQ(heard, std::string("\x07\x1F", 2));

    ASSERT_EQ(::kill(tool.pid(), test.signal), 0);
    EXPECT_EQ(tool.Wait(5s), kExitInterrupted);
    std::vector<std::string> lines;
    while (const auto line = tool.Line(1s)) lines.push_back(*line);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "stbup: interrupted"), lines.end())
        << ::testing::PrintToString(lines);
  }
}

}  // namespace
}  // namespace stbup
