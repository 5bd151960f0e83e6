#include "cli/demo_command.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace stbup {
namespace {

constexpr const char* kVerdict =
    "stbup: demo: simulator verdict: verified (768 blocks, 0 retries, 786432 bytes)\n";

struct Demo {
  int status;
  std::string out;
  std::string err;
};

Demo RunDemoCapturing(const DemoOptions& options) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunDemo(options, out, err);
  return {status, out.str(), err.str()};
}

TEST(DemoCommandTest, EndsWithTheSimulatorsVerifiedVerdict) {
  const Demo demo = RunDemoCapturing({});
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.out.rfind("[ Upgrade mode. ]\n", 0), 0u);
  EXPECT_NE(demo.out.find("> New version binary.\n"), std::string::npos);
  EXPECT_NE(demo.err.find(kVerdict), std::string::npos) << demo.err;
}

// The in-memory line changes only the wire: the same memo lines, messages
// and verdict as the platform's own line, the port's name aside.
TEST(DemoCommandTest, TheInMemoryLineGivesTheSameRunAsThePlatformsLine) {
  DemoOptions memory;
  memory.memory_line = true;
  const Demo platform = RunDemoCapturing({});
  const Demo in_memory = RunDemoCapturing(memory);
  ASSERT_EQ(in_memory.status, 0) << in_memory.err;
  EXPECT_TRUE(in_memory.err.ends_with(kVerdict)) << in_memory.err;
  EXPECT_NE(in_memory.out.find("\nUpgrade End\n"), std::string::npos);
  EXPECT_NE(in_memory.out.find("\nMEMORY Off !!! (\"Enter\" key to reconnect.)\n"),
            std::string::npos)
      << in_memory.out;

  const std::regex first_line("^stbup: demo: image .*, simulated box on ([^\n]*)\n");
  std::smatch platform_where;
  std::smatch memory_where;
  ASSERT_TRUE(std::regex_search(platform.err, platform_where, first_line)) << platform.err;
  ASSERT_TRUE(std::regex_search(in_memory.err, memory_where, first_line)) << in_memory.err;
  EXPECT_EQ(memory_where[1].str(), "MEMORY (an in-memory line in this process)");
  // The platform's port name as the memo shows it: the first word of "on ...".
  const std::string platform_port =
      platform_where[1].str().substr(0, platform_where[1].str().find(' '));
  std::string expected = platform.out;
  for (std::size_t at = 0; (at = expected.find(platform_port, at)) != std::string::npos;
       at += std::string_view("MEMORY").size()) {
    expected.replace(at, platform_port.size(), "MEMORY");
  }
  EXPECT_EQ(in_memory.out, expected);
  EXPECT_EQ(platform.err.substr(platform_where.length()),
            in_memory.err.substr(memory_where.length()));
}

TEST(DemoCommandTest, QuietLeavesOnlyTheDemosOwnLines) {
  DemoOptions options;
  options.quiet = true;
  options.memory_line = true;
  const Demo demo = RunDemoCapturing(options);
  EXPECT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.out, "");
  const std::size_t first_end = demo.err.find('\n') + 1;
  EXPECT_TRUE(std::regex_match(demo.err.substr(0, first_end),
                               std::regex("stbup: demo: image [^\n]*demo\\.bin, simulated box on "
                                          "MEMORY \\(an in-memory line in this process\\)\n")));
  EXPECT_EQ(demo.err.substr(first_end), kVerdict) << demo.err;
}

}  // namespace
}  // namespace stbup
