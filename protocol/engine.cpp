#include "protocol/engine.h"

#include <cmath>

namespace stbup {

namespace {
constexpr std::uint8_t kPollByte = 0x1F;
}  // namespace

Engine::Engine(ImageInfo& image, View& view, Link& link, PollTimer& timer,
               ConnectionControl& window)
    : image_(image), view_(view), link_(link), timer_(timer), window_(window) {
  state_.LineText.reserve(256);
  dispatch_line_.reserve(256);
}

void Engine::Timer1Timer() { link_.WriteChar(kPollByte); }

void Engine::EndRun() {
  view_.EnableSetupControls(true);
  ClearExchange();
}

void Engine::ClearExchange() {
  state_.CollectingFlashInfo = false;
  state_.LineText.clear();
  state_.TotalChecksum = 0;
  state_.ProgressCounter = 0;
  // A new run proves its success afresh.
  state_.DownloadBlocks = 0;
  state_.BlocksBooked = 0;
  state_.BlockBooked.clear();
  state_.DownloadFailed = false;
  state_.TotalChecksumAnswered = false;
  state_.FlashCheckPassed = false;
  state_.FlashWriteFailed = false;
  state_.FlashCrcBad = false;
}

void Engine::CloseFiles() {
  state_.SourceStream.Close();
  state_.UploadStream.Close();
}

void Engine::SetLabel3(std::string_view caption) { view_.SetLabel3(caption, label3_colour_); }

void Engine::AppendLabel3(std::string_view suffix) {
  std::string caption = view_.Label3Caption();
  caption.append(suffix);
  view_.SetLabel3(caption, label3_colour_);
}

double RoundHalfEven(double value) {
  double rounded = std::round(value);  // halves away from zero
  if (std::fabs(rounded - value) == 0.5 && std::fmod(rounded, 2.0) != 0.0) {
    rounded -= std::copysign(1.0, value);
  }
  return rounded;
}

void Engine::Warn(std::string_view reason, std::initializer_list<std::string_view> lines) {
  for (const std::string_view line : lines) Memo(line);
  // A box repeating what draws a warning cannot grow the list without bound.
  constexpr std::size_t kMaxWarnings = 16;
  if (warnings_.size() >= kMaxWarnings) return;
  warnings_.push_back({std::string(reason), std::vector<std::string>(lines.begin(), lines.end())});
}

}  // namespace stbup
