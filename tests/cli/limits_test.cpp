// What the command line takes as limits: --timeout over its whole range, and
// the settings file read only where a COMn name needs it.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "cli/station_command.h"
#include "cli/time_limit.h"
#include "cli/upgrade_command.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

struct Result {
  int status;
  std::string err;
};

Result Execute(const std::vector<std::string>& args) {
  CommandRegistry registry("stbup");
  AddUpgradeCommand(registry);
  AddStationCommand(registry);
  std::ostringstream out;
  std::ostringstream err;
  const int status = registry.Execute(args, out, err);
  return {status, err.str()};
}

TEST(TimeoutOption, EveryValueUpToTenYearsIsTakenAndNothingElse) {
  const struct {
    const char* value;
    bool taken;
  } cases[] = {
      {"0", true},
      {"0.001", true},
      {"2147483.647", true},
      {"2147484", true},
      {"31622400", true},
      {"316224000", true},  // ten years of 366 days
      {"316224000.5", false},
      {"1e30", false},
      {"-1", false},
      {"nan", false},
      {"NaN", false},
      {"inf", false},
      {"-inf", false},
      {"infinity", false},
      {"ten", false},
  };
  for (const char* command : {"upgrade", "station"}) {
    for (const auto& test : cases) {
      SCOPED_TRACE(std::string(command) + " --timeout " + test.value);
      // A missing image: a value that is taken ends with 3, before any port.
      const Result result = Execute({command, "/nonexistent/stbup.bin", "--port",
                                     "/nonexistent/tty", "--no-records", "--timeout", test.value});
      if (test.taken) {
        EXPECT_EQ(result.status, kExitImageNotAccepted) << result.err;
      } else {
        EXPECT_EQ(result.status, kExitUsage) << result.err;
        EXPECT_NE(result.err.find("--timeout"), std::string::npos) << result.err;
      }
    }
  }
}

TEST(TimeLimit, LongLimitsAreWaitedForADayAtATime) {
  using std::chrono::hours;
  using std::chrono::milliseconds;
  const struct {
    std::chrono::steady_clock::duration left;
    int interval_ms;
  } cases[] = {
      {milliseconds(0), 1},
      {-milliseconds(5), 1},
      {std::chrono::microseconds(10), 1},
      {milliseconds(250), 250},
      {std::chrono::microseconds(250001), 251},
      {hours(24), 86400000},
      {hours(24 * 3660), 86400000},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(TimeLimit::NextIntervalMs(test.left), test.interval_ms)
        << std::chrono::duration_cast<std::chrono::microseconds>(test.left).count() << " us";
  }
}

TEST(TimeLimit, FiresOnceWhenDueAndNeverEarlyForALongOne) {
  EventLoop loop;
  int short_fired = 0;
  int long_fired = 0;
  const auto start = std::chrono::steady_clock::now();
  TimeLimit short_limit(loop, 0.05, [&] { ++short_fired; });
  // Once cast to an int of milliseconds, this expired at once.
  TimeLimit long_limit(loop, 2147484, [&] { ++long_fired; });
  TimeLimit none(loop, 0, [&] { ++long_fired; });
  EXPECT_TRUE(loop.RunUntil([&] { return short_fired > 0; }, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  loop.RunUntil([] { return false; }, 150ms);
  EXPECT_EQ(short_fired, 1);
  EXPECT_EQ(long_fired, 0);
}

TEST(StationSettings, ReadOnlyToMapComNames) {
  TempDir dir;
  // Damaged: far larger than any settings file.
  const std::string settings = dir.WriteFile("stbup.ini", std::string(2 * 1024 * 1024, '['));
  PtyEndpoint pty;
  StationOptions options;
  options.image = testing::WriteSmallImage(dir, 4096);
  options.settings_file = settings;
  options.out_is_terminal = false;
  options.timeout_seconds = 0.3;
  options.ports = {pty.slave_path()};
  std::ostringstream out, err;
  EXPECT_EQ(RunStation(options, out, err), kExitOk) << err.str();
  EXPECT_EQ(err.str().find("settings file"), std::string::npos) << err.str();

  options.ports = {"COM3"};
  std::ostringstream out2, err2;
  EXPECT_EQ(RunStation(options, out2, err2), kExitPortNotOpened);
  EXPECT_EQ(err2.str(), "stbup: settings file " + settings + ": larger than 1024 KiB\n");
}

}  // namespace
}  // namespace stbup
