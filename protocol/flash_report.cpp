#include "protocol/engine.h"

namespace stbup {

namespace {

constexpr int kSizeByte = 4;
constexpr int kMakerByte = 5;
constexpr int kDeviceByte = 6;

struct FlashChip {
  std::uint8_t maker;
  std::uint8_t device;
  std::string_view line;
};

// Tested in this order.
constexpr FlashChip kFlashChips[] = {
    {0x27, 0x82, "-----------> Target SST FLASH-2M."},
    {0x23, 0x4B, "-----------> Target SST FLASH-2M (39VF1601 TOP)."},
    {0x23, 0x4A, "-----------> Target SST FLASH-2M (39VF1602 Bottom)."},
    {0x27, 0x81, "-----------> Target SST FLASH-1M."},
    {0x22, 0xC4, "-----------> Target AMD/ST FLASH(TOP)."},
    {0x22, 0x49, "-----------> Target AMD/ST FLASH(BOTTOM)."},
    {0x22, 0xDE, "-----------> Target ST/INTEL 8M FLASH."},
    {0x00, 0x16, "-----------> Target ST/INTEL 4M FLASH."},
};

constexpr std::string_view kRule = ">> ========================================== ";
constexpr std::string_view kWarning = ">> !!!!!!!!!!!!! W A R N I N G !!!!!!!!!!!!!! ";
constexpr std::string_view kCrashed = ">> If not, your \"SET-TOP-BOX\" will be crashed.";

}  // namespace

void Engine::BlFlashInfo(const Message&) {
  state_.CollectingFlashInfo = true;
  state_.FlashInfoCount = 0;
}

// "FLASH_INFO": bytes 4 to 6 of the record give the flash size and chip.
void Engine::FlashReport(const Message&) {
  std::array<std::uint8_t, ExchangeState::kFlashInfoSize> record{};
  std::copy_n(state_.DataBuffer.begin(), record.size(), record.begin());

  const auto set_size = [this](std::string_view suffix, std::uint8_t size, std::string_view line) {
    if (!suffix.empty()) AppendLabel3(suffix);
    state_.TargetFlashSize = size;
    SyncUploadStartBlock();
    Memo(line);
  };
  switch (record[kSizeByte]) {
    case 0x21:
      if (image_.TypeName == "JLOADER" || image_.TypeName == "JCODE") {
        set_size(" , FLS[2M]", 0, "-----------> Target is JIG");
      } else {
        set_size(" , FLS[2M]", 1, "-----------> Target 2M Flash.");
      }
      break;
    case 0x11:
      set_size(" , FLS[1M]", 0, "-----------> Target 1M Flash.");
      break;
    case 0x41:
      set_size(" , FLS[4M]", 4, "-----------> Target 4M Flash.");
      break;
    case 0x81:
      set_size(" , FLS[8M]", 8, "-----------> Target 8M Flash.");
      break;
    default:
      set_size({}, 0, "-----------> Target Default 1M Flash.");
      break;
  }

  for (const FlashChip& chip : kFlashChips) {
    if (record[kMakerByte] == chip.maker && record[kDeviceByte] == chip.device) {
      state_.TargetFlashId = chip.maker * 256 + chip.device;
      Memo(chip.line);
      return;
    }
  }
  state_.TargetFlashId = 0;
  Memo("-----------> Target UNKNOWN FLASH INFO.");
}

// Warns when a code image does not fit the box's flash; 2LL loaders are not
// guarded.
void Engine::SizeGuard() {
  state_.SizeWarning = false;
  if (state_.LoaderKind == kLoader2LL) return;
  const std::int32_t size = image_.PaddedSize;
  const std::uint8_t flash = state_.TargetFlashSize;
  if ((flash == 0 && size == 0xC0000) || (flash == 1 && size == 0x100000)) return;
  const bool code = image_.TypeName == "CODE";
  if (flash == 0 && (size < 0xC0000 || size > 0xF0000) && code) {
    state_.SizeWarning = true;
    // The target line says why; the block around it is what the window shows.
    constexpr std::string_view kTarget = ">> Target : 1M byte FLASH. ";
    Warn(kTarget,
         {kRule, kWarning, kRule, kTarget, ">> You are trying to upgrade S/W for 2M FLASH.",
          ">> Please use S/W for 1M FLASH and newest PC upgrade tool !!!", kCrashed, kRule,
          kWarning, kRule});
    return;
  }
  // A 2 Mbyte box takes every image above 1 Mbyte up to 0x1C0000.
  const bool fits_2m = size > 0xF0000 && size <= 0x1C0000;
  if (flash == 1 && code && !fits_2m) {
    state_.SizeWarning = true;
    // The target line says why; the block around it is what the window shows.
    constexpr std::string_view kTarget = ">> Target : 2M byte FLASH. ";
    Warn(kTarget,
         {kRule, kWarning, kRule, kTarget, ">> You are trying to upgrade S/W for 1M FLASH.",
          ">> Please use S/W for 2M FLASH, and newest PC upgrade tool !!!", kCrashed, kRule,
          kWarning, kRule});
  }
}

}  // namespace stbup
