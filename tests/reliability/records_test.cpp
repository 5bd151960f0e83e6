// Each box "stbup upgrade" sees through to a verdict leaves one record,
// whatever the verdict, and a records file that cannot be written is said
// once and changes nothing else.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/core/box_ending.h"
#include "app/core/box_recorder.h"
#include "image/image_writer.h"
#include "records/records.h"
#include "records/sha256.h"
#include "tests/records/sample_records.h"
#include "tests/reliability/child_process.h"
#include "tests/reliability/tool_on_pty.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/pty_pair.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

constexpr int kBlocks = 6;

std::string HostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

std::vector<BoxRecord> ReadAll(const std::string& path) { return ReadRecords(path, {}); }

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The harness's small DATABASE image, or a CODE image of the same identity
// (the checks wave a DATABASE image through, so only CODE can be refused).
std::string WriteImage(const TempDir& dir, char type_letter) {
  if (type_letter == 'D') return testing::WriteSmallImage(dir, kBlocks * 1024 - 100);
  ImageSpec recipe;
  recipe.type_letter = type_letter;
  recipe.model_name = "ABC";
  recipe.check_code = "kestrelowl";
  recipe.start_block = 16;
  recipe.hardware_version = {0x01, 0x02, 0x03};
  recipe.software_version = {0x0A, 0x0B, 0x0C};
  const std::string path = dir.PathOf("code.bin");
  WriteImageFile(path, recipe, std::vector<std::uint8_t>(kBlocks * 1024, 0x5A));
  return path;
}

struct VerdictCase {
  const char* name;
  std::function<void(SimulatorOptions&, UpgradeOptions&)> apply;
  int status;
  Verdict verdict;
  char type_letter;
  bool downloaded;  // blocks moved (the record's counts are checked against the box's)
  int blocks_retried;
  bool identified;      // the box told its model and versions
  const char* in_tail;  // a line the log tail must hold; empty: no tail
};

class RecordedVerdictTest : public ::testing::TestWithParam<VerdictCase> {
 protected:
  TempDir dir_;
};

