// "stbup upgrade" against a simulated box that misbehaves the way real boxes
// and lines do: what the tool must get through, and what must end it with
// the right status, promptly and without spinning.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "tests/reliability/upgrade_harness.h"

namespace stbup {
namespace {

constexpr int kBlocks = 8;

struct SurvivedFault {
  const char* name;
  std::function<void(SimulatorOptions&)> apply;
  int retries;
};

class SurvivedFaultTest : public ::testing::TestWithParam<SurvivedFault> {
 protected:
  TempDir dir_;
};

TEST_P(SurvivedFaultTest, UpgradeIsVerified) {
  const std::string image = testing::WriteSmallImage(dir_, kBlocks * 1024 - 100);
  SimulatorOptions sim;
  GetParam().apply(sim);
  const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim);
  ASSERT_EQ(run.status, kExitOk) << run.err << run.out;
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].verdict, "verified");
  EXPECT_EQ(run.boxes[0].blocks, kBlocks);
  EXPECT_EQ(run.boxes[0].retries, GetParam().retries);
  EXPECT_EQ(testing::CountLines(run.out, "Upgrade End"), 1);
  for (int k = 0; k < kBlocks; ++k) {
    char line[32];
    std::snprintf(line, sizeof line, "%4.4d Block Retry", k);
    EXPECT_EQ(testing::CountLines(run.out, line), GetParam().retries == kBlocks ? 1 : 0) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SurvivedFaultTest,
    ::testing::Values(SurvivedFault{"EveryBlockCorruptedOnce",
                                    [](SimulatorOptions& sim) {
                                      for (int k = 0; k < kBlocks; ++k)
                                        sim.corrupt_blocks.insert(k);
                                    },
                                    kBlocks},
                      SurvivedFault{"NoiseLinesBetweenMessages",
                                    [](SimulatorOptions& sim) {
                                      sim.noise = true;
                                      sim.seed = 7;
                                    },
                                    0},
                      SurvivedFault{"LinesInSmallPieces",
                                    [](SimulatorOptions& sim) { sim.chunked = true; }, 0},
                      SurvivedFault{"SlowBox", [](SimulatorOptions& sim) { sim.slow_ms = 25; }, 0},
                      SurvivedFault{"NoisyChunkedAndCorrupted",
                                    [](SimulatorOptions& sim) {
                                      sim.noise = true;
                                      sim.chunked = true;
                                      sim.seed = 3;
                                      for (int k = 0; k < kBlocks; ++k)
                                        sim.corrupt_blocks.insert(k);
                                    },
                                    kBlocks}),
    [](const ::testing::TestParamInfo<SurvivedFault>& info) { return info.param.name; });

TEST(FaultMatrixTest, SilentBoxIsWaitedForWithoutSpinningUntilTheTimeout) {
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, kBlocks * 1024);
  SimulatorOptions sim;
  sim.silent_after = 1;
  UpgradeOptions tool;
  tool.timeout_seconds = 1.5;
  const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim, tool);
  ASSERT_EQ(run.status, kExitTimeout) << run.err;
  EXPECT_NE(run.err.find("stbup: no result within 1.5 s\n"), std::string::npos) << run.err;
  EXPECT_GE(run.seconds, 1.5);
  EXPECT_LT(run.seconds, 3.0);
  std::printf("silent box: %.2f s waited, %.3f s CPU (%.1f%%)\n", run.seconds, run.cpu_seconds,
              100 * run.cpu_seconds / run.seconds);
  // The exchange before the silence costs a little; waiting costs nothing.
  EXPECT_LT(run.cpu_seconds, 0.25 * run.seconds);
}

TEST(FaultMatrixTest, HangUpMidDownloadEndsWithStatus7WithinTwoSeconds) {
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, kBlocks * 1024);
  SimulatorOptions sim;
  sim.hangup_after = 3;
  const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim);
  ASSERT_EQ(run.status, kExitPortGone) << run.err;
  ASSERT_TRUE(run.hung_up_at.has_value());
  std::printf("hang-up mid-download noticed in %.3f s\n", run.seconds_after_hang_up);
  EXPECT_LT(run.seconds_after_hang_up, 2.0);
  EXPECT_NE(run.err.find(" has gone away\n"), std::string::npos) << run.err;
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].verdict, "hung_up");
  EXPECT_EQ(run.boxes[0].blocks, 4);
}

}  // namespace
}  // namespace stbup
