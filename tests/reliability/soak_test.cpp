// Fifty boxes in a row through one "stbup upgrade --repeat" process: its open
// descriptors and resident memory at box 50 are what they were at box 5.

#include <sys/types.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/child_process.h"
#include "tests/reliability/sanitizer_build.h"
#include "tests/reliability/tool_on_pty.h"
#include "tests/reliability/upgrade_harness.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

constexpr int kBoxes = 50;
constexpr int kEarlyBox = 5;

int OpenDescriptors(pid_t pid) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    ++count;
  }
  return count;
}

struct Sample {
  int fds = -1;
  long rss_kib = -1;
};

TEST(SoakTest, FiftyBoxesInARowLeaveDescriptorsAndMemoryAsTheyWere) {
  const std::string binary = testing::StbupBinary();
  ASSERT_TRUE(std::filesystem::exists(binary)) << binary << " (build the stbup target)";
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, 8 * 1024);

  SimulatorOptions sim;
  sim.image = ReadImageInfo(image);
  sim.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M
  sim.flash_record[6] = 0x81;
  sim.repeat = kBoxes;
  sim.restart_gap_ms = 20;
  PtyEndpoint pty;
  BoxSimulator simulator(sim);
  std::vector<SimulationSummary> boxes;
  std::thread box([&] {
    boxes = simulator.Run(pty.master(), LineHooks{[&pty] { pty.ReleaseSlave(); }, {}});
  });

  testing::Child tool(
      {binary, "upgrade", image, "--port", pty.slave_path(), "--repeat", "--quiet"});
  ASSERT_GT(tool.pid(), 0);
  Sample early;
  Sample late;
  std::vector<std::string> seen;
  const auto started = std::chrono::steady_clock::now();
  while (late.fds < 0) {
    const auto line = tool.Line(10s);
    if (!line) break;
    seen.push_back(*line);
    // The least of a few looks: a box's end briefly opens the image again
    // (the next exchange's load), which is no leak.
    const auto sample = [&](Sample& s) {
      for (int look = 0; look < 5; ++look) {
        const int fds = OpenDescriptors(tool.pid());
        const long rss = testing::StatusKib(std::to_string(tool.pid()), "VmRSS");
        s.fds = s.fds < 0 ? fds : std::min(s.fds, fds);
        s.rss_kib = s.rss_kib < 0 ? rss : std::min(s.rss_kib, rss);
        std::this_thread::sleep_for(5ms);
      }
    };
    if (line->starts_with("stbup: box " + std::to_string(kEarlyBox) + ": ")) sample(early);
    if (line->starts_with("stbup: box " + std::to_string(kBoxes) + ": ")) sample(late);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  box.join();
  pty.CloseMaster();  // the port goes away: the session ends
  EXPECT_EQ(tool.Wait(5s), kExitOk);
  while (const auto line = tool.Line(1s)) seen.push_back(*line);

  std::printf(
      "soak: %d boxes in %.1f s; box %d: %d fds, %ld KiB resident; box %d: %d fds, %ld KiB\n",
      static_cast<int>(boxes.size()), seconds, kEarlyBox, early.fds, early.rss_kib, kBoxes,
      late.fds, late.rss_kib);
  ASSERT_GE(early.fds, 0) << "box " << kEarlyBox
                          << " never ended: " << ::testing::PrintToString(seen);
  ASSERT_GE(late.fds, 0) << "box " << kBoxes << " never ended: " << ::testing::PrintToString(seen);
  EXPECT_EQ(late.fds, early.fds);
  // The address sanitizer is told to keep no quarantine above; the thread
  // sanitizer's own bookkeeping grows with every exchange.
  if (!testing::kThreadSanitized) {
    EXPECT_LT(late.rss_kib - early.rss_kib, 1024);
  }
  ASSERT_EQ(boxes.size(), static_cast<std::size_t>(kBoxes));
  for (const SimulationSummary& summary : boxes) EXPECT_EQ(summary.verdict, "verified");
  EXPECT_NE(std::find(seen.begin(), seen.end(), "stbup: 50 boxes, 50 upgraded, 0 not"), seen.end())
      << ::testing::PrintToString(seen);
}

}  // namespace
}  // namespace stbup
