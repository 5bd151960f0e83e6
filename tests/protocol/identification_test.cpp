#include "tests/protocol/engine_fixture.h"

namespace stbup {
namespace {

const std::string kRule = "//==================================================";

TEST_F(EngineTest, RequestModeWithoutTheLoaderSentence) {
  image.StartBlock = 16;
  EXPECT_EQ(Line("REQUEST_MODE"), "PC___");
  EXPECT_EQ(NewMemo(),
            (Lines{"5518 detected..", "-. Target loader version : 1.06", "Target 1M Flash."}));
  EXPECT_EQ(view.label3, "L 106, u-C[1], FLS[1M]");
  EXPECT_EQ(view.label3_colour, colours::kBlue);
  EXPECT_EQ(view.logo, "Connected !");
  EXPECT_EQ(view.beeps, 1);
  EXPECT_EQ(timer.interval, 0);
  EXPECT_EQ(timer.stops, 1);
  EXPECT_EQ(engine.State().LoaderKind, kLoader5518);
  EXPECT_EQ(engine.State().LoaderVersion, 0x106u);
  EXPECT_EQ(engine.State().TargetFlashSize, 0);
  EXPECT_EQ(engine.State().UploadStartBlock, 16u);
}

TEST_F(EngineTest, RequestModeAfterTheLoaderSentenceAnswersALoaderImage) {
  SetType("LOADER");
  Line("5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)");
  EXPECT_EQ(engine.State().LoaderVersion, 0x202u);
  EXPECT_EQ(NewMemo(), Lines{});
  EXPECT_EQ(Line("REQUEST_MODE"), "BL___");
  EXPECT_EQ(NewMemo(),
            (Lines{"5518 detected..", "-. Target loader version : 2.02", "Target 1M Flash."}));
  EXPECT_EQ(view.label3, "L 202, u-C[0], FLS[1M]");
  EXPECT_EQ(engine.State().LoaderVersion, 0x202u);
}

TEST_F(EngineTest, RequestModeRunsTheSizeGuard) {
  image.PaddedSize = 0x100000;  // a 2 Mbyte image on the 1 Mbyte box it implies
  Line("REQUEST_MODE");
  EXPECT_TRUE(engine.State().SizeWarning);
  EXPECT_EQ(NewMemo().size(), 3u + 10u);
}

TEST_F(EngineTest, VersionedLoaderAnnouncements) {
  struct Case {
    std::string line;
    std::int32_t kind;
    std::uint32_t version;
    std::string label3;
    Lines memo;
  };
  const Case cases[] = {
      {"REQUEST_V217",
       kLoader5518,
       0x217,
       "L 217, u-C[0]",
       {"5518 detected..", "-. Target loader version :L 0217"}},
      {"REQUEST_V1022",
       kLoader5518,
       0x1022,
       "L 102, u-C[0]",
       {"5518 detected..", "-. Target loader version :L 1022"}},
      {"REQUEST_V106",
       kLoader5518,
       0x106,
       "L 106, u-C[1]",
       {"5518 detected..", "-. Target loader version :L 0106"}},
      {"REQUEST_L2171:more",
       kLoader2LL,
       0x2171,
       "L 217, u-C[1]",
       {"2LL detected..", "-. Target loader version :L 2171"}},
      {"REQUEST_Lab1c",
       kLoader2LL,
       0xAB1C,
       "L ab1, u-C[1]",
       {"2LL detected..", "-. Target loader version :L AB1C"}},
      {"REQUEST_V1",
       kLoader5518,
       0x1,
       "L 1, u-C[0]",
       {"5518 detected..", "-. Target loader version :L 0001"}},
      {"REQUEST_Vzz9",
       kLoader5518,
       0,
       "L zz9, u-C[0]",
       {"5518 detected..", "-. Target loader version :L 0000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EngineHarness h;
    h.engine.State().LoaderKind = c.kind == kLoader2LL ? kLoader5518 : kLoader2LL;
    EXPECT_EQ(h.Line(c.line), "");
    EXPECT_EQ(h.engine.State().LoaderKind, c.kind);
    EXPECT_EQ(h.engine.State().LoaderVersion, c.version);
    EXPECT_EQ(h.view.label3, c.label3);
    EXPECT_EQ(h.view.label3_colour, colours::kBlue);
    EXPECT_EQ(h.view.memo, c.memo);
    EXPECT_EQ(h.view.logo, "Connected !");
    EXPECT_EQ(h.timer.stops, 1);
    EXPECT_EQ(h.view.beeps, 1);
  }
}

TEST_F(EngineTest, EchoLines) {
  Line("TargetInfo:box 7");
  Line("FLASH_WRITE_ERROR:sector 3");
  EXPECT_EQ(NewMemo(), (Lines{":>box 7", "FLASH_WRITE_ERRORsector 3", "sector 3"}));
  EXPECT_EQ(view.logo, "FLASH Write error !");
  EXPECT_TRUE(link.writes.empty());
}

class RequestVersionTest : public EngineTest {
 protected:
  RequestVersionTest() {
    image.ModelName = "ST-210";
    image.HardwareVersion = {0x20, 0x11, 0x05};
    image.SoftwareVersion = {0x01, 0x0A, 0x33};
    view.label3 = "L 217, u-C[0] , FLS[1M]";
  }
};

TEST_F(RequestVersionTest, TenFieldsBannerAndAcceptance) {
  EXPECT_EQ(Line("REQUEST_VERSION: a , b ,\tc,ST-210 ,01,0a,33,20,11,05 "), "ack");
  const TargetInfo& target = engine.State().TargetInfo;
  EXPECT_EQ(target.ModelName, "ST-210");
  EXPECT_EQ(target.SoftwareVersion, (std::array<std::int32_t, 3>{1, 0x0A, 0x33}));
  EXPECT_EQ(target.HardwareVersion, (std::array<std::int32_t, 3>{0x20, 0x11, 0x05}));
  const std::string label = "L 217, u-C[0] , FLS[1M], ST-210, H/W(20.11.05), S/W(01.0A.33)";
  EXPECT_EQ(view.label3, label);
  EXPECT_EQ(view.label3_colour, colours::kBlue);
  EXPECT_EQ(NewMemo(), (Lines{kRule, "// FileInfo: ST-210, H/W(20.11.05), S/W(01.0A.33)",
                              "// Target: " + label, kRule, "-. STB Model   : ST-210",
                              "-. STB H/W Ver : 20.11.05", "-. STB S/W Ver : 01.0A.33"}));
}

TEST_F(RequestVersionTest, FewerCommasLeaveFieldsEmptyAndTheLastTakesTheRest) {
  Line("REQUEST_VERSION:1,2,3,M,5,6");
  const TargetInfo& target = engine.State().TargetInfo;
  EXPECT_EQ(target.ModelName, "M");
  EXPECT_EQ(target.SoftwareVersion, (std::array<std::int32_t, 3>{5, 0, 0}));
  EXPECT_EQ(target.HardwareVersion, (std::array<std::int32_t, 3>{0, 0, 6}));
}

TEST_F(RequestVersionTest, RestIsCutAt200CharactersAfterEachComma) {
  // Field 4 is followed by 250 blanks: the cut loses the fields after it.
  Line("REQUEST_VERSION:1,2,3,ST-210," + std::string(250, ' ') + "5,6,7,8,9,10");
  EXPECT_EQ(engine.State().TargetInfo.SoftwareVersion, (std::array<std::int32_t, 3>{0, 0, 0}));
}

TEST_F(RequestVersionTest, BlankBoxIsAcceptedWithoutHardwareChecks) {
  const std::string argument = "1,2,3,ST-210,01,0a,33,99,ff,77";
  EXPECT_EQ(Line("REQUEST_VERSION:" + argument), "ack");
  const Lines memo = NewMemo();
  ASSERT_EQ(memo.size(), 6u);
  EXPECT_EQ(memo[4], "The set-set-box eeprom/flash is blank!");
  EXPECT_EQ(memo[5], "The eeprom data:" + argument);
}

TEST_F(RequestVersionTest, UpperCaseFfIsNotBlank) {
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,ST-210,01,0a,33,99,FF,77"), "");
  const Lines memo = NewMemo();
  EXPECT_EQ(memo[4], "Hardware Version Mismatch");
  EXPECT_EQ(memo.back(), "Upgrade Fail");
}

TEST_F(RequestVersionTest, ModelFieldFfIsNotTested) {
  image.ModelName = "ff";
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,ff,01,0a,33,20,11,05"), "ack");
  EXPECT_EQ(NewMemo().size(), 7u);
}

TEST_F(RequestVersionTest, DatabaseImageIsAlwaysAccepted) {
  SetType("DATABASE");
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,OTHER,ff,ff,ff,00,00,00"), "ack");
  const Lines memo = NewMemo();
  ASSERT_EQ(memo.size(), 7u);
  EXPECT_EQ(memo[4], "-. STB Model   : ST-210");
  EXPECT_EQ(memo[5], "-. STB H/W Ver : 00.00.00");
  EXPECT_EQ(memo[6], "-. STB S/W Ver : FF.FF.FF");
}

TEST_F(RequestVersionTest, RefusalEndsTheRunWithoutAnswer) {
  std::vector<RunEvent> events;
  engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
  engine.State().TotalChecksum = 9;
  engine.State().ProgressCounter = 3;
  view.EnableSetupControls(false);
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,XY-1,01,0a,33,20,11,05"), "");
  const Lines memo = NewMemo();
  ASSERT_EQ(memo.size(), 6u);
  EXPECT_EQ(memo[4], "> check my model XY-1 != ST-210");
  EXPECT_EQ(memo[5], "Upgrade Fail");
  EXPECT_TRUE(view.setup_enabled);
  EXPECT_EQ(engine.State().TotalChecksum, 0);
  EXPECT_EQ(engine.State().ProgressCounter, 0);
  EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kRefused});
}

TEST_F(RequestVersionTest, CheckOnlyShowsAcceptanceButSendsNothing) {
  std::vector<RunEvent> events;
  engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
  engine.SetCheckOnly(true);
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,ST-210,01,0a,33,20,11,05"), "");
  EXPECT_EQ(NewMemo().back(), "-. STB S/W Ver : 01.0A.33");
  EXPECT_EQ(Line("REQUEST_VERSION:1,2,3,ST-210,01,0a,33,20,ff,05"), "");
  EXPECT_EQ(events, (std::vector<RunEvent>{RunEvent::kAccepted, RunEvent::kAccepted}));
}

}  // namespace
}  // namespace stbup

namespace stbup {
namespace {

// Hexadecimal fields read as numbers however many leading zeros they carry;
// beyond 32 bits, or not a number, they are 0.
TEST_F(RequestVersionTest, HexadecimalFieldsTakeAnyNumberOfLeadingZeros) {
  Line("REQUEST_VERSION:1,2,3,ST-210,0000000001,00000000000000000A,0,000000020,11,100000000");
  const TargetInfo& target = engine.State().TargetInfo;
  EXPECT_EQ(target.SoftwareVersion, (std::array<std::int32_t, 3>{1, 0x0A, 0}));
  EXPECT_EQ(target.HardwareVersion, (std::array<std::int32_t, 3>{0x20, 0x11, 0}));
  EXPECT_EQ(ReadHexField("0000000001"), 1u);
  EXPECT_EQ(ReadHexField("00FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadHexField("100000000"), 0u);
  EXPECT_EQ(ReadHexField("00000000000x"), 0u);
  EXPECT_EQ(ReadHexField("0000000000"), 0u);
}

}  // namespace
}  // namespace stbup
