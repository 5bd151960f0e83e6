#include <cstddef>
#include <span>

#include "protocol/engine.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr char kScrambleMask = 0x02;
constexpr std::size_t kMaxModelLength = 15;

// A model name as the tool stores it: every character XOR 0x02, so the family
// tables are not readable in the binary. Scrambled at compile time.
struct ScrambledModel {
  char bytes[kMaxModelLength + 1]{};
  std::size_t length = 0;

  consteval ScrambledModel(const char* name) {
    while (name[length] != '\0') {
      bytes[length] = static_cast<char>(name[length] ^ kScrambleMask);
      ++length;
    }
  }
  // Whether text equals the unscrambled entry.
  bool Equals(std::string_view text) const {
    if (text.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (static_cast<char>(bytes[i] ^ kScrambleMask) != text[i]) return false;
    }
    return true;
  }
};

struct FamilyTable {
  std::span<const ScrambledModel> models;
  char suffix;  // 0: none
};

constexpr ScrambledModel kFamily1[] = {"KT-5518A", "KT-5518B"};
constexpr ScrambledModel kFamily2[] = {"ST-210", "ST-220", "ST-230", "ST-240", "ST-250", "ST-260"};
constexpr ScrambledModel kFamily3[] = {"CT-310", "CT-320", "CT-330"};
constexpr ScrambledModel kFamily4[] = {"TT-410"};

// Equal to an entry, or an entry followed by the table's suffix letter.
bool Matches(const FamilyTable& table, std::string_view model) {
  for (const ScrambledModel& entry : table.models) {
    if (entry.Equals(model)) return true;
    if (table.suffix != 0 && !model.empty() && model.back() == table.suffix &&
        entry.Equals(model.substr(0, model.size() - 1))) {
      return true;
    }
  }
  return false;
}

constexpr std::string_view kWarningRule = "==================== WARNING ======================";

}  // namespace

void Engine::ModelCheck(std::string_view image_model, std::string_view box_model) {
  state_.CheckStatus = CheckVerdict::kGoOn;
  if (image_model == box_model) return;
  const FamilyTable first{kFamily1, 0};
  if (Matches(first, image_model) && Matches(first, box_model)) {
    state_.CheckStatus = CheckVerdict::kSameFamily;
  }
}

void Engine::ModelFamilyCheck(std::string_view image_model, std::string_view box_model) {
  state_.CheckStatus = CheckVerdict::kGoOn;
  if (image_model == box_model) return;
  const FamilyTable tables[] = {{kFamily2, 'S'}, {kFamily3, 'S'}, {kFamily4, 'Z'}};
  for (const FamilyTable& table : tables) {
    if (Matches(table, image_model) && Matches(table, box_model)) return;
  }
  std::string line = "> check my model ";
  line.append(box_model).append(" != ").append(image_model);
  Warn(line, {line});
  if (image_.ModelCheckWaived == 0) state_.CheckStatus = CheckVerdict::kRefuse;
}

void Engine::HardwareCheck(const std::array<std::int32_t, 3>& image_hw,
                           const std::array<std::int32_t, 3>& box_hw) {
  const std::int32_t t0 = box_hw[0], t1 = box_hw[1], t2 = box_hw[2];
  const std::int32_t i0 = image_hw[0], i1 = image_hw[1], i2 = image_hw[2];

  if (t0 == 1 || t0 == 2) {
    Memo("The set-set-box version indication is old!");
    if ((state_.TargetFlashSize == 0 && image_.PaddedSize == 0xC0000) ||
        (state_.TargetFlashSize == 1 && image_.PaddedSize == 0x100000)) {
      Memo("Start to upgrade without comparing!");
      Memo("==================================");
      Memo("");
      state_.CheckStatus = CheckVerdict::kAcceptNow;
      return;
    }
    SizeGuard();
    if (state_.SizeWarning) {
      state_.CheckStatus = CheckVerdict::kRefuse;
      return;
    }
  }
  if (image_.HardwareCheckWaived != 0) {
    state_.CheckStatus = CheckVerdict::kAcceptNow;
    return;
  }
  if (t0 == i0 && t1 == i1 && t2 == i2) {
    state_.CheckStatus = CheckVerdict::kGoOn;
    return;
  }
  Memo("Hardware Version Mismatch");

  if ((t0 & 0xFE) == (i0 & 0xFE) && t1 == i1 && (t2 & 0x08) == (i2 & 0x08)) {
    // Tolerable: back-end generation and SDRAM size may differ one way.
    if ((t2 & 0xC0) < (i2 & 0xC0)) {
      Memo(kWarningRule);
      Memo("__New software BACKEND control is not same.");
      Memo("__Anyway, STB will working !!!");
      Memo(kWarningRule);
    }
    if ((t2 & 0xC0) > (i2 & 0xC0)) {
      if ((t2 & 0x3F) == (i2 & 0x3F) && (t2 & 0x08) != 0) {
        Memo("__HW Version mistake.");
      } else {
        Memo("__New software BACKEND control is not same.");
        Memo("__You should not upgrade !");
        state_.CheckStatus = CheckVerdict::kRefuse;
        return;
      }
    }
    if ((t0 & 0x01) == 0 && (i0 & 0x01) == 1) {
      Memo("__You got 8M SDRAM, you cannot upgrade 16M S/W.");
      state_.CheckStatus = CheckVerdict::kRefuse;
      return;
    }
    if ((t0 & 0x01) == 1 && (i0 & 0x01) == 0) {
      Memo(kWarningRule);
      Memo("__You got 16M SDRAM, but 8M SDRAM S/W is upgrading.");
      Memo("__Anyway, STB will working !!!");
      Memo(kWarningRule);
    }
    state_.CheckStatus = CheckVerdict::kGoOn;
    return;
  }

  // The boards differ: one line per differing field.
  if ((t0 & 0xF0) != (i0 & 0xF0)) Memo(" Your DVB-S/T/C is not same !");
  if ((t1 & 0xC0) != (i1 & 0xC0)) Memo(" MICOM Type mismatch !");
  if ((t1 & 0x30) != (i1 & 0x30)) Memo(" TUNER Type mismatch !");
  if ((t1 & 0x0F) != (i1 & 0x0F)) Memo(" CI/CAS Type mismatch !");
  if ((t0 & 0x08) != (i0 & 0x08)) Memo(" HDD Type mismatch !");
  if ((t0 & 0x04) != (i0 & 0x04)) {
    Memo((t0 & 0x04) == 0 ? " You got 5518-B parallel, cannot upgrade 5518-D serial."
                          : " You got 5518-D serial, cannot upgrade 5518-B parallel.");
  }
  state_.CheckStatus = CheckVerdict::kRefuse;
}

// Only warns: a downgrade is never refused.
void Engine::SoftwareCheck(const std::array<std::int32_t, 3>& image_sw,
                           const std::array<std::int32_t, 3>& box_sw) {
  // Wrapping 32-bit arithmetic: the box's fields may hold any hexadecimal value.
  const auto combine = [](const std::array<std::int32_t, 3>& v) {
    const std::uint32_t value = static_cast<std::uint32_t>(v[0]) * 65536u +
                                static_cast<std::uint32_t>(v[1]) * 256u +
                                static_cast<std::uint32_t>(v[2]);
    return static_cast<std::int32_t>(value);
  };
  if (combine(image_sw) < combine(box_sw)) {
    Memo(FormatVersionTriple(box_sw) + ": Software Version is High");
  }
}

}  // namespace stbup
