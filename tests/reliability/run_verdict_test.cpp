// What "stbup upgrade" makes of a run, played by hand on a pty: success
// reported after a failure (status 9), a record that could not be written
// (status 11), a box's control bytes on stdout through a pipe, and a wildcard
// image's waivers once an ordinary image has taken its place.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "image/check_code.h"
#include "image/image_writer.h"
#include "records/records.h"
#include "tests/reliability/scripted_box.h"
#include "tests/reliability/tool_on_pty.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedBox;
using testing::ToolOnPty;

constexpr int kBlocks = 8;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RunVerdictTest : public ::testing::Test {
 public:
  RunVerdictTest() : image_(testing::WriteSmallImage(dir_, 7 * 1024 + 512)), box_(pty_) {}

  UpgradeOptions Options(bool repeat = false) const {
    UpgradeOptions options;
    options.image = image_;
    options.repeat = repeat;
    options.settings_file = dir_.PathOf("none.ini");
    options.timeout_seconds = 30;
    return options;
  }

  void Identify(std::string_view version_line = ScriptedBox::kVersionLine) {
    box_.Announce();
    box_.FlashInfo();
    EXPECT_EQ(box_.FlashEnd().size(), 5u);
    box_.Say(version_line);
    EXPECT_EQ(box_.Answer(3), "ack");
    box_.Ack();
  }

  void Download() {
    EXPECT_EQ(box_.Number("REQUEST_START_BLOCK"), "0016");
    EXPECT_EQ(box_.Number("REQUEST_BLOCK"), "0008");
    box_.StartDownload();
    for (int k = 0; k < kBlocks; ++k) ASSERT_TRUE(box_.Block(k)) << "block " << k;
  }

  TempDir dir_;
  std::string image_;
  testing::PtyPair pty_;
  ScriptedBox box_;
};

// The box says "UPGRADE_SUCCESS" whatever came before; the tool does not.
TEST_F(RunVerdictTest, SuccessAfterAFailureEndsWithStatus9) {
  struct Case {
    std::string name;
    std::function<void(RunVerdictTest&)> play;
    int status;
    std::string reasons;
  };
  const std::vector<Case> cases = {
      {"clean run",
       [](RunVerdictTest& t) {
         t.Download();
         EXPECT_TRUE(t.box_.TotalChecksum());
         t.box_.FlashWrite(2);
         t.box_.Finish();
       },
       0, ""},
      {"after FLASH_WRITE_ERROR",
       [](RunVerdictTest& t) {
         t.Download();
         EXPECT_TRUE(t.box_.TotalChecksum());
         t.box_.FlashWrite(1);
         t.box_.Say("FLASH_WRITE_ERROR:sector 3");
         t.box_.Finish();
       },
       9, "flash-write error"},
      {"after a bad flash CRC",
       [](RunVerdictTest& t) {
         t.Download();
         EXPECT_TRUE(t.box_.TotalChecksum());
         t.box_.FlashWrite(2);
         t.box_.Say("BAD CRC : Flash image !!");
         t.box_.Say("UPGRADE_SUCCESS");
       },
       9, "bad flash CRC, no successful flash check"},
      {"with no download at all", [](RunVerdictTest& t) { t.box_.Finish(); }, 9,
       "no whole download, total checksum not asked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeOptions options = Options();
    options.trace_file = dir_.PathOf("trace.jsonl");
    ToolOnPty tool(options, pty_.slave_path());
    ASSERT_TRUE(box_.WaitForWake());
    Identify();
    c.play(*this);
    ASSERT_EQ(tool.Wait(), c.status) << tool.Err();
    const std::string trace = Contents(options.trace_file);
    if (c.status == 0) {
      EXPECT_EQ(tool.Err().find("success after a failure"), std::string::npos) << tool.Err();
      EXPECT_NE(trace.find(R"("exit":{"status":0,"meaning":"upgraded"}})"), std::string::npos);
      continue;
    }
    EXPECT_NE(
        tool.Err().find("stbup: the box reported success after a failure (" + c.reasons + ")\n"),
        std::string::npos)
        << tool.Err();
    EXPECT_EQ(testing::CountLines(tool.Out(),
                                  ">> The box reported success after a failure: " + c.reasons),
              1)
        << tool.Out();
    EXPECT_NE(
        trace.find(R"("exit":{"status":9,"meaning":"the box reported success after a failure"}})"),
        std::string::npos)
        << trace;
  }
}

TEST_F(RunVerdictTest, RepeatSummaryCountsSuccessAfterAFailure) {
  ToolOnPty tool(Options(/*repeat=*/true), pty_.slave_path());
  ASSERT_TRUE(box_.WaitForWake());
  Identify();
  Download();
  EXPECT_TRUE(box_.TotalChecksum());
  box_.FlashWrite(2);
  box_.Finish();
  ASSERT_TRUE(box_.WaitForWake());
  Identify();
  box_.Finish();  // no download
  ASSERT_TRUE(box_.WaitForWake());
  pty_.CloseMaster();
  EXPECT_EQ(tool.Wait(), 9) << tool.Err();
  const std::string err = tool.Err();
  EXPECT_NE(err.find("stbup: box 1: upgraded in "), std::string::npos) << err;
  EXPECT_NE(err.find("stbup: box 2: the box reported success after a failure in "),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("stbup: 2 boxes, 1 upgraded, 1 not (1 reported success after a failure: "
                     "status 9)\n"),
            std::string::npos)
      << err;
}

// /dev/full takes the file open and refuses every write: said once, the
// upgrade goes on to its end, and the status tells the record is incomplete.
TEST_F(RunVerdictTest, ALogOrTraceThatCannotBeWrittenIsSaidOnceAndEndsWithStatus11) {
  struct Case {
    std::string name;
    bool log;
    std::string note;
  };
  for (const Case& c : {Case{"--log", true,
                             "stbup: cannot write the log /dev/full: No space left "
                             "on device; the log is incomplete from here on\n"},
                        Case{"--trace", false,
                             "stbup: cannot write the trace /dev/full: No space left on device; "
                             "the trace is incomplete from here on\n"}}) {
    SCOPED_TRACE(c.name);
    UpgradeOptions options = Options();
    if (c.log) {
      options.log_file = "/dev/full";
    } else {
      options.trace_file = "/dev/full";
    }
    options.records_file = dir_.PathOf(c.name + ".sqlite3");
    ToolOnPty tool(options, pty_.slave_path());
    ASSERT_TRUE(box_.WaitForWake());
    Identify();
    Download();
    EXPECT_TRUE(box_.TotalChecksum());
    box_.FlashWrite(2);
    box_.Finish();
    ASSERT_EQ(tool.Wait(), kExitRecordIncomplete) << tool.Err();
    const std::string err = tool.Err();
    EXPECT_NE(err.find(c.note), std::string::npos) << err;
    EXPECT_EQ(err.find(c.note), err.rfind(c.note)) << "said once: " << err;
    EXPECT_NE(
        err.find("stbup: the record is incomplete: the " + std::string(c.log ? "log" : "trace") +
                 " /dev/full could not be written "
                 "whole (status 11 if upgraded)\n"),
        std::string::npos)
        << err;
    EXPECT_EQ(testing::CountLines(tool.Out(), "Upgrade End"), 1);
    // The record keeps the status the command ended with.
    const auto records = ReadRecords(options.records_file, {});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].verdict, Verdict::kUpgraded);
    EXPECT_EQ(records[0].exit_status, kExitRecordIncomplete);
  }
}

