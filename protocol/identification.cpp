#include <cstdio>

#include "protocol/engine.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr std::uint32_t kSentenceLoaderVersion = 0x202;
constexpr std::uint32_t kOldLoaderVersion = 0x106;
constexpr std::uint32_t kUcBit = 0x100;
constexpr int kVersionFields = 10;
constexpr std::size_t kMaxRest = 200;
constexpr std::string_view kBannerRule = "//==================================================";

// Blanks and control characters, as the framework trims.
std::string_view Trim(std::string_view text) {
  const auto is_space = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// The ten comma-separated fields of "REQUEST_VERSION"; index 0 is field 1.
std::array<std::string_view, kVersionFields> SplitVersionFields(std::string_view argument) {
  std::array<std::string_view, kVersionFields> fields{};
  std::string_view rest = argument;
  for (int k = 0; k < kVersionFields - 1; ++k) {
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) break;
    fields[static_cast<std::size_t>(k)] = Trim(rest.substr(0, comma));
    rest = rest.substr(comma + 1, kMaxRest);
  }
  fields[kVersionFields - 1] = Trim(rest);
  return fields;
}

std::array<std::int32_t, 3> ReadTriple(std::string_view a, std::string_view b, std::string_view c) {
  return {static_cast<std::int32_t>(ReadHexField(a)), static_cast<std::int32_t>(ReadHexField(b)),
          static_cast<std::int32_t>(ReadHexField(c))};
}

}  // namespace

void Engine::FlashWriteError(const Message& message) {
  state_.FlashWriteFailed = true;  // the run can no longer end in a verified success
  std::string line = "FLASH_WRITE_ERROR";
  line.append(message.Argument);
  Memo(line);
  Memo(message.Argument);
  view_.SetLogo("FLASH Write error !", std::nullopt, std::nullopt);
}

void Engine::TargetInfoLine(const Message& message) {
  std::string line = ":>";
  line.append(message.Argument);
  Memo(line);
}

void Engine::LoaderSentence(const Message&) { state_.LoaderVersion = kSentenceLoaderVersion; }

// A 5518 loader without version digits.
void Engine::RequestMode(const Message&) {
  warnings_.clear();
  view_.Beep();
  state_.LoaderKind = kLoader5518;
  Memo("5518 detected..");
  view_.SetLogo("Connected !", std::nullopt, std::nullopt);
  timer_.Stop();
  label3_colour_ = colours::kBlue;
  if (state_.LoaderVersion == kSentenceLoaderVersion) {
    loader_label_ = "L 202";
    SetLabel3("L 202, u-C[0], FLS[1M]");
    Memo("-. Target loader version : 2.02");
  } else {
    state_.LoaderVersion = kOldLoaderVersion;
    loader_label_ = "L 106";
    SetLabel3("L 106, u-C[1], FLS[1M]");
    Memo("-. Target loader version : 1.06");
  }
  state_.TargetFlashSize = 0;
  SyncUploadStartBlock();
  Memo("Target 1M Flash.");
  SizeGuard();
  Reply(image_.TypeName == "LOADER" ? "BL___" : "PC___");
  BoxAnnounced();
}

void Engine::RequestV(const Message& message) {
  warnings_.clear();
  view_.Beep();
  Memo("5518 detected..");
  state_.LoaderKind = kLoader5518;
  AnnounceVersionedLoader(message);
}

void Engine::RequestL(const Message& message) {
  warnings_.clear();
  view_.Beep();
  state_.LoaderKind = kLoader2LL;
  Memo("2LL detected..");
  AnnounceVersionedLoader(message);
}

void Engine::AnnounceVersionedLoader(const Message& message) {
  view_.SetLogo("Connected !", std::nullopt, std::nullopt);
  state_.LoaderVersion = ReadHexField(message.Argument);
  label3_colour_ = colours::kBlue;
  std::string caption = "L ";
  caption.append(message.Argument);
  SetLabel3(caption);
  loader_label_ = caption;
  timer_.Stop();
  // The caption shows three version characters, the version all four.
  state_.LoaderVersion = ReadHexField(message.VersionDigits);
  char line[64];
  std::snprintf(line, sizeof line, "-. Target loader version :L %4.4X", state_.LoaderVersion);
  Memo(line);
  AppendLabel3((state_.LoaderVersion & kUcBit) != 0 ? ", u-C[1]" : ", u-C[0]");
  BoxAnnounced();
}

void Engine::BoxAnnounced() {
  tally_ = {};
  Notify(RunEvent::kAnnounced);
}

void Engine::RequestVersion(const Message& message) {
  const auto fields = SplitVersionFields(message.Argument);
  TargetInfo& target = state_.TargetInfo;
  target.HardwareVersion = ReadTriple(fields[7], fields[8], fields[9]);
  target.SoftwareVersion = ReadTriple(fields[4], fields[5], fields[6]);
  target.ModelName = fields[3];

  const std::string box_hw = FormatVersionTriple(target.HardwareVersion);
  const std::string box_sw = FormatVersionTriple(target.SoftwareVersion);
  label3_colour_ = colours::kBlue;
  AppendLabel3(", " + target.ModelName + ", H/W(" + box_hw + ")" + ", S/W(" + box_sw + ")");

  Memo(kBannerRule);
  Memo("// FileInfo: " + image_.ModelName + ", H/W(" + FormatVersionTriple(image_.HardwareVersion) +
       ")" + ", S/W(" + FormatVersionTriple(image_.SoftwareVersion) + ")");
  Memo("// Target: " + view_.Label3Caption());
  Memo(kBannerRule);
  Progress(RunProgress::kIdentified);

  if (image_.TypeName == "DATABASE") return Accept();

  ModelCheck(image_.ModelName, target.ModelName);
  if (state_.CheckStatus != CheckVerdict::kSameFamily) {
    ModelFamilyCheck(image_.ModelName, target.ModelName);
  }
  if (state_.CheckStatus == CheckVerdict::kAcceptNow) return Accept();
  if (state_.CheckStatus == CheckVerdict::kRefuse) return Refuse();

  // A blank box is accepted without the remaining checks; field 4 is not tested.
  for (const int k : {0, 1, 2, 4, 5, 6, 7, 8, 9}) {
    if (fields[static_cast<std::size_t>(k)] != "ff") continue;
    Memo("The set-set-box eeprom/flash is blank!");
    std::string line = "The eeprom data:";
    line.append(message.Argument);
    Memo(line);
    if (!check_only_) Reply("ack");
    return Notify(RunEvent::kAccepted);
  }

  HardwareCheck(image_.HardwareVersion, target.HardwareVersion);
  if (state_.CheckStatus == CheckVerdict::kAcceptNow) return Accept();
  if (state_.CheckStatus == CheckVerdict::kRefuse) return Refuse();
  SoftwareCheck(image_.SoftwareVersion, target.SoftwareVersion);
  Accept();
}

void Engine::Accept() {
  const TargetInfo& target = state_.TargetInfo;
  Memo("-. STB Model   : " + image_.ModelName);
  Memo("-. STB H/W Ver : " + FormatVersionTriple(target.HardwareVersion));
  Memo("-. STB S/W Ver : " + FormatVersionTriple(target.SoftwareVersion));
  if (!check_only_) Reply("ack");
  Notify(RunEvent::kAccepted);
}

void Engine::Refuse() {
  Memo("Upgrade Fail");
  EndRun();
  Notify(RunEvent::kRefused);
}

}  // namespace stbup