TEST_P(RecordedVerdictTest, OneRecordSaysWhatHappenedToTheBox) {
  const VerdictCase& test = GetParam();
  const std::string image = WriteImage(dir_, test.type_letter);
  const std::string records = dir_.PathOf("records.sqlite3");
  SimulatorOptions sim;
  UpgradeOptions tool;
  tool.records_file = records;
  test.apply(sim, tool);
  const auto before = std::chrono::system_clock::now();
  const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim, tool);
  ASSERT_EQ(run.status, test.status) << run.err << run.out;
  EXPECT_EQ(run.err.find("records"), std::string::npos) << run.err;

  const std::vector<BoxRecord> got = ReadAll(records);
  ASSERT_EQ(got.size(), 1u);
  const BoxRecord& r = got[0];
  EXPECT_EQ(r.verdict, test.verdict);
  EXPECT_EQ(r.exit_status, test.status);
  EXPECT_EQ(r.record_id.size(), 36u);
  EXPECT_EQ(r.station, HostName());
  EXPECT_EQ(r.front_end, "upgrade");
  EXPECT_NE(r.port.find("/dev/pts/"), std::string::npos) << r.port;
  EXPECT_GE(r.started_at, FormatUtcTimestamp(before - 1s));
  EXPECT_LE(r.started_at, r.ended_at);
  EXPECT_GT(r.seconds, 0);
  EXPECT_LT(r.seconds, run.seconds + 0.5);

  EXPECT_EQ(r.loader_kind, "5518");
  EXPECT_EQ(r.loader_version, "0217");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(r.blocks_sent, run.boxes[0].blocks);
  EXPECT_EQ(r.blocks_sent > 0, test.downloaded);
  EXPECT_EQ(r.blocks_retried, test.blocks_retried);
  EXPECT_EQ(r.blocks_retried, run.boxes[0].retries);
  if (test.identified) {
    EXPECT_EQ(r.flash_size, 0);  // the harness's box: 1 Mbyte, SST FLASH-1M
    EXPECT_EQ(r.flash_chip, "2781");
    EXPECT_EQ(r.box_model, sim.model.value_or("ABC"));
    EXPECT_EQ(r.box_hw, "01.02.03");
    EXPECT_EQ(r.box_sw, "0A.0B.0C");
  } else {
    EXPECT_EQ(r.box_model, std::nullopt);
    EXPECT_EQ(r.flash_size, std::nullopt);
  }

  EXPECT_EQ(r.image_path, image);
  EXPECT_EQ(r.image_size, static_cast<std::int64_t>(std::filesystem::file_size(image)));
  EXPECT_EQ(r.image_sha256, Sha256OfFile(image));
  EXPECT_EQ(r.image_model, "ABC");
  EXPECT_EQ(r.image_hw, "01.02.03");
  EXPECT_EQ(r.image_sw, "0A.0B.0C");
  EXPECT_EQ(r.image_type, test.type_letter == 'D' ? "DATABASE" : "CODE");
  if (*test.in_tail == '\0') {
    EXPECT_EQ(r.log_tail, "");
  } else {
    EXPECT_NE(r.log_tail.find(test.in_tail), std::string::npos) << r.log_tail;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, RecordedVerdictTest,
    ::testing::Values(
        VerdictCase{"Upgraded", [](SimulatorOptions&, UpgradeOptions&) {}, kExitOk,
                    Verdict::kUpgraded, 'D', true, 0, true, ""},
        VerdictCase{"UpgradedAfterRetries",
                    [](SimulatorOptions& sim, UpgradeOptions&) {
                      sim.corrupt_blocks = {1, 4};
                    },
                    kExitOk, Verdict::kUpgraded, 'D', true, 2, true, ""},
        VerdictCase{"Refused", [](SimulatorOptions& sim, UpgradeOptions&) { sim.model = "ZZZ"; },
                    kExitRefused, Verdict::kRefused, 'C', false, 0, true, "Upgrade Fail"},
        VerdictCase{"RestartedBeforeSuccess",
                    [](SimulatorOptions& sim, UpgradeOptions&) {
                      sim.corrupt_blocks = {2};
                      sim.max_retries = 1;  // the box gives up and starts its own software
                    },
                    kExitNormalStart, Verdict::kRestarted, 'D', true, 1, true, "STB normal start."},
        VerdictCase{"PortGone",
                    [](SimulatorOptions& sim, UpgradeOptions&) { sim.hangup_after = 3; },
                    kExitPortGone, Verdict::kPortGone, 'D', true, 0, true, "DownLoad Start"},
        VerdictCase{"Timeout",
                    [](SimulatorOptions& sim, UpgradeOptions& tool) {
                      sim.silent_after = 2;
                      tool.timeout_seconds = 1;
                    },
                    kExitTimeout, Verdict::kTimeout, 'D', true, 0, true, "DownLoad Start"},
        VerdictCase{"SuccessAfterAFlashWriteError",
                    [](SimulatorOptions& sim, UpgradeOptions&) {
                      sim.flash_write_error = "0003";  // the box says so, then success
                    },
                    kExitSuccessAfterFailure, Verdict::kSuccessAfterFailure, 'D', true, 0, true,
                    "success after a failure"},
        VerdictCase{"CheckOnlyAccepted",
                    [](SimulatorOptions&, UpgradeOptions& tool) { tool.check_only = true; },
                    kExitOk, Verdict::kAccepted, 'D', false, 0, true, ""}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) { return info.param.name; });

TEST(RecordsTest, EachBoxOfARepeatHasItsOwnRecord) {
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, kBlocks * 1024);
  const std::string records = dir.PathOf("records.sqlite3");
  SimulatorOptions sim;
  sim.repeat = 3;
  sim.restart_gap_ms = 100;
  sim.corrupt_blocks = {0};
  UpgradeOptions tool;
  tool.repeat = true;
  tool.records_file = records;
  tool.timeout_seconds = 3;  // the session ends by time after the third box
  const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim, tool);
  ASSERT_EQ(run.boxes.size(), 3u) << run.err;
  const std::vector<BoxRecord> got = ReadAll(records);
  ASSERT_EQ(got.size(), 3u) << run.err;
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(got[k].verdict, Verdict::kUpgraded);
    EXPECT_EQ(got[k].blocks_sent, run.boxes[k].blocks);
    EXPECT_EQ(got[k].blocks_retried, 1);  // each box's own, not a running total
  }
  EXPECT_LT(got[0].ended_at, got[1].started_at);
  EXPECT_NE(got[0].record_id, got[1].record_id);
}

