#include "cli/demo_command.h"

#include <gtest/gtest.h>

#include <sstream>

namespace stbup {
namespace {

TEST(DemoCommandTest, EndsWithTheSimulatorsVerifiedVerdict) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunDemo({}, out, err), 0) << err.str();
  EXPECT_EQ(out.str().rfind("[ Upgrade mode. ]\n", 0), 0u);
  EXPECT_NE(out.str().find("> New version binary.\n"), std::string::npos);
  EXPECT_NE(err.str().find("stbup: demo: simulator verdict: verified (768 blocks, 0 retries, "
                           "786432 bytes)\n"),
            std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace stbup
