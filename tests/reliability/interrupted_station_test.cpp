// Ctrl-C at a station: the first stops taking new boxes and lets the box being
// upgraded finish; the second aborts it and closes every port (status 130).

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/station_command.h"
#include "cli/station_port.h"
#include "image/image_reader.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/reliability/child_process.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/pty_pair.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds at_most) {
  const auto deadline = std::chrono::steady_clock::now() + at_most;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

TEST(InterruptedStationTest, FirstCtrlCLetsTheDownloadFinishSecondAborts) {
  const std::string binary = testing::StbupBinary();
  ASSERT_TRUE(std::filesystem::exists(binary)) << binary << " (build the stbup target)";
  for (const int interrupts : {1, 2}) {
    SCOPED_TRACE(std::to_string(interrupts) + " Ctrl-C");
    TempDir dir;
    // About 2 s on a 115200 bit/s line: long enough to be interrupted mid-way.
    const std::string image = testing::WriteSmallImage(dir, 24 * 1024);
    SimulatorOptions sim;
    sim.image = ReadImageInfo(image);
    sim.flash_record[4] = 0x11;
    sim.flash_record[6] = 0x81;
    sim.baud = 115200;
    PtyEndpoint pty;
    BoxSimulator box(sim);
    std::vector<SimulationSummary> played;
    std::thread player([&] {
      played = box.Run(pty.master(), LineHooks{[&] { pty.ReleaseSlave(); }, {}});
    });
    testing::PtyPair idle;  // a port where no box ever speaks

    const std::string logs = dir.PathOf("logs");
    testing::Child station({binary, "station", image, "--port", pty.slave_path(), "--port",
                            idle.slave_path(), "--log-dir", logs, "--timeout", "60"});
    ASSERT_GT(station.pid(), 0);
    const std::string log = logs + "/" + StationFileName(pty.slave_path()) + ".log";
    ASSERT_TRUE(
        WaitFor([&] { return ReadFile(log).find("DownLoad Start") != std::string::npos; }, 10s))
        << ReadFile(log);
    for (int i = 0; i < interrupts; ++i) {
      ASSERT_EQ(::kill(station.pid(), SIGINT), 0);
      std::this_thread::sleep_for(100ms);
    }
    const auto interrupted = std::chrono::steady_clock::now();
    const int status = station.Wait(15s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
    std::vector<std::string> lines;
    while (const auto line = station.Line(500ms)) lines.push_back(*line);
    box.Stop();
    player.join();
    const auto said = [&](const std::string& text) {
      return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(
        said("stbup: interrupted: no new boxes; boxes being upgraded finish (Ctrl-C "
             "again aborts them)"))
        << ::testing::PrintToString(lines);
    if (interrupts == 1) {
      EXPECT_EQ(status, kExitOk);
      ASSERT_EQ(played.size(), 1u);
      EXPECT_EQ(played[0].verdict, "verified");
      EXPECT_NE(ReadFile(log).find("Upgrade End\n"), std::string::npos);
    } else {
      EXPECT_EQ(status, kExitInterrupted);
      EXPECT_TRUE(said("stbup: interrupted again: aborting")) << ::testing::PrintToString(lines);
      EXPECT_LT(seconds, 2.0);
      EXPECT_EQ(ReadFile(log).find("Upgrade End\n"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace stbup
