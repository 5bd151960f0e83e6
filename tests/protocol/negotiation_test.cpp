#include "tests/protocol/engine_fixture.h"

namespace stbup {
namespace {

constexpr const char* kNotPermitted = "!";  // "target flash not permitted !!!" and no token

struct FlashEndCase {
  std::string type;
  std::uint32_t version;
  std::int32_t flash;
  std::string reply;  // "" nothing, kNotPermitted the chip refusal
};

// Each type's rules in order, with the gates and the gaps.
const FlashEndCase kFlashEndCases[] = {
    {"CODE", 0x0217, 0x2782, "PC___"},
    {"CODE", 0x0295, 0x2782, ""},  // mid8 0x290: nothing
    {"DATABASE", 0x0217, 0, "PC___"},
    {"ZCODE", 0x0217, 0, "UPZIP"},
    {"ZCODE", 0x1290, 0, ""},
    {"TDBASE", 0x0217, 0, "NONE"},
    {"NONE", 0x0217, 0, "NONE"},
    {"NA_DATABASE", 0x0290, 0, "NADAT"},
    {"ATSKY", 0, 0, "ATSKY"},
    {"JLOADER", 0, 0, "JIGLD"},
    {"JCODE", 0, 0, "JIGCD"},
    {"LOADER", 0x0015, 0, "BL___"},
    {"LOADER", 0x0016, 0x2782, "LD___"},
    {"LOADER", 0x0016, 0x22C4, ""},
    {"LOADER128K", 0x0115, 0, "BL128"},
    {"LOADER128K", 0x0016, 0x22C4, ""},
    {"LOADER128K", 0x0017, 0x2782, "LD128"},
    {"LOADER128K", 0x0028, 0x2782, "NL128"},
    {"LOADER128K", 0x0019, 0x2782, ""},
    {"LOADER256K", 0x0217, 0x2782, "BL256"},
    {"LOADER256K", 0x0817, 0x2782, "NL256"},
    {"LOADER256K", 0x0517, 0x2782, "NL256"},
    {"LOADER256K", 0x0016, 0x2782, "BL256"},
    {"LOADER256K", 0x0018, 0x2782, "NL256"},
    {"LOADER256K", 0x0019, 0x2782, ""},
    {"LOADER256K", 0x0217, 0x22C4, ""},
    {"S-LOADER", 0x0200, 0, "XXLOD"},
    {"S-LOADER", 0x0100, 0, "LD___"},
    {"S-LOADER", 0x1200, 0, "BL___"},  // not the whole 0x200
    {"S-LOADER", 0x0016, 0, "LD___"},
    {"S-LOADER", 0x0018, 0x234B, "NONE"},
    {"S-LOADER", 0x0019, 0x2249, "LD___"},
    {"S-LOADER128K", 0x0015, 0, "BL128"},
    {"S-LOADER128K", 0x0016, 0, "LD128"},
    {"S-LOADER128K", 0x0017, 0, "NL128"},
    {"S-LOADER128K", 0x0019, 0x22DE, "BL128"},
    {"S-LOADER128K", 0x0028, 0x22C4, "NL128"},
    {"S-LOADER128K", 0x0028, 0x234B, "NONE"},
    {"S-LOADER128K", 0x0018, 0x234B, "NL128"},
    {"S-LOADER128K", 0x0829, 0x234A, "NL128"},
    {"S-LOADER128K", 0x0829, 0x22DE, "NONE"},
    {"NA_LOADER128K", 0x0014, 0x22DE, kNotPermitted},
    {"NA_LOADER128K", 0x0014, 0x2249, "BL128"},
    {"NA_LOADER128K", 0x0858, 0x2249, "NL128"},
    {"NA_LOADER128K", 0x0016, 0x2249, "LD128"},
    {"NA_LOADER128K", 0x0038, 0x2249, "NL128"},
    {"NA_LOADER128K", 0x0017, 0x2249, "NONE"},
    {"NA_LOADER256K", 0x0829, 0x2782, "NONE"},
    {"NA_LOADER256K", 0x0217, 0x2782, "NL256"},
    {"NA_LOADER256K", 0x0015, 0x2782, "LD256"},
    {"NA_LOADER256K", 0x0000, 0x234A, kNotPermitted},
    {"SS_LOADER", 0x0195, 0x2782, "2L___"},
    {"SS_LOADER", 0x0014, 0x2782, "BL___"},
    {"SS_LOADER", 0x0016, 0x2782, "LD___"},
    {"SS_LOADER", 0x0019, 0x2782, "NL___"},
    {"SS_LOADER", 0x011A, 0x2782, "NL___"},
    {"SS_LOADER", 0x01A0, 0x2782, "NONE"},
    {"SS_LOADER", 0x0016, 0x234B, kNotPermitted},
    {"SS_LOADER128K", 0x0019, 0x234A, "NL128"},
    {"SS_LOADER128K", 0x0194, 0x234A, "NL128"},
    {"SS_LOADER128K", 0x001A, 0x234A, "NONE"},
    {"SS_LOADER128K", 0x0019, 0x234B, kNotPermitted},
    {"SS_LOADER256K", 0x0190, 0x22C4, "2L256"},
    {"SS_LOADER256K", 0x0014, 0x22C4, "NONE"},
    {"SS_LOADER256K", 0x0016, 0x22C4, "LD256"},
    {"SS_LOADER256K", 0x0018, 0x22C4, "NL256"},
    {"SS_LOADER256K", 0x0192, 0x22C4, "2L256"},
    {"SS_LOADER256K", 0x011A, 0x22C4, "NL256"},
    {"SS_LOADER256K", 0x01A0, 0x22C4, "NONE"},
    {"SS_LOADER256K", 0x0016, 0, kNotPermitted},
};

TEST(NegotiationTest, FlashEndReplyByTypeVersionAndChip) {
  for (const FlashEndCase& c : kFlashEndCases) {
    SCOPED_TRACE(c.type + " version " + std::to_string(c.version) + " flash " +
                 std::to_string(c.flash));
    EngineHarness h;
    h.SetType(c.type);
    h.engine.State().LoaderVersion = c.version;
    h.engine.State().TargetFlashId = c.flash;
    h.timer.Start(100);
    const std::string wire = h.Line("BL_FLASH_END");
    EXPECT_EQ(h.timer.interval, 0);
    if (c.reply == kNotPermitted) {
      EXPECT_EQ(wire, "");
      EXPECT_EQ(h.view.memo, Lines{"target flash not permitted !!!"});
    } else {
      EXPECT_EQ(wire, c.reply);
      EXPECT_EQ(h.view.memo, Lines{});
      // Each token is one write, unterminated.
      EXPECT_EQ(h.link.writes.size(), c.reply.empty() ? 0u : 1u);
    }
  }
}

TEST_F(EngineTest, FlashEndWarnsButStillAnswers) {
  image.PaddedSize = 0x100000;
  engine.State().LoaderVersion = 0x217;
  EXPECT_EQ(Line("BL_FLASH_END"), "PC___");
  EXPECT_TRUE(engine.State().SizeWarning);
  EXPECT_EQ(NewMemo().size(), 10u);
}

TEST(NegotiationTest, InfoEndFromA2llLoader) {
  struct Case {
    std::string type;
    std::uint32_t version;
    std::string reply;
  };
  const Case cases[] = {
      {"CODE", 0x1022, " =@ %"},     {"CODE", 0x1021, "PC___"},     {"ZCODE", 0x1022, "NONE"},
      {"SS_LOADER256K", 0, "2L256"}, {"NA_LOADER256K", 0, "NL256"}, {"SS_LOADER", 0x1022, "NONE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EngineHarness h;
    h.SetType(c.type);
    h.engine.State().LoaderKind = kLoader2LL;
    h.engine.State().LoaderVersion = c.version;
    h.engine.State().TargetFlashId = 0;  // not gated here
    EXPECT_EQ(h.Line("BL_INFO_END"), c.reply);
    EXPECT_TRUE(h.view.messages.empty());
  }
}

TEST_F(EngineTest, InfoEndFromA5518LoaderNeedsANewerTool) {
  engine.State().LoaderKind = kLoader5518;
  EXPECT_EQ(Line("BL_INFO_END"), "");
  EXPECT_EQ(view.messages, std::vector<std::string>{"Need higher up tool !"});
  EXPECT_EQ(NewMemo(), Lines{});
}

}  // namespace
}  // namespace stbup
