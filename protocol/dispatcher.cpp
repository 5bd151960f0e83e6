#include "protocol/engine.h"

#include <optional>

namespace stbup {

namespace {

constexpr std::string_view kRequestVersion = "REQUEST_VERSION";
constexpr std::size_t kLoaderPrefixLength = 9;  // "REQUEST_V", "REQUEST_L"

// "REQUEST_V217" and the like: the prefix becomes the command, the three
// characters after it the argument and up to four the version digits.
void NormaliseLoaderForm(Message& message, std::string_view prefix) {
  if (message.Command == kRequestVersion) return;
  if (message.Command.find(prefix) == std::string_view::npos) return;
  const std::string_view command = message.Command;
  message.Argument = command.substr(kLoaderPrefixLength, 3);
  message.VersionDigits = command.substr(kLoaderPrefixLength, 4);
  message.Command = command.substr(0, kLoaderPrefixLength);
}

}  // namespace

void Engine::HandleMessage(Message message) {
  NormaliseLoaderForm(message, "REQUEST_V");
  NormaliseLoaderForm(message, "REQUEST_L");

  struct Route {
    std::string_view command;
    std::optional<std::string_view> argument;  // set where the whole line is the command
    void (Engine::*handler)(const Message&);
  };
  // Tested in this order; the first match runs. Exact and case-sensitive:
  // "ACK" and "ack" are different commands.
  static constexpr Route kRoutes[] = {
      {"FLASH_WRITE_ERROR", std::nullopt, &Engine::FlashWriteError},
      {"TargetInfo", std::nullopt, &Engine::TargetInfoLine},
      {"5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)", std::nullopt, &Engine::LoaderSentence},
      {"REQUEST_MODE", std::nullopt, &Engine::RequestMode},
      {"REQUEST_V", std::nullopt, &Engine::RequestV},
      {"REQUEST_L", std::nullopt, &Engine::RequestL},
      {"BL_FLASH_INFO", std::nullopt, &Engine::BlFlashInfo},
      {"FLASH_INFO", std::nullopt, &Engine::FlashReport},
      {"BL_INFO_END", std::nullopt, &Engine::BlInfoEnd},
      {"BL_FLASH_END", std::nullopt, &Engine::BlFlashEnd},
      {"REQUEST_VERSION", std::nullopt, &Engine::RequestVersion},
      {"ACK", std::nullopt, &Engine::Ack},
      {"REQUEST_BLOCK", std::nullopt, &Engine::RequestBlock},
      {"REQUEST_START_BLOCK", std::nullopt, &Engine::RequestStartBlock},
      {"REQDATA_START_BLOCK", std::nullopt, &Engine::RequestStartBlock},
      {"REQDATA_BLOCK", std::nullopt, &Engine::ReqdataBlock},
      {"ack", std::nullopt, &Engine::StartDatabaseUpload},
      {"REQUEST_DOWNLOAD", std::nullopt, &Engine::RequestDownload},
      {"REQUEST_1024DOWN", std::nullopt, &Engine::Request1024Down},
      {"1024DOWN_ERR", std::nullopt, &Engine::Down1024Err},
      {"1024DOWN_SUCCESS", std::nullopt, &Engine::Down1024Success},
      {"REQUEST_TOTALCRC", std::nullopt, &Engine::RequestTotalCrc},
      {"DOWN_SUCCESS", std::nullopt, &Engine::DownSuccess},
      {"RAMCRC_SUCCESS", std::nullopt, &Engine::RamCrcSuccess},
      {"SEND_DECODE_SIZE", std::nullopt, &Engine::SendDecodeSize},
      {"FLASHCRC_SUCCESS", std::nullopt, &Engine::FlashCrcSuccess},
      // The line "BAD CRC : Flash image !!", as the framing splits it.
      {"BAD CRC ", " Flash image !!", &Engine::BadFlashCrc},
      {"FLASH_WRITE", std::nullopt, &Engine::FlashWrite},
      {"4096FLASH_WRITE", std::nullopt, &Engine::FlashWrite4096},
      {"UPGRADE_SUCCESS", std::nullopt, &Engine::UpgradeSuccess},
      {"RESPONSE_DOWNLOAD_FAIL", std::nullopt, &Engine::ResponseDownloadFail},
      {"NO_ACKNOWLEDGE with PC.", std::nullopt, &Engine::NormalStart},
  };
  static_assert(std::size(kRoutes) == 32);

  for (const Route& route : kRoutes) {
    if (message.Command != route.command) continue;
    if (route.argument && message.Argument != *route.argument) continue;
    (this->*route.handler)(message);
    return;
  }
  // Anything else, the empty command included: no reply, no line, no change.
}

}  // namespace stbup
