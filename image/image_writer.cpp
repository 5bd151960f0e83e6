#include "image/image_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "image/image_parser.h"
#include "image/regular_file.h"
#include "image/scramble_key.h"
#include "seams/errors.h"

namespace stbup {

namespace {

constexpr int kStartBlockLength = 10;
constexpr int kMaxModelArea = 100;  // a longer one is never found by the terminator search
constexpr int kCheckCodeBias = 136;

void AppendText(std::vector<std::uint8_t>& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

void AppendHex(std::vector<std::uint8_t>& bytes, const std::array<std::uint8_t, 3>& values) {
  for (const std::uint8_t value : values) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", value);
    AppendText(bytes, pair);
  }
}

std::string StartBlockField(const ImageSpec& recipe) {
  if (recipe.start_block_field) return *recipe.start_block_field;
  char field[16];
  std::snprintf(field, sizeof field, "%010d", static_cast<int>(recipe.start_block));
  return field;
}

std::string ModelArea(const ImageSpec& recipe) {
  if (recipe.format == ImageFileFormat::kOld) return recipe.model_name;
  std::string area = recipe.model_name;
  area += '\0';
  area += ScrambleCheckCode(recipe.check_code);
  if (recipe.code_terminator) area += '\0';
  area += recipe.format == ImageFileFormat::kScrambled ? '\x02' : '\x01';
  return area;
}

}  // namespace

std::string ScrambleCheckCode(std::string_view code) {
  std::string stored;
  for (std::size_t j = 0; j < code.size(); ++j) {
    stored += static_cast<char>(static_cast<unsigned char>(code[j]) + kCheckCodeBias + j);
  }
  return stored;
}

std::vector<std::uint8_t> BuildImageHeader(const ImageSpec& recipe) {
  std::vector<std::uint8_t> bytes;
  AppendText(bytes, recipe.marker);
  AppendHex(bytes, recipe.reserved);
  AppendHex(bytes, recipe.hardware_version);
  AppendHex(bytes, recipe.software_version);
  AppendText(bytes, StartBlockField(recipe));
  bytes.push_back(static_cast<std::uint8_t>(recipe.type_letter));
  AppendText(bytes, ModelArea(recipe));
  if (recipe.header_terminator) bytes.push_back(kHeaderTerminator);
  return bytes;
}

std::vector<std::uint8_t> BuildImage(const ImageSpec& recipe,
                                     std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> bytes = BuildImageHeader(recipe);
  const std::size_t offset = bytes.size();
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  if (recipe.format == ImageFileFormat::kScrambled) {
    for (std::size_t i = 0; i < payload.size(); ++i) {
      bytes[offset + i] = static_cast<std::uint8_t>(payload[i] + ScrambleKey[i % kBlockSize]);
    }
  }
  return bytes;
}

std::optional<std::string> ImageSpecProblem(const ImageSpec& recipe) {
  const std::string& model = recipe.model_name;
  if (model.find('\0') != std::string::npos) return "the model name must not hold a zero byte";
  if (model.size() > 1 && model.find('x', 1) != std::string::npos) {
    return "the model name must not hold \"x\" after its first character";
  }
  if (recipe.type_letter == '\0') return "the type letter must not be a zero byte";
  if (!recipe.start_block_field && recipe.start_block < 0) {
    return "the start block must not be negative";
  }
  if (StartBlockField(recipe).size() != kStartBlockLength) {
    return "the start block must fit in 10 characters";
  }
  const std::string area = ModelArea(recipe);
  if (area.empty()) return "the old-format model name must not be empty";
  if (area.size() > kMaxModelArea) {
    return "the model area (model name, check code and flag) is longer than 100 bytes";
  }
  if (recipe.format == ImageFileFormat::kOld) {
    if (model.back() == '\x01' || model.back() == '\x02') {
      return "an old-format model name must not end in byte 1 or 2";
    }
    return std::nullopt;
  }
  const std::string stored = ScrambleCheckCode(recipe.check_code);
  for (const char byte : stored) {
    if (byte == '\0' || static_cast<std::uint8_t>(byte) == kHeaderTerminator) {
      return "the check code scrambles to a zero byte or an \"x\"";
    }
  }
  return std::nullopt;
}

void WriteImageFile(const std::string& path, const ImageSpec& recipe,
                    std::span<const std::uint8_t> payload) {
  const std::vector<std::uint8_t> bytes = BuildImage(recipe, payload);
  const int fd = CreateRegularFile(path);
  if (fd < 0) throw EFileError::CannotCreate(path, errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      const int error = errno;
      ::close(fd);
      throw EFileError::CannotCreate(path, error);
    }
    written += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0) throw EFileError::CannotCreate(path, errno);
}

}  // namespace stbup
