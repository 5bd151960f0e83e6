#include <cstdio>

#include "tests/protocol/engine_fixture.h"

namespace stbup {
namespace {

using Triple = std::array<std::int32_t, 3>;

// Runs "REQUEST_VERSION" for a box with the given model and versions.
struct Verdict {
  bool acked;
  Lines check_lines;  // memo lines between the banner and the verdict lines
};

Verdict Identify(EngineHarness& h, std::string_view box_model, Triple box_hw,
                 Triple box_sw = {0, 0, 0}) {
  const auto hex = [](std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, ",%X", static_cast<unsigned>(value));
    return std::string(text);
  };
  std::string line = "REQUEST_VERSION:0,0,0," + std::string(box_model);
  for (const std::int32_t value : box_sw) line += hex(value);
  for (const std::int32_t value : box_hw) line += hex(value);
  const bool acked = h.Line(line) == "ack";
  Lines memo(h.view.memo.begin() + 4, h.view.memo.end());  // after the banner
  if (acked && memo.size() >= 3 && memo[memo.size() - 3].starts_with("-. STB Model")) {
    memo.resize(memo.size() - 3);
  }
  if (!acked && !memo.empty() && memo.back() == "Upgrade Fail") memo.pop_back();
  return {acked, memo};
}

TEST(ModelChecksTest, ModelAndFamilyTables) {
  struct Case {
    std::string image_model, box_model;
    bool waived;
    bool acked;
    Lines lines;
  };
  const Case cases[] = {
      {"ST-210", "ST-210", false, true, {}},
      {"KT-5518A", "KT-5518B", false, true, {}},  // first table: same family
      {"KT-5518A", "KT-5518AS", false, false, {"> check my model KT-5518AS != KT-5518A"}},
      {"ST-210", "ST-260S", false, true, {}},
      {"ST-210S", "ST-230", false, true, {}},
      {"CT-310", "CT-330S", false, true, {}},
      {"TT-410", "TT-410Z", false, true, {}},
      {"TT-410", "TT-410S", false, false, {"> check my model TT-410S != TT-410"}},
      {"ST-210", "CT-310", false, false, {"> check my model CT-310 != ST-210"}},
      {"ST-210", "ST-210SS", false, false, {"> check my model ST-210SS != ST-210"}},
      {"ST-210", "st-210", false, false, {"> check my model st-210 != ST-210"}},
      {"ST-210", "XY-1", true, true, {"> check my model XY-1 != ST-210"}},
      {"", "", false, true, {}},
      {"ST-210", "", false, false, {"> check my model  != ST-210"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image_model + " / " + c.box_model);
    EngineHarness h;
    h.image.ModelName = c.image_model;
    h.image.HardwareVersion = {0x20, 0, 0};
    h.image.ModelCheckWaived = c.waived ? 1 : 0;
    const Verdict verdict = Identify(h, c.box_model, {0x20, 0, 0});
    EXPECT_EQ(verdict.acked, c.acked);
    EXPECT_EQ(verdict.check_lines, c.lines);
  }
}

TEST(HardwareCheckTest, RefusalsToleranceAndOldIndication) {
  const Lines warning16m = {"==================== WARNING ======================",
                            "__You got 16M SDRAM, but 8M SDRAM S/W is upgrading.",
                            "__Anyway, STB will working !!!",
                            "==================== WARNING ======================"};
  const Lines backend_warning = {"==================== WARNING ======================",
                                 "__New software BACKEND control is not same.",
                                 "__Anyway, STB will working !!!",
                                 "==================== WARNING ======================"};
  auto with = [](Lines head, const Lines& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const std::string mismatch = "Hardware Version Mismatch";
  struct Case {
    std::string name;
    Triple image_hw, box_hw;
    bool acked;
    Lines lines;
  };
  const Case cases[] = {
      {"Equal", {0x20, 0x11, 0x05}, {0x20, 0x11, 0x05}, true, {}},
      {"Box16MImage8M", {0x20, 0, 0}, {0x21, 0, 0}, true, with({mismatch}, warning16m)},
      {"Box8MImage16M",
       {0x21, 0, 0},
       {0x20, 0, 0},
       false,
       {mismatch, "__You got 8M SDRAM, you cannot upgrade 16M S/W."}},
      {"OlderBackend", {0x20, 0, 0x40}, {0x20, 0, 0x00}, true, with({mismatch}, backend_warning)},
      {"NewerBackendRefused",
       {0x20, 0, 0x01},
       {0x20, 0, 0x42},
       false,
       {mismatch, "__New software BACKEND control is not same.", "__You should not upgrade !"}},
      {"NewerBackendHwMistake",
       {0x20, 0, 0x09},
       {0x20, 0, 0x49},
       true,
       {mismatch, "__HW Version mistake."}},
      {"HwMistakeThen8M",
       {0x21, 0, 0x09},
       {0x20, 0, 0x49},
       false,
       {mismatch, "__HW Version mistake.", "__You got 8M SDRAM, you cannot upgrade 16M S/W."}},
      {"OlderBackendAnd16M",
       {0x20, 0, 0x40},
       {0x21, 0, 0x00},
       true,
       with(with({mismatch}, backend_warning), warning16m)},
      {"Micom", {0x20, 0x00, 0}, {0x20, 0x40, 0}, false, {mismatch, " MICOM Type mismatch !"}},
      {"Tuner", {0x20, 0x00, 0}, {0x20, 0x10, 0}, false, {mismatch, " TUNER Type mismatch !"}},
      {"CiCas", {0x20, 0x00, 0}, {0x20, 0x03, 0}, false, {mismatch, " CI/CAS Type mismatch !"}},
      {"Hdd", {0x20, 0, 0}, {0x28, 0, 0}, false, {mismatch, " HDD Type mismatch !"}},
      {"Dvb", {0x20, 0, 0}, {0x30, 0, 0}, false, {mismatch, " Your DVB-S/T/C is not same !"}},
      {"Serial",
       {0x20, 0, 0},
       {0x24, 0, 0},
       false,
       {mismatch, " You got 5518-D serial, cannot upgrade 5518-B parallel."}},
      {"Parallel",
       {0x24, 0, 0},
       {0x20, 0, 0},
       false,
       {mismatch, " You got 5518-B parallel, cannot upgrade 5518-D serial."}},
      {"AllAtOnce",
       {0x20, 0x00, 0},
       {0xDC, 0xFF, 0},
       false,
       {mismatch, " Your DVB-S/T/C is not same !", " MICOM Type mismatch !",
        " TUNER Type mismatch !", " CI/CAS Type mismatch !", " HDD Type mismatch !",
        " You got 5518-D serial, cannot upgrade 5518-B parallel."}},
      {"OnlyBit02OfByte0", {0x20, 0, 0}, {0x22, 0, 0}, false, {mismatch}},
      {"OnlyBit08OfByte2", {0x20, 0, 0}, {0x20, 0, 0x08}, false, {mismatch}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineHarness h;
    h.image.HardwareVersion = c.image_hw;
    const Verdict verdict = Identify(h, h.image.ModelName, c.box_hw);
    EXPECT_EQ(verdict.acked, c.acked);
    EXPECT_EQ(verdict.check_lines, c.lines);
  }
}

TEST(HardwareCheckTest, OldIndicationAndWaiver) {
  struct Case {
    std::string name;
    std::int32_t box_byte0;
    std::uint8_t flash_size;
    std::int32_t padded;
    bool waived;
    bool acked;
    Lines lines;
  };
  const std::string old = "The set-set-box version indication is old!";
  const Lines without = {old, "Start to upgrade without comparing!",
                         "==================================", ""};
  const Case cases[] = {
      {"Old1MExact", 1, 0, 0xC0000, false, true, without},
      {"Old2MExact", 2, 1, 0x100000, false, true, without},
      // The size guard refuses before any comparison.
      {"Old1MTooBig", 1, 0, 0x100000, false, false, {old}},
      // No warning: go on comparing with the image's 0x20.
      {"Old1MInRange",
       1,
       0,
       0xD0000,
       false,
       false,
       {old, "Hardware Version Mismatch", " Your DVB-S/T/C is not same !"}},
      {"OldWaived", 2, 0, 0xD0000, true, true, {old}},
      {"WaivedAcceptsAnyBoard", 0x9F, 0, 0xC0000, true, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineHarness h;
    h.image.HardwareVersion = {0x20, 0, 0};
    h.image.PaddedSize = c.padded;
    h.image.HardwareCheckWaived = c.waived ? 1 : 0;
    h.engine.State().TargetFlashSize = c.flash_size;
    const Verdict verdict = Identify(h, h.image.ModelName, {c.box_byte0, 0, 0});
    EXPECT_EQ(verdict.acked, c.acked);
    Lines lines = verdict.check_lines;
    if (c.name == "Old1MTooBig") {
      ASSERT_EQ(lines.size(), 11u);  // the line, then the ten-line warning
      lines.resize(1);
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(SoftwareCheckTest, NewerBoxSoftwareOnlyWarns) {
  struct Case {
    Triple image_sw, box_sw;
    Lines lines;
  };
  const Case cases[] = {
      {{1, 2, 3}, {1, 2, 4}, {"01.02.04: Software Version is High"}},
      {{1, 2, 3}, {1, 2, 3}, {}},
      {{2, 0, 0}, {1, 0xFF, 0xFF}, {}},
      {{0, 0, 0}, {0, 0x100, 0}, {"00.100.00: Software Version is High"}},
  };
  for (const Case& c : cases) {
    EngineHarness h;
    h.image.SoftwareVersion = c.image_sw;
    h.image.HardwareVersion = {0x20, 0, 0};
    const Verdict verdict = Identify(h, h.image.ModelName, {0x20, 0, 0}, c.box_sw);
    EXPECT_TRUE(verdict.acked);
    EXPECT_EQ(verdict.check_lines, c.lines);
  }
}

}  // namespace
}  // namespace stbup
