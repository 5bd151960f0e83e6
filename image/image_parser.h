#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_info.h"
#include "image/scramble_key.h"

namespace stbup {

inline constexpr std::string_view kBrandText = "TAVO";
inline constexpr std::string_view kRefusedMarker = "ZUB2LL";
inline constexpr std::uint8_t kHeaderTerminator = 0x78;  // "x"
inline constexpr int kHeaderReadSize = 1024;
inline constexpr int kBlockCountGranularity = 4;
inline constexpr int kTdbasePayloadSize = 192;
// The model area when no terminator is found among offsets 34..133.
inline constexpr int kMaxModelAreaLength = 101;
// The largest payload whose geometry (and BlockCount x 1024) stays within 32
// bits; a larger file is refused, it can never fit any flash anyway.
inline constexpr std::int64_t kMaxPayloadSize = 0x7FFFF000;

inline constexpr std::string_view kRefusedLine = "This File is not appropriate Image!";
inline constexpr std::string_view kOpenErrorLine = " File open error, please open file first!";
inline constexpr std::string_view kOpenOkLine = "File open O.K.!";
inline constexpr std::string_view kNewVersionLine = "> New version binary.";
inline constexpr std::string_view kOldVersionLine = "> Old version binary.";
inline constexpr std::array<std::string_view, 3> kIllegalBinaryLines = {
    ">> ILLEGAL BINARY !!!!!!!!!!!!!!!!!!",
    ">> MAY BE CRASHING TARGET !!!!!!!!!!",
    ">> DO NOT UPGRADE WITH THIS .bin !!!",
};

enum class ImageFormat {
  kRefused,          // "ZUB2LL", or no marker this tool knows
  kFirmware,         // "TAVO"
  kAudioBackground,  // "TIFRAME"
  kRadioBackground,  // "IFRAME" ... "P"
};

// What the check code of a new-format header turned out to be.
enum class CheckCodeVerdict {
  kNone,  // old format: no check code
  kModelWildcard,
  kHardwareWildcard,
  kImageCheckCode,
  kIllegal,
};

struct ImageGeometry {
  std::int32_t PaddedSize = 0;
  std::int32_t BlockCount = 0;
};

// Rounds a payload size up to whole blocks, and the block count up to a
// multiple of four blocks (PaddedSize itself only to whole blocks).
ImageGeometry ComputeGeometry(std::int64_t size);

// Everything a load learns from the first bytes of a file and its size.
// Fields a load always sets are plain; the ones it may leave as they were
// are optional (empty = keep the previous image's value).
struct ParsedImage {
  ImageFormat format = ImageFormat::kRefused;
  // Why a file with a known marker is refused all the same: a header that
  // cannot describe what would be sent (empty for a refused marker).
  std::string refusal;
  std::array<std::uint8_t, ImageInfo::kHeaderCopySize> HeaderCopy{};

  // Firmware and background images.
  std::array<std::int32_t, 3> HardwareVersion{};
  std::array<std::int32_t, 3> SoftwareVersion{};
  std::string start_block_text;            // header offsets 22..31 as text
  std::optional<std::int32_t> StartBlock;  // empty: not a valid integer
  std::string type_letter;                 // one character, or empty
  std::string TypeName = "NONE";
  std::string ModelName;
  int model_area_length = 0;  // n
  std::uint8_t format_flag = 0;
  std::string check_code;  // decoded
  CheckCodeVerdict verdict = CheckCodeVerdict::kNone;
  std::int32_t SignatureEnabled = 0;
  std::uint8_t ScrambleEnabled = 0;
  bool waive_model_check = false;     // sets ModelCheckWaived; never clears it
  bool waive_hardware_check = false;  // sets HardwareCheckWaived; never clears it
  // The log lines of the format-flag step, or a background image's banner.
  std::vector<std::string> log_lines;
  std::int32_t PayloadOffset = 0;
  // Set (and PayloadBytesRead zeroed) except for TDBASE and background images.
  std::optional<std::int32_t> PayloadSize;
  ImageGeometry geometry;
  std::string start_block_edit;  // edStartBlock's text before the size is appended
  std::string size_text;         // "  (N Bytes)"
};

// Parses an image from its first bytes (only the first 1024 are looked at;
// fewer read as if padded with zeros) and the file's size. Never throws; a
// start block that is not an integer is reported as an empty StartBlock.
// A header whose payload would be negative, empty or beyond kMaxPayloadSize,
// or whose start block is negative, is refused (format kRefused, refusal set):
// an accepted image always has a payload of 1 to kMaxPayloadSize bytes.
ParsedImage ParseImage(std::span<const std::uint8_t> head, std::int64_t file_size,
                       std::string_view image_check_code);

// The type name of a type letter (case-sensitive); "NONE" for anything else.
std::string_view TypeNameOf(std::string_view letter);

}  // namespace stbup
