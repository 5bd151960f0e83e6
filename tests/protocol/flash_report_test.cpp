#include "tests/protocol/engine_fixture.h"

namespace stbup {
namespace {

TEST(FlashReportTest, SizeAndChipDecoding) {
  struct Case {
    std::string type;
    std::uint8_t size, maker, device;
    std::string label3_suffix;
    std::uint8_t flash_size;
    std::int32_t flash_id;
    Lines memo;
  };
  const Case cases[] = {
      {"CODE",
       0x21,
       0x23,
       0x4B,
       " , FLS[2M]",
       1,
       0x234B,
       {"-----------> Target 2M Flash.", "-----------> Target SST FLASH-2M (39VF1601 TOP)."}},
      {"JCODE",
       0x21,
       0x23,
       0x4B,
       " , FLS[2M]",
       0,
       0x234B,
       {"-----------> Target is JIG", "-----------> Target SST FLASH-2M (39VF1601 TOP)."}},
      {"JLOADER",
       0x21,
       0x27,
       0x82,
       " , FLS[2M]",
       0,
       0x2782,
       {"-----------> Target is JIG", "-----------> Target SST FLASH-2M."}},
      {"CODE",
       0x11,
       0x23,
       0x4A,
       " , FLS[1M]",
       0,
       0x234A,
       {"-----------> Target 1M Flash.", "-----------> Target SST FLASH-2M (39VF1602 Bottom)."}},
      {"CODE",
       0x41,
       0x27,
       0x81,
       " , FLS[4M]",
       4,
       0x2781,
       {"-----------> Target 4M Flash.", "-----------> Target SST FLASH-1M."}},
      {"CODE",
       0x81,
       0x22,
       0xC4,
       " , FLS[8M]",
       8,
       0x22C4,
       {"-----------> Target 8M Flash.", "-----------> Target AMD/ST FLASH(TOP)."}},
      {"CODE",
       0x00,
       0x22,
       0x49,
       "",
       0,
       0x2249,
       {"-----------> Target Default 1M Flash.", "-----------> Target AMD/ST FLASH(BOTTOM)."}},
      {"CODE",
       0x21,
       0x22,
       0xDE,
       " , FLS[2M]",
       1,
       0x22DE,
       {"-----------> Target 2M Flash.", "-----------> Target ST/INTEL 8M FLASH."}},
      {"CODE",
       0x12,
       0x00,
       0x16,
       "",
       0,
       0x0016,
       {"-----------> Target Default 1M Flash.", "-----------> Target ST/INTEL 4M FLASH."}},
      {"CODE",
       0x41,
       0x22,
       0x4A,
       " , FLS[4M]",
       4,
       0,
       {"-----------> Target 4M Flash.", "-----------> Target UNKNOWN FLASH INFO."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " " + std::to_string(c.size) + " " + std::to_string(c.maker));
    EngineHarness h;
    h.SetType(c.type);
    h.view.SetLabel3("L 217, u-C[0]", colours::kBlue);
    h.engine.State().TargetFlashSize = 2;
    h.engine.State().TargetFlashId = 0x1234;
    EXPECT_EQ(h.Feed(EngineHarness::FlashInfo(c.size, c.maker, c.device)), "");
    EXPECT_EQ(h.view.label3, "L 217, u-C[0]" + c.label3_suffix);
    EXPECT_EQ(h.engine.State().TargetFlashSize, c.flash_size);
    EXPECT_EQ(h.engine.State().TargetFlashId, c.flash_id);
    EXPECT_EQ(h.view.memo, c.memo);
  }
}

TEST_F(EngineTest, FlashReportKeepsLabel3Colour) {
  Line("REQUEST_L217");
  Feed(FlashInfo(0x21, 0x27, 0x82));
  EXPECT_EQ(view.label3, "L 217, u-C[0] , FLS[2M]");
  EXPECT_EQ(view.label3_colour, colours::kBlue);
}

TEST_F(EngineTest, StartBlockRuleFollowsTheFlashSize) {
  image.StartBlock = 16;
  engine.State().UploadStartBlock = 99;
  Feed(FlashInfo(0x41, 0, 0));
  EXPECT_EQ(engine.State().UploadStartBlock, 99u);
  Feed(FlashInfo(0x21, 0, 0));
  EXPECT_EQ(engine.State().UploadStartBlock, 16u);
}

TEST(SizeGuardTest, WarnsWhenACodeImageDoesNotFit) {
  struct Case {
    std::string type;
    std::int32_t loader;
    std::uint8_t flash_size;
    std::int32_t padded;
    int warning;  // 0 none, 1 the 1M block, 2 the 2M block
  };
  const Case cases[] = {
      {"CODE", kLoader5518, 0, 0xC0000, 0},  {"CODE", kLoader5518, 0, 0xF0000, 0},
      {"CODE", kLoader5518, 0, 0xBFC00, 1},  {"CODE", kLoader5518, 0, 0xF0400, 1},
      {"CODE", kLoader5518, 0, 0x100000, 1}, {"ZCODE", kLoader5518, 0, 0x100000, 0},
      {"CODE", kLoader2LL, 0, 0x100000, 0},  {"CODE", kLoader2LL, 1, 0x400, 0},
      {"CODE", kLoader5518, 1, 0x100000, 0}, {"CODE", kLoader5518, 1, 0xF0400, 0},
      {"CODE", kLoader5518, 1, 0x1C0000, 0}, {"CODE", kLoader5518, 1, 0x1C0400, 2},
      {"CODE", kLoader5518, 1, 0xF0000, 2},  {"CODE", kLoader5518, 1, 0xC0000, 2},
      {"LOADER", kLoader5518, 1, 0x400, 0},  {"CODE", kLoader5518, 4, 0x400, 0},
      {"CODE", kLoader5518, 8, 0x900000, 0},
  };
  const Lines block1 = {">> ========================================== ",
                        ">> !!!!!!!!!!!!! W A R N I N G !!!!!!!!!!!!!! ",
                        ">> ========================================== ",
                        ">> Target : 1M byte FLASH. ",
                        ">> You are trying to upgrade S/W for 2M FLASH.",
                        ">> Please use S/W for 1M FLASH and newest PC upgrade tool !!!",
                        ">> If not, your \"SET-TOP-BOX\" will be crashed.",
                        ">> ========================================== ",
                        ">> !!!!!!!!!!!!! W A R N I N G !!!!!!!!!!!!!! ",
                        ">> ========================================== "};
  Lines block2 = block1;
  block2[3] = ">> Target : 2M byte FLASH. ";
  block2[4] = ">> You are trying to upgrade S/W for 1M FLASH.";
  block2[5] = ">> Please use S/W for 2M FLASH, and newest PC upgrade tool !!!";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " flash " + std::to_string(c.flash_size) + " size " +
                 std::to_string(c.padded) + " loader " + std::to_string(c.loader));
    EngineHarness h;
    h.SetType(c.type);
    h.image.PaddedSize = c.padded;
    h.engine.State().LoaderKind = c.loader;
    h.engine.State().TargetFlashSize = c.flash_size;
    h.engine.State().SizeWarning = true;  // recomputed by every run
    h.engine.State().LoaderVersion = 0x217;
    h.Line("BL_FLASH_END");
    EXPECT_EQ(h.engine.State().SizeWarning, c.warning != 0);
    EXPECT_EQ(h.view.memo, c.warning == 0 ? Lines{} : c.warning == 1 ? block1 : block2);
  }
}

}  // namespace
}  // namespace stbup
