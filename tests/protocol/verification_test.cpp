#include "tests/protocol/download_fixture.h"

namespace stbup {
namespace {

using VerificationTest = DownloadTest;

TEST_F(VerificationTest, TotalChecksumBeforeAnyBlockIsZero) {
  EXPECT_EQ(Line("REQUEST_TOTALCRC"), Bytes(1, '\0'));
}

TEST_F(VerificationTest, TwoBlocksOf0x80EachSumToZero) {
  Bytes payload(2048, '\0');
  payload[0] = static_cast<char>(0x80);
  payload[1024] = static_cast<char>(0x80);
  UseImage(payload, false, false);
  DownloadAll(2);
  EXPECT_EQ(Line("REQUEST_TOTALCRC"), Bytes(1, '\0'));
}

TEST_F(VerificationTest, StatusLinesAndBanners) {
  struct Case {
    std::string type, line;
    Lines memo;
    std::string logo;
    Colour text, background;
  };
  const Colour grey = colours::kGrey, highlight = colours::kButtonHighlight;
  const Case cases[] = {
      {"CODE", "DOWN_SUCCESS", {"DownLoad Success"}, "Simple and Speedy", highlight, grey},
      {"CODE", "RESPONSE_DOWNLOAD_FAIL", {"DownLoad Failed"}, "Simple and Speedy", highlight, grey},
      {"CODE", "RAMCRC_SUCCESS", {"DownLoad CRC Check OK"}, "Simple and Speedy", highlight, grey},
      {"ZCODE",
       "RAMCRC_SUCCESS",
       {"DownLoad CRC Check OK", ">> Wait a moment..., target un-compressing..."},
       "UnCompressing...",
       colours::kWhite,
       colours::kBlue},
      {"CODE", "FLASH_WRITE", {"Flash Write Start"}, "FLASH writing...!", highlight, colours::kRed},
      {"CODE",
       "FLASHCRC_SUCCESS",
       {"Flash CRC Check OK"},
       "Upgrade End!",
       colours::kWhite,
       colours::kBlue},
      {"CODE",
       "SEND_DECODE_SIZE:0640",
       {"D.Cod block size :0640"},
       "Simple and Speedy",
       highlight,
       grey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " " + c.line);
    EngineHarness h;
    h.SetType(c.type);
    EXPECT_EQ(h.Line(c.line), "");
    EXPECT_EQ(h.view.memo, c.memo);
    EXPECT_EQ(h.view.logo, c.logo);
    EXPECT_EQ(h.view.logo_text, c.text);
    EXPECT_EQ(h.view.logo_background, c.background);
  }
}

TEST_F(VerificationTest, DownSuccessFillsTheFirstBar) {
  Line("DOWN_SUCCESS");
  EXPECT_EQ(view.pb1, 100);
}

TEST_F(VerificationTest, RamCheckClosesTheSource) {
  UseImage(PatternPayload(2048), false, false);
  Line("REQUEST_DOWNLOAD");
  EXPECT_TRUE(engine.State().SourceStream.IsOpen());
  Line("RAMCRC_SUCCESS");
  EXPECT_FALSE(engine.State().SourceStream.IsOpen());
}

TEST_F(VerificationTest, FlashWriteProgressWithDecodeSize640) {
  image.BlockCount = 8;
  Line("SEND_DECODE_SIZE:640");
  EXPECT_EQ(image.BlockCount, 640);
  engine.State().ProgressCounter = 77;
  Line("FLASH_WRITE");
  EXPECT_EQ(engine.State().ProgressCounter, 0);
  view.ClearEvents();
  for (int k = 0; k < 5; ++k) Line("4096FLASH_WRITE");
  // 0.625 per step, shown rounded half to even: 0, 0.625, 1.25, 1.875, 2.5.
  EXPECT_EQ(view.EventsOf("pb2"), (std::vector<std::string>{"0", "1", "1", "2", "2"}));
  EXPECT_EQ(engine.State().ProgressCounter, 20);
}

TEST_F(VerificationTest, FlashWriteProgressOfEightBlocks) {
  image.BlockCount = 8;
  Line("FLASH_WRITE");
  Line("4096FLASH_WRITE");
  Line("4096FLASH_WRITE");
  EXPECT_EQ(view.EventsOf("pb2"), (std::vector<std::string>{"0", "50"}));
  Line("UPGRADE_SUCCESS");
  EXPECT_EQ(view.pb2, 100);
}

TEST_F(VerificationTest, DecodeSizeThatIsNotANumberLeavesTheBarAlone) {
  for (const std::string argument : {"", "12x", "0"}) {
    SCOPED_TRACE(argument);
    image.BlockCount = 8;
    view.SetProgress(ProgressBar::kPb2, 42);
    Line("SEND_DECODE_SIZE:" + argument);
    EXPECT_EQ(image.BlockCount, 0);
    Line("4096FLASH_WRITE");
    EXPECT_EQ(view.pb2, 42);
  }
}

TEST_F(VerificationTest, UpgradeSuccessEnding) {
  std::vector<RunEvent> events;
  engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
  UseImage(PatternPayload(2048), false, false);
  Line("ACK");
  DownloadAll(4);
  Line("REQUEST_TOTALCRC");
  Line("FLASHCRC_SUCCESS");
  NewMemo();
  view.ClearEvents();
  Line("UPGRADE_SUCCESS");
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"pb2:100", "memo:Upgrade End", "beep",
                                      "memo:", "memo:COM1 Off !!! (\"Enter\" key to reconnect.)",
                                      "memo:  ", "setup:1", "connect:1|Disconnected"}));
  EXPECT_EQ(engine.State().TotalChecksum, 0);
  EXPECT_EQ(engine.State().ProgressCounter, 0);
  EXPECT_EQ(link.closes, 0);
  EXPECT_EQ(window.resets, 0);
  EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kUpgradeSuccess});
  // The port stays open: a later line is still handled.
  Line("TargetInfo:after");
  EXPECT_EQ(view.memo.back(), ":>after");
}

