#include <algorithm>

#include "protocol/engine.h"
#include "seams/errors.h"

namespace stbup {

void Engine::RequestTotalCrc(const Message&) {
  if (WholeRegionDownloaded()) state_.TotalChecksumAnswered = true;
  const char sum = static_cast<char>(state_.TotalChecksum);
  Reply(std::string_view(&sum, 1));
}

void Engine::DownSuccess(const Message&) {
  view_.SetProgress(ProgressBar::kPb1, 100);
  Memo("DownLoad Success");
}

void Engine::ResponseDownloadFail(const Message&) {
  Memo("DownLoad Failed");
  state_.DownloadFailed = true;
}

void Engine::RamCrcSuccess(const Message&) {
  Memo("DownLoad CRC Check OK");
  state_.SourceStream.Close();
  if (image_.TypeName == "ZCODE") {
    view_.SetLogo("UnCompressing...", colours::kWhite, colours::kBlue);
    Memo(">> Wait a moment..., target un-compressing...");
  }
}

// The box's figure of blocks to write becomes the divisor of pb2.
void Engine::SendDecodeSize(const Message& message) {
  std::string line = "D.Cod block size :";
  line.append(message.Argument);
  Memo(line);
  try {
    image_.BlockCount = StrToInt(message.Argument);
  } catch (const EConvertError&) {
    image_.BlockCount = 0;
  }
}

void Engine::FlashWrite(const Message&) {
  state_.ProgressCounter = 0;
  Memo("Flash Write Start");
  view_.SetLogo("FLASH writing...!", std::nullopt, colours::kRed);
  Progress(RunProgress::kFlashWriting);
}

// One step is 4096 bytes, four 1024-byte units; the bar shows the share
// written before it.
void Engine::FlashWrite4096(const Message&) {
  // However many steps the box reports, the bar stays within 0 to 100.
  if (image_.BlockCount > 0) {
    const double percent = std::clamp(state_.ProgressCounter / image_.BlockCount * 100, 0.0, 100.0);
    view_.SetProgress(ProgressBar::kPb2, static_cast<int>(RoundHalfEven(percent)));
  }
  state_.ProgressCounter += 4;
}

void Engine::FlashCrcSuccess(const Message&) {
  state_.FlashCheckPassed = true;
  Memo("Flash CRC Check OK");
  view_.SetLogo("Upgrade End!", colours::kWhite, colours::kBlue);
}

void Engine::BadFlashCrc(const Message&) {
  state_.FlashCrcBad = true;
  Memo("Flash CRC Check BAD !!!");
  Memo("Please check target.");
}

void Engine::LogPortOff(const std::string& device) {
  Memo("");
  Memo(device + " Off !!! (\"Enter\" key to reconnect.)");
  Memo("  ");
}

std::vector<std::string> Engine::MissingForSuccess() const {
  std::vector<std::string> missing;
  if (state_.FlashWriteFailed) missing.emplace_back("flash-write error");
  if (state_.FlashCrcBad) missing.emplace_back("bad flash CRC");
  if (!WholeRegionDownloaded()) missing.emplace_back("no whole download");
  if (!state_.TotalChecksumAnswered) missing.emplace_back("total checksum not asked");
  if (!state_.FlashCheckPassed) missing.emplace_back("no successful flash check");
  return missing;
}

// The port stays open: the restarting box's "NO_ACKNOWLEDGE with PC." is
// still handled.
void Engine::UpgradeSuccess(const Message&) {
  // Judged before EndRun clears the run's record.
  const std::vector<std::string> missing = MissingForSuccess();
  success_failures_.clear();
  for (const std::string& reason : missing) {
    if (!success_failures_.empty()) success_failures_ += ", ";
    success_failures_ += reason;
  }
  view_.SetProgress(ProgressBar::kPb2, 100);
  Memo("Upgrade End");
  if (!missing.empty()) Memo(">> The box reported success after a failure: " + success_failures_);
  view_.Beep();
  LogPortOff(link_.DeviceName());
  state_.SourceStream.Close();
  EndRun();
  view_.ShowConnect(true, "Disconnected");
  Notify(missing.empty() ? RunEvent::kUpgradeSuccess : RunEvent::kSuccessAfterFailure);
}

void Engine::NormalStart(const Message&) {
  Memo("STB normal start.");
  // Released first, so that the reset can load the image again.
  state_.SourceStream.Close();
  window_.ResetConnection();
  const std::string device = link_.DeviceName();
  link_.Close();
  LogPortOff(device);
  view_.SetLogo("Disconnected !", std::nullopt, std::nullopt);
  view_.ShowConnect(true, "Disconnected");
  Notify(RunEvent::kNormalStart);
}

}  // namespace stbup