// "| tee run.log" ends in a terminal too: a box's escape sequences never
// reach stdout raw unless asked for; the log keeps the raw bytes.
TEST_F(RunVerdictTest, ControlBytesAreEscapedOnStdoutThroughAPipe) {
  const std::string hostile =
      "TargetInfo:\x1b]0;owned\x07\x1b[2J\x1b[6n\x9b"
      "1m";
  const std::string escaped = ":>\\x1B]0;owned\\x07\\x1B[2J\\x1B[6n\\x9B1m";
  const std::string raw =
      ":>\x1b]0;owned\x07\x1b[2J\x1b[6n\x9b"
      "1m";
  for (const bool raw_asked : {false, true}) {
    SCOPED_TRACE(raw_asked);
    UpgradeOptions options = Options();
    options.raw = raw_asked;
    options.log_file = dir_.PathOf("run.log");
    ToolOnPty tool(options, pty_.slave_path());  // stdout is no terminal here
    ASSERT_TRUE(box_.WaitForWake());
    box_.Say(hostile);
    box_.Say("NO_ACKNOWLEDGE with PC.");
    ASSERT_EQ(tool.Wait(), kExitNormalStart) << tool.Err();
    EXPECT_EQ(testing::CountLines(tool.Out(), raw_asked ? raw : escaped), 1) << tool.Out();
    EXPECT_EQ(tool.Out().find('\x1b') != std::string::npos, raw_asked);
    EXPECT_EQ(testing::CountLines(Contents(options.log_file), raw), 1);
  }
}

// A wildcard image's waivers do not outlive it: with an ordinary image in its
// place, the next box of another model is refused.
TEST_F(RunVerdictTest, WaiversDoNotSurviveTheImageAcrossRepeat) {
  ImageSpec recipe;
  recipe.type_letter = 'C';
  recipe.model_name = "ABC";
  recipe.format = ImageFileFormat::kNew;
  recipe.check_code = "kestrelowl";
  recipe.start_block = 16;
  recipe.hardware_version = {0x20, 0x11, 0x05};
  recipe.software_version = {0x0A, 0x0B, 0x0C};
  const std::vector<std::uint8_t> payload(7 * 1024 + 512, 0x5A);
  WriteImageFile(image_, recipe, payload);
  const std::string other_model = "REQUEST_VERSION:00,00,00,ZZZ,0a,0b,0c,20,11,05";

  UpgradeOptions options = Options(/*repeat=*/true);
  options.timeout_seconds = 2;  // the second box is refused and left waiting
  ToolOnPty tool(options, pty_.slave_path());
  ASSERT_TRUE(box_.WaitForWake());
  Identify(other_model);  // waived: "ack"
  // The operator puts an ordinary image in the wildcard's place; the box
  // starts its own software and the next one comes.
  recipe.check_code = BuildImageCheckCode();
  WriteImageFile(image_, recipe, payload);
  box_.NormalStart();
  ASSERT_TRUE(box_.WaitForWake());
  std::this_thread::sleep_for(50ms);
  box_.Announce();
  box_.FlashInfo();
  EXPECT_EQ(box_.FlashEnd().size(), 5u);
  box_.Say(other_model);
  EXPECT_EQ(box_.Quiet(500ms).find("ack"), std::string::npos);
  pty_.CloseMaster();
  tool.Wait();
  EXPECT_EQ(testing::CountLines(tool.Out(), "Upgrade Fail"), 1) << tool.Out();
  EXPECT_NE(tool.Err().find("stbup: box 2: refused (Upgrade Fail)"), std::string::npos)
      << tool.Err();
}

}  // namespace
}  // namespace stbup
