#include <exception>

#include "protocol/engine.h"

namespace stbup {

namespace {
constexpr char kLineFeed = 0x0A;
constexpr char kCarriageReturn = 0x0D;
constexpr std::string_view kFlashInfoCommand = "FLASH_INFO";
}  // namespace

// VaComm1RxChar: the mode is tested byte by byte, so bytes that follow
// "BL_FLASH_INFO" in the same chunk already belong to the record. A line
// whose handler fails is reported and the rest of the chunk is still framed
// and handled: one failing line never swallows the lines that came with it.
void Engine::Receive(std::string_view chunk) {
  for (const char byte : chunk) {
    if (state_.CollectingFlashInfo) {
      if (state_.FlashInfoCount >= 0 && state_.FlashInfoCount < ExchangeState::kFlashInfoSize) {
        state_.DataBuffer[static_cast<std::size_t>(state_.FlashInfoCount)] =
            static_cast<std::uint8_t>(byte);
      }
      ++state_.FlashInfoCount;
      if (state_.FlashInfoCount >= ExchangeState::kFlashInfoSize) {
        state_.CollectingFlashInfo = false;
        state_.LineText.clear();
        // The record's handler takes no argument.
        Guarded([&] { HandleMessage(Message{kFlashInfoCommand, {}, {}}); });
      }
    } else if (byte == kLineFeed) {
      Guarded([&] { DispatchLine(); });
    } else if (byte == kCarriageReturn) {
      // dropped
    } else if (state_.LineText.size() < ExchangeState::kMaxLineText) {
      state_.LineText.push_back(byte);
    }
  }
}

template <typename Step>
void Engine::Guarded(Step&& step) {
  try {
    step();
  } catch (const std::exception& error) {
    view_.ReportError(error.what());
  }
}

void Engine::DispatchLine() {
  // LineText is empty again before the handler runs, whatever it raises.
  dispatch_line_.swap(state_.LineText);
  state_.LineText.clear();
  const std::string_view line = dispatch_line_;
  Message message;
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    message.Command = line;
  } else {
    message.Command = line.substr(0, colon);
    message.Argument = line.substr(colon + 1, Message::kMaxArgument);
  }
  HandleMessage(message);
}

}  // namespace stbup
