#include <initializer_list>
#include <optional>

#include "protocol/engine.h"

namespace stbup {

namespace {

// What "BL_FLASH_END" leads to: a token, nothing, or the chip refusal.
struct TypeReply {
  std::optional<std::string_view> token;
  bool flash_not_permitted = false;
};

constexpr TypeReply Token(std::string_view token) { return {token, false}; }
constexpr TypeReply kNothing{};
constexpr TypeReply kNotPermitted{std::nullopt, true};

bool In(std::int32_t value, std::initializer_list<std::int32_t> set) {
  for (const std::int32_t member : set) {
    if (value == member) return true;
  }
  return false;
}

bool InChipSet1(std::int32_t id) { return In(id, {0x2782, 0x22C4, 0x2249}); }
bool InChipSet2(std::int32_t id) { return In(id, {0x2782, 0x22C4, 0x2249, 0x234A}); }
bool InChipSet3(std::int32_t id) { return In(id, {0x2782, 0x22C4, 0x2249, 0x234B, 0x234A}); }

bool InU(std::uint32_t value, std::initializer_list<std::uint32_t> set) {
  for (const std::uint32_t member : set) {
    if (value == member) return true;
  }
  return false;
}

// The whole decision of "BL_FLASH_END", rules tried top to bottom per type.
TypeReply ChooseFlashEndReply(std::string_view type, std::uint32_t version, std::int32_t flash) {
  const std::uint32_t low8 = version & 0xFF;
  const std::uint32_t low12 = version & 0xFFF;
  const std::uint32_t mid8 = version & 0xFF0;

  if (type == "LOADER") {
    if (low8 < 0x16) return Token("BL___");
    if (flash == 0x2782) return Token("LD___");
    return kNothing;
  }
  if (type == "LOADER128K") {
    if (low8 < 0x16) return Token("BL128");
    if (flash != 0x2782) return kNothing;
    if (low8 <= 0x17) return Token("LD128");
    if (InU(low8, {0x18, 0x28, 0x38})) return Token("NL128");
    return kNothing;
  }
  if (type == "LOADER256K") {
    if (flash != 0x2782) return kNothing;
    if (low12 == 0x217) return Token("BL256");
    if (InU(low12, {0x817, 0x717, 0x617, 0x517})) return Token("NL256");
    if (low8 <= 0x17) return Token("BL256");
    if (low8 == 0x18) return Token("NL256");
    return kNothing;
  }
  if (type == "S-LOADER") {
    if (low12 == 0x100) return Token("LD___");
    if (version == 0x200) return Token("XXLOD");
    if (low8 < 0x16) return Token("BL___");
    if (low8 == 0x16) return Token("LD___");
    if (InU(low8, {0x18, 0x19}) && InChipSet1(flash)) return Token("LD___");
    return Token("NONE");
  }
  if (type == "S-LOADER128K") {
    if (low8 < 0x16) return Token("BL128");
    if (low8 == 0x16) return Token("LD128");
    if (low8 == 0x17) return Token("NL128");
    if (low8 == 0x19 && flash == 0x22DE) return Token("BL128");
    if (InU(low8, {0x28, 0x38}) && InChipSet1(flash)) return Token("NL128");
    if (InU(low8, {0x18, 0x19}) && InChipSet3(flash)) return Token("NL128");
    if (low12 == 0x829 && InChipSet3(flash)) return Token("NL128");
    return Token("NONE");
  }
  if (type == "NA_LOADER128K") {
    if (!InChipSet1(flash)) return kNotPermitted;
    if (low8 <= 0x14) return Token("BL128");
    if (InU(low12, {0x217, 0x817, 0x829, 0x858, 0x717, 0x617, 0x517})) return Token("NL128");
    if (low8 < 0x17) return Token("LD128");
    if (InU(low8, {0x18, 0x28, 0x38})) return Token("NL128");
    return Token("NONE");
  }
  if (type == "NA_LOADER256K") {
    if (!InChipSet1(flash)) return kNotPermitted;
    if (low8 <= 0x14) return Token("BL256");
    if (InU(low12, {0x217, 0x817, 0x858, 0x717, 0x617, 0x517})) return Token("NL256");
    if (low8 < 0x17) return Token("LD256");
    if (InU(low8, {0x18, 0x28, 0x38})) return Token("NL256");
    return Token("NONE");
  }
  if (type == "SS_LOADER") {
    if (!InChipSet2(flash)) return kNotPermitted;
    if (mid8 == 0x190) return Token("2L___");
    if (low8 <= 0x14) return Token("BL___");
    if (low8 < 0x17) return Token("LD___");
    if (low8 <= 0x19) return Token("NL___");
    if (low12 < 0x193) return Token("NL___");
    return Token("NONE");
  }
  if (type == "SS_LOADER128K") {
    if (!InChipSet2(flash)) return kNotPermitted;
    if (InU(low12, {0x192, 0x193, 0x194})) return Token("NL128");
    if (low8 <= 0x19) return Token("NL128");
    return Token("NONE");
  }
  if (type == "SS_LOADER256K") {
    if (!InChipSet2(flash)) return kNotPermitted;
    if (mid8 == 0x190) return Token("2L256");
    if (low8 <= 0x14) return Token("NONE");
    if (low8 < 0x17) return Token("LD256");
    if (low8 <= 0x19) return Token("NL256");
    if (low12 < 0x193) return Token("NL256");
    return Token("NONE");
  }
  if (type == "NA_DATABASE") return Token("NADAT");
  if (type == "ATSKY") return Token("ATSKY");
  if (type == "JLOADER") return Token("JIGLD");
  if (type == "JCODE") return Token("JIGCD");
  if (mid8 == 0x290) return kNothing;
  if (type == "ZCODE") return Token("UPZIP");
  if (type == "DATABASE" || type == "CODE") return Token("PC___");
  return Token("NONE");
}

}  // namespace

// Only 2LL loaders ask this way; a 5518 loader needs a newer tool.
void Engine::BlInfoEnd(const Message&) {
  if (state_.LoaderKind != kLoader2LL) {
    view_.ShowMessage("Need higher up tool !");
    return;
  }
  const std::string& type = image_.TypeName;
  if (type == "SS_LOADER256K") {
    Reply("2L256");
  } else if (type == "NA_LOADER256K") {
    Reply("NL256");
  } else if (type == "CODE") {
    Reply(state_.LoaderVersion == 0x1022 ? " =@ %" : "PC___");
  } else {
    Reply("NONE");
  }
}

void Engine::BlFlashEnd(const Message&) {
  SizeGuard();
  timer_.Stop();
  const TypeReply reply =
      ChooseFlashEndReply(image_.TypeName, state_.LoaderVersion, state_.TargetFlashId);
  if (reply.flash_not_permitted) {
    Memo("target flash not permitted !!!");
  } else if (reply.token) {
    Reply(*reply.token);
  }
}

}  // namespace stbup
