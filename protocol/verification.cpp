#include "protocol/engine.h"
#include "seams/errors.h"

namespace stbup {

void Engine::RequestTotalCrc(const Message&) {
  const char sum = static_cast<char>(state_.TotalChecksum);
  Reply(std::string_view(&sum, 1));
}

void Engine::DownSuccess(const Message&) {
  view_.SetProgress(ProgressBar::kPb1, 100);
  Memo("DownLoad Success");
}

void Engine::ResponseDownloadFail(const Message&) { Memo("DownLoad Failed"); }

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
}

// One step is 4096 bytes, four 1024-byte units; the bar shows the share
// written before it.
void Engine::FlashWrite4096(const Message&) {
  if (image_.BlockCount != 0) {
    const double percent = state_.ProgressCounter / image_.BlockCount * 100;
    view_.SetProgress(ProgressBar::kPb2, static_cast<int>(RoundHalfEven(percent)));
  }
  state_.ProgressCounter += 4;
}

void Engine::FlashCrcSuccess(const Message&) {
  Memo("Flash CRC Check OK");
  view_.SetLogo("Upgrade End!", colours::kWhite, colours::kBlue);
}

void Engine::BadFlashCrc(const Message&) {
  Memo("Flash CRC Check BAD !!!");
  Memo("Please check target.");
}

void Engine::LogPortOff(const std::string& device) {
  Memo("");
  Memo(device + " Off !!! (\"Enter\" key to reconnect.)");
  Memo("  ");
}

// The port stays open: the restarting box's "NO_ACKNOWLEDGE with PC." is
// still handled.
void Engine::UpgradeSuccess(const Message&) {
  view_.SetProgress(ProgressBar::kPb2, 100);
  Memo("Upgrade End");
  view_.Beep();
  LogPortOff(link_.DeviceName());
  state_.SourceStream.Close();
  EndRun();
  view_.ShowConnect(true, "Disconnected");
  Notify(RunEvent::kUpgradeSuccess);
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
