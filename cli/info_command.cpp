#include "cli/info_command.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <stdexcept>

#include "image/check_code.h"
#include "image/image_file.h"
#include "image/image_parser.h"
#include "image/image_reader.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

std::string_view FormatName(const ParsedImage& image) {
  switch (image.format) {
    case ImageFormat::kAudioBackground:
      return "audio background";
    case ImageFormat::kRadioBackground:
      return "radio background";
    case ImageFormat::kRefused:
      return "refused";
    case ImageFormat::kFirmware:
      break;
  }
  if (image.format_flag == 2) return "scrambled";
  if (image.format_flag == 1) return "new";
  return "old";
}

std::string_view VerdictName(CheckCodeVerdict verdict) {
  switch (verdict) {
    case CheckCodeVerdict::kNone:
      return "none";
    case CheckCodeVerdict::kModelWildcard:
      return "model wildcard";
    case CheckCodeVerdict::kHardwareWildcard:
      return "hardware wildcard";
    case CheckCodeVerdict::kImageCheckCode:
      return "image check code";
    case CheckCodeVerdict::kIllegal:
      return "illegal";
  }
  return "none";
}

// For a terminal: printable ASCII as itself, every other byte as \xNN.
std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  return text;
}

nlohmann::json Triple(const std::array<std::int32_t, 3>& version) {
  return nlohmann::json::array({version[0], version[1], version[2]});
}

}  // namespace

int RunInfo(const InfoOptions& options, CommandIo& io) {
  ImageInfo info;
  try {
    info = ReadImageInfo(options.image);
  } catch (const std::runtime_error& error) {
    PrintError(io.err, error.what());
    return kExitImageNotAccepted;
  }
  const ImageFileHead head = ReadImageFileHead(options.image);
  const ParsedImage parsed = ParseImage(head.bytes, head.size, BuildImageCheckCode());
  const std::int64_t region = static_cast<std::int64_t>(info.BlockCount) * kBlockSize;

  if (options.json) {
    nlohmann::json json = {
        // Header texts are single-byte strings: JSON shows 0x80-0xFF as \u0080-\u00ff.
        {"file", BytesToUtf8(info.ImageFileName)},
        {"format", FormatName(parsed)},
        {"model", BytesToUtf8(info.ModelName)},
        {"hardware", FormatVersionTriple(info.HardwareVersion)},
        {"hardware_version", Triple(info.HardwareVersion)},
        {"software", FormatVersionTriple(info.SoftwareVersion)},
        {"software_version", Triple(info.SoftwareVersion)},
        {"type", info.TypeName},
        {"type_letter", BytesToUtf8(parsed.type_letter)},
        {"start_block", info.StartBlock},
        {"check_code", VerdictName(parsed.verdict)},
        {"signature_enabled", info.SignatureEnabled},
        {"scramble_enabled", info.ScrambleEnabled},
        {"model_check_waived", info.ModelCheckWaived},
        {"hardware_check_waived", info.HardwareCheckWaived},
        {"payload_offset", info.PayloadOffset},
        {"payload_size", info.PayloadSize},
        {"padded_size", info.PaddedSize},
        {"block_count", info.BlockCount},
        {"region_bytes", region},
        {"file_size", head.size},
    };
    nlohmann::json warnings = nlohmann::json::array();
    if (parsed.verdict == CheckCodeVerdict::kIllegal) {
      for (const std::string& line : parsed.log_lines) warnings.push_back(line);
    }
    json["warnings"] = warnings;
    io.out << json.dump(2, ' ', true) << '\n';
    return kExitOk;
  }

  std::ostream& out = io.out;
  out << "File:                  " << Printable(info.ImageFileName) << '\n'
      << "Format:                " << FormatName(parsed) << '\n'
      << "Model:                 " << Printable(info.ModelName) << '\n'
      << "Hardware:              " << FormatVersionTriple(info.HardwareVersion) << '\n'
      << "Software:              " << FormatVersionTriple(info.SoftwareVersion) << '\n'
      << "Type:                  " << info.TypeName << '\n'
      << "Start block:           " << info.StartBlock << '\n'
      << "Check code:            " << VerdictName(parsed.verdict) << '\n'
      << "Payload offset:        " << info.PayloadOffset << '\n'
      << "Payload size:          " << info.PayloadSize << '\n'
      << "Padded size:           " << info.PaddedSize << '\n'
      << "Blocks:                " << info.BlockCount << " (" << region << " Bytes)\n"
      << "Signature:             " << info.SignatureEnabled << '\n'
      << "Scramble:              " << static_cast<int>(info.ScrambleEnabled) << '\n'
      << "Model check waived:    " << static_cast<int>(info.ModelCheckWaived) << '\n'
      << "Hardware check waived: " << static_cast<int>(info.HardwareCheckWaived) << '\n';
  if (parsed.verdict == CheckCodeVerdict::kIllegal) {
    for (const std::string& line : parsed.log_lines) out << line << '\n';
  }
  return kExitOk;
}

void AddInfoCommand(CommandRegistry& registry) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* sub = registry.Add("info", "Show an image's identification, geometry and flags",
                               [options](CommandIo& io) { return RunInfo(*options, io); });
  sub->add_option("IMAGE", options->image, "The image file (*.bin)")->required();
  sub->add_flag("--json", options->json, "Print one JSON object instead of text");
}

}  // namespace stbup
