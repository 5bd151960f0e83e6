#include "cli/mkimage_command.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "image/check_code.h"
#include "image/image_parser.h"
#include "seams/errors.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr std::string_view kTypeLetters = "CDSALlTtmMnN<>^ZJB";

// "01.0A.FF" or "010AFF": three bytes as hexadecimal pairs.
std::array<std::uint8_t, 3> ParseTriple(const std::string& text, std::string_view what) {
  std::string digits;
  for (const char c : text) {
    if (c != '.') digits += c;
  }
  const bool dotted = digits.size() != text.size();
  if (digits.size() != 6 || (dotted && (text.size() != 8 || text[2] != '.' || text[5] != '.'))) {
    throw std::invalid_argument(std::string(what) +
                                " must be three hexadecimal bytes, e.g. 01.0A.FF");
  }
  std::array<std::uint8_t, 3> triple{};
  for (int i = 0; i < 3; ++i) {
    const std::string pair = digits.substr(static_cast<std::size_t>(2 * i), 2);
    const bool valid = std::isxdigit(static_cast<unsigned char>(pair[0])) &&
                       std::isxdigit(static_cast<unsigned char>(pair[1]));
    if (!valid) {
      throw std::invalid_argument(std::string(what) +
                                  " must be three hexadecimal bytes, e.g. 01.0A.FF");
    }
    triple[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(ReadHexField(pair));
  }
  return triple;
}

char ParseTypeLetter(const std::string& text) {
  if (text.size() == 1) return text[0];  // any letter, also one the tool maps to NONE
  for (const char letter : kTypeLetters) {
    if (TypeNameOf(std::string_view(&letter, 1)) == text) return letter;
  }
  throw std::invalid_argument("unknown type \"" + text + "\": give a type letter or a type name");
}

std::vector<std::uint8_t> ReadPayload(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFileError::CannotOpen(path, errno);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

ImageSpec MkimageSpec(const MkimageOptions& options) {
  ImageSpec recipe;
  if (options.format == "old") {
    recipe.format = ImageFileFormat::kOld;
  } else if (options.format == "new") {
    recipe.format = ImageFileFormat::kNew;
  } else if (options.format == "scrambled") {
    recipe.format = ImageFileFormat::kScrambled;
  } else {
    throw std::invalid_argument("--format must be old, new or scrambled");
  }
  recipe.type_letter = ParseTypeLetter(options.type);
  recipe.hardware_version = ParseTriple(options.hardware, "--hw");
  recipe.software_version = ParseTriple(options.software, "--sw");
  recipe.reserved = ParseTriple(options.reserved, "--reserved");
  recipe.start_block = options.start_block;
  recipe.model_name = options.model;

  if (!options.wildcard.empty() && !options.code.empty()) {
    throw std::invalid_argument("--code and --wildcard exclude each other");
  }
  if (options.wildcard == "model") {
    recipe.check_code = kModelWildcard;
  } else if (options.wildcard == "hardware") {
    recipe.check_code = kHardwareWildcard;
  } else if (!options.wildcard.empty()) {
    throw std::invalid_argument("--wildcard must be model or hardware");
  } else {
    recipe.check_code = options.code.empty() ? BuildImageCheckCode() : options.code;
  }
  if (recipe.format == ImageFileFormat::kOld &&
      (!options.code.empty() || !options.wildcard.empty())) {
    throw std::invalid_argument("an old-format image has no check code");
  }
  if (const auto problem = ImageSpecProblem(recipe)) throw std::invalid_argument(*problem);
  return recipe;
}

int RunMkimage(const MkimageOptions& options, CommandIo& io) {
  ImageSpec recipe;
  try {
    recipe = MkimageSpec(options);
  } catch (const std::invalid_argument& error) {
    PrintError(io.err, error.what());
    return kExitUsage;
  }
  const std::vector<std::uint8_t> payload = ReadPayload(options.payload);
  if (payload.empty()) {
    // A header without a payload is refused by every load.
    PrintError(io.err, "the payload is empty");
    return kExitUsage;
  }
  WriteImageFile(options.output, recipe, payload);
  const std::size_t header = BuildImageHeader(recipe).size();
  io.out << options.output << ": " << options.format << " format, "
         << TypeNameOf(std::string_view(&recipe.type_letter, 1)) << ", header " << header
         << " bytes, payload " << payload.size() << " bytes\n";
  return kExitOk;
}

void AddMkimageCommand(CommandRegistry& registry) {
  auto options = std::make_shared<MkimageOptions>();
  CLI::App* sub = registry.Add("mkimage", "Write an image file around a payload",
                               [options](CommandIo& io) { return RunMkimage(*options, io); });
  sub->add_option("PAYLOAD", options->payload, "The bytes to send to the box")
      ->required()
      ->check(CLI::ExistingFile);
  sub->add_option("OUTPUT", options->output, "The image file to write")->required();
  sub->add_option("--format", options->format,
                  "old (model name only), new (check code, flag 1) or scrambled (check code, "
                  "flag 2, payload stored with the scramble key)")
      ->capture_default_str();
  sub->add_option("--type", options->type,
                  "Type letter (C D S A L l T t m M n N < > ^ Z J B; any other byte gives NONE) "
                  "or type name (CODE, TDBASE, LOADER128K ...)")
      ->capture_default_str();
  sub->add_option("--hw", options->hardware, "Hardware version, three hex bytes (01.0A.FF)")
      ->capture_default_str();
  sub->add_option("--sw", options->software, "Software version, three hex bytes (02.00.33)")
      ->capture_default_str();
  sub->add_option("--start-block", options->start_block, "Start block, decimal")
      ->capture_default_str();
  sub->add_option("--model", options->model, "Model name (no \"x\" after the first character)")
      ->capture_default_str();
  sub->add_option("--code", options->code,
                  "Check code for new and scrambled formats (default: the tool's own)");
  sub->add_option("--wildcard", options->wildcard,
                  "Use a wildcard check code instead: model or hardware");
  sub->add_option("--reserved", options->reserved,
                  "The three uninterpreted header bytes at offsets 4..9 (hex, 00.00.00)")
      ->capture_default_str();
}

}  // namespace stbup