TEST(RecordsTest, NoBoxNoRecord) {
  // Nothing ever answers: the time-out ends a wait, not a box.
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, 1024);
  const std::string records = dir.PathOf("records.sqlite3");
  testing::PtyPair pty;
  UpgradeOptions options;
  options.image = image;
  options.settings_file = image + ".none.ini";
  options.timeout_seconds = 0.5;
  options.records_file = records;
  testing::ToolOnPty tool(options, pty.slave_path());
  ASSERT_EQ(tool.Wait(), kExitTimeout) << tool.Err();
  EXPECT_FALSE(std::filesystem::exists(records));  // not even opened
}

TEST(RecordsTest, AStoreThatCannotBeWrittenIsSaidOnceAndTheUpgradesGoOn) {
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, kBlocks * 1024);
  const std::string corrupt = dir.WriteFile("corrupt.sqlite3", std::string(4096, 'x'));
  for (const std::string& records : {corrupt, testing::UnwritableRecordsPath()}) {
    SCOPED_TRACE(records);
    SimulatorOptions sim;
    sim.repeat = 2;
    sim.restart_gap_ms = 100;
    UpgradeOptions tool;
    tool.repeat = true;
    tool.records_file = records;
    tool.timeout_seconds = 2;
    const testing::UpgradeRun run = testing::RunAgainstSimulator(image, sim, tool);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].verdict, "verified");
    EXPECT_EQ(run.boxes[1].verdict, "verified");
    EXPECT_EQ(testing::CountLines(run.out, "Upgrade End"), 2);
    EXPECT_EQ(Occurrences(run.err, "stbup: records: " + records + ": "), 1) << run.err;
    EXPECT_NE(run.err.find("stbup: 2 boxes, 2 upgraded, 0 not\n"), std::string::npos) << run.err;
  }
  EXPECT_EQ(std::filesystem::file_size(corrupt), 4096u);
}

TEST(RecordsTest, AnInterruptedBoxIsRecordedByTheCommand) {
  const std::string binary = testing::StbupBinary();
  ASSERT_TRUE(std::filesystem::exists(binary)) << binary;
  TempDir dir;
  const std::string image = testing::WriteSmallImage(dir, 4 * 1024);
  const std::string records = dir.PathOf("records.sqlite3");
  testing::PtyPair pty;
  testing::Child tool({binary, "upgrade", image, "--port", pty.slave_path(), "--records", records});
  ASSERT_GT(tool.pid(), 0);
  ASSERT_EQ(pty.Read(2, 5s), std::string("\x07\x1F", 2));
  pty.Write("REQUEST_V217\n");  // a box announces itself, then nothing more
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(::kill(tool.pid(), SIGINT), 0);
  EXPECT_EQ(tool.Wait(5s), kExitInterrupted);
  const std::vector<BoxRecord> got = ReadAll(records);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].verdict, Verdict::kInterrupted);
  EXPECT_EQ(got[0].exit_status, kExitInterrupted);
  EXPECT_EQ(got[0].loader_version, "0217");
  EXPECT_EQ(got[0].box_model, std::nullopt);
  EXPECT_NE(got[0].log_tail.find("5518 detected.."), std::string::npos) << got[0].log_tail;
}

TEST(BoxVerdictTest, EveryStatusHasItsVerdict) {
  const struct {
    int status;
    bool check_only;
    Verdict verdict;
  } cases[] = {
      {kExitOk, false, Verdict::kUpgraded},
      {kExitOk, true, Verdict::kAccepted},
      {kExitRefused, true, Verdict::kRefused},
      {kExitNormalStart, false, Verdict::kRestarted},
      {kExitPortGone, false, Verdict::kPortGone},
      {kExitTimeout, false, Verdict::kTimeout},
      {kExitSuccessAfterFailure, false, Verdict::kSuccessAfterFailure},
      {kExitInterrupted, false, Verdict::kInterrupted},
      {kExitInternalError, false, Verdict::kFailed},
      {42, false, Verdict::kFailed},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(VerdictOfStatus(test.status, test.check_only), test.verdict) << test.status;
  }
}

}  // namespace
}  // namespace stbup