// "UPGRADE_SUCCESS" counts only after a whole download from an intact
// source, the total checksum and a successful flash check, with no flash-write
// error and no bad flash CRC on the way.
TEST_F(VerificationTest, SuccessAfterAFailureIsItsOwnEnding) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;  // after REQUEST_DOWNLOAD
    std::string reasons;             // empty: a verified success
  };
  const std::vector<std::string> blocks = {"REQUEST_1024DOWN:0000", "1024DOWN_SUCCESS:0000",
                                           "REQUEST_1024DOWN:0001", "1024DOWN_SUCCESS:0001",
                                           "REQUEST_1024DOWN:0002", "1024DOWN_SUCCESS:0002",
                                           "REQUEST_1024DOWN:0003", "1024DOWN_SUCCESS:0003"};
  auto with = [&](std::vector<std::string> before, std::vector<std::string> after) {
    std::vector<std::string> lines = std::move(before);
    lines.insert(lines.end(), blocks.begin(), blocks.end());
    lines.insert(lines.end(), after.begin(), after.end());
    return lines;
  };
  const std::vector<Case> cases = {
      {"clean run", with({}, {"REQUEST_TOTALCRC", "FLASH_WRITE", "FLASHCRC_SUCCESS"}), ""},
      {"flash-write error",
       with({}, {"REQUEST_TOTALCRC", "FLASH_WRITE_ERROR:3", "FLASHCRC_SUCCESS"}),
       "flash-write error"},
      {"bad flash CRC", with({}, {"REQUEST_TOTALCRC", "BAD CRC : Flash image !!"}),
       "bad flash CRC, no successful flash check"},
      {"no download at all",
       {"REQUEST_TOTALCRC", "FLASHCRC_SUCCESS"},
       "no whole download, total checksum not asked"},
      {"half a download",
       {"REQUEST_1024DOWN:0000", "1024DOWN_SUCCESS:0000", "REQUEST_TOTALCRC", "FLASHCRC_SUCCESS"},
       "no whole download, total checksum not asked"},
      {"download failed",
       with({}, {"RESPONSE_DOWNLOAD_FAIL", "REQUEST_TOTALCRC", "FLASHCRC_SUCCESS"}),
       "no whole download, total checksum not asked"},
      {"no total checksum", with({}, {"FLASHCRC_SUCCESS"}), "total checksum not asked"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RunEvent> events;
    engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
    UseImage(PatternPayload(4096), false, false);
    engine.ClearExchange();
    if (c.name != "no download at all") Line("REQUEST_DOWNLOAD");
    for (const std::string& line : c.lines) Line(line);
    NewMemo();
    Line("UPGRADE_SUCCESS");
    if (c.reasons.empty()) {
      EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kUpgradeSuccess});
      EXPECT_EQ(NewMemo(),
                (Lines{"Upgrade End", "", "COM1 Off !!! (\"Enter\" key to reconnect.)", "  "}));
    } else {
      EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kSuccessAfterFailure});
      EXPECT_EQ(engine.SuccessFailures(), c.reasons);
      const Lines memo = NewMemo();
      ASSERT_GE(memo.size(), 2u);
      EXPECT_EQ(memo[0], "Upgrade End");
      EXPECT_EQ(memo[1], ">> The box reported success after a failure: " + c.reasons);
    }
  }
}

TEST_F(VerificationTest, NormalStartEndingDuringADownload) {
  std::vector<RunEvent> events;
  engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
  UseImage(PatternPayload(2048), false, false);
  Line("REQUEST_DOWNLOAD");
  bool source_open_at_reset = true;
  window.on_reset = [&] {
    source_open_at_reset = engine.State().SourceStream.IsOpen();
    link.WriteChar(0x07);  // what the window's reset sends on the open port
  };
  NewMemo();
  view.ClearEvents();
  EXPECT_EQ(Line("NO_ACKNOWLEDGE with PC."), "\x07");
  EXPECT_FALSE(source_open_at_reset);
  EXPECT_EQ(window.resets, 1);
  EXPECT_EQ(link.closes, 1);
  EXPECT_EQ(view.events, (std::vector<std::string>{
                             "memo:STB normal start.",
                             "memo:", "memo:COM1 Off !!! (\"Enter\" key to reconnect.)",
                             "memo:  ", "logo:Disconnected !||", "connect:1|Disconnected"}));
  EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kNormalStart});
}

TEST_F(VerificationTest, BadFlashCrcOnlyForTheWholeSentence) {
  Line("BAD CRC : Flash image !!");
  EXPECT_EQ(NewMemo(), (Lines{"Flash CRC Check BAD !!!", "Please check target."}));
  Line("BAD CRC : Flash image !! ");
  Line("BAD CRC: Flash image !!");
  Line("BAD CRC ");
  EXPECT_EQ(NewMemo(), Lines{});
}

}  // namespace
}  // namespace stbup
