#include "image/image_parser.h"

#include <algorithm>

#include "image/check_code.h"
#include "seams/errors.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr int kHardwareOffset = 10;
constexpr int kSoftwareOffset = 16;
constexpr int kStartBlockOffset = 22;
constexpr int kStartBlockLength = 10;
constexpr int kTypeLetterOffset = 32;
constexpr int kModelOffset = 33;
constexpr int kTerminatorSearchFirst = 34;
constexpr int kTerminatorSearchLast = 133;
constexpr int kCheckCodeBias = 136;

constexpr std::string_view kAudioMarker = "TIFRAME";
constexpr std::string_view kRadioMarker = "IFRAME";
constexpr int kAudioHeaderLength = 9;
constexpr int kRadioHeaderLength = 8;
constexpr std::int32_t kAudioStartBlock = 4;

struct TypeLetter {
  char letter;
  std::string_view name;
};

constexpr TypeLetter kTypeLetters[] = {
    {'C', "CODE"},       {'D', "DATABASE"},      {'S', "TDBASE"},        {'A', "ATSKY"},
    {'L', "LOADER"},     {'l', "LOADER128K"},    {'T', "S-LOADER"},      {'t', "S-LOADER128K"},
    {'m', "LOADER256K"}, {'M', "NA_LOADER128K"}, {'n', "NA_LOADER256K"}, {'N', "NA_DATABASE"},
    {'<', "SS_LOADER"},  {'>', "SS_LOADER128K"}, {'^', "SS_LOADER256K"}, {'Z', "ZCODE"},
    {'J', "JCODE"},      {'B', "JLOADER"},
};

// A pair of hexadecimal characters; anything but two valid digits is 0.
std::int32_t HexPair(std::string_view text, std::size_t offset) {
  if (offset + 2 > text.size()) return 0;
  return static_cast<std::int32_t>(ReadHexField(text.substr(offset, 2)));
}

std::string_view Field(std::string_view text, std::size_t offset, std::size_t length) {
  if (offset >= text.size()) return {};
  return text.substr(offset, length);
}

// The payload a header describes, or why there is none worth sending.
std::string PayloadProblem(std::int64_t payload) {
  if (payload < 0) return "the file ends inside its header";
  if (payload == 0) return "the image has no payload";
  if (payload > kMaxPayloadSize) return "the payload is larger than any flash";
  return {};
}

void RefuseFor(ParsedImage& image, std::string reason) {
  image.format = ImageFormat::kRefused;
  image.refusal = std::move(reason);
}

void FinishGeometry(ParsedImage& image, std::int64_t padded) {
  image.geometry = ComputeGeometry(padded);
  image.size_text =
      "  (" + std::to_string(static_cast<std::int64_t>(image.geometry.BlockCount) * kBlockSize) +
      " Bytes)";
}

void ParseBackground(ParsedImage& image, const std::array<std::uint8_t, kHeaderReadSize>& bytes,
                     std::int64_t file_size) {
  const bool audio = image.format == ImageFormat::kAudioBackground;
  image.PayloadOffset = audio ? kAudioHeaderLength : kRadioHeaderLength;
  image.StartBlock = audio ? kAudioStartBlock : (bytes[6] << 8 | bytes[7]);
  image.start_block_edit = std::to_string(*image.StartBlock);
  image.TypeName = "DATABASE";
  image.ModelName = "?";
  image.SignatureEnabled = 0;
  // A picture is never stored scrambled; a previous format-2 image must not
  // leave the block sender subtracting the key from it.
  image.ScrambleEnabled = 0;
  image.log_lines = {audio ? "> Audio-BackGround format.!!" : "> Radio-BackGround format.!!",
                     "=============================", ""};
  if (std::string problem = PayloadProblem(file_size - image.PayloadOffset); !problem.empty()) {
    RefuseFor(image, std::move(problem));
    return;
  }
  FinishGeometry(image, file_size - image.PayloadOffset);
}

void ParseFirmware(ParsedImage& image, const std::array<std::uint8_t, kHeaderReadSize>& bytes,
                   std::string_view text, std::int64_t file_size,
                   std::string_view image_check_code) {
  for (int i = 0; i < 3; ++i) {
    image.HardwareVersion[i] = HexPair(text, kHardwareOffset + 2 * i);
    image.SoftwareVersion[i] = HexPair(text, kSoftwareOffset + 2 * i);
  }
  image.start_block_text = Field(text, kStartBlockOffset, kStartBlockLength);
  try {
    image.StartBlock = StrToInt(image.start_block_text);
  } catch (const EConvertError&) {
    return;  // the load stops here; the caller raises the conversion error
  }
  if (*image.StartBlock < 0) {
    // "-0016" on the wire would name no block of any flash.
    RefuseFor(image, "the start block is negative");
    return;
  }
  image.start_block_edit = std::to_string(*image.StartBlock);
  image.type_letter = Field(text, kTypeLetterOffset, 1);

  int n = kMaxModelAreaLength;
  for (int offset = kTerminatorSearchFirst; offset <= kTerminatorSearchLast; ++offset) {
    if (bytes[offset] == kHeaderTerminator) {
      n = offset - kModelOffset;
      break;
    }
  }
  image.model_area_length = n;
  image.ModelName = Field(text, kModelOffset, static_cast<std::size_t>(n));

  image.format_flag = bytes[kModelOffset + n - 1];
  if (image.format_flag == 1 || image.format_flag == 2) {
    image.ScrambleEnabled = image.format_flag == 2 ? 1 : 0;
    const int length = static_cast<int>(image.ModelName.size());
    const int first = kModelOffset + 1 + length;
    const int count = n - length - 1;
    for (int j = 0; j < count && bytes[first + j] != 0; ++j) {
      image.check_code += static_cast<char>(bytes[first + j] - kCheckCodeBias - j);
    }
    if (image.check_code == kModelWildcard) {
      image.verdict = CheckCodeVerdict::kModelWildcard;
      image.waive_model_check = true;
    } else if (image.check_code == kHardwareWildcard) {
      image.verdict = CheckCodeVerdict::kHardwareWildcard;
      image.waive_hardware_check = true;
    } else if (image.check_code == image_check_code) {
      image.verdict = CheckCodeVerdict::kImageCheckCode;
      image.log_lines.emplace_back(kNewVersionLine);
    } else {
      image.verdict = CheckCodeVerdict::kIllegal;
      image.log_lines.assign(kIllegalBinaryLines.begin(), kIllegalBinaryLines.end());
    }
    // Format 2 always turns the model signature on; for format 1 only an
    // accepted check code does.
    image.SignatureEnabled =
        image.format_flag == 2 || image.verdict != CheckCodeVerdict::kIllegal ? 1 : 0;
  } else {
    image.SignatureEnabled = 0;
    image.ScrambleEnabled = 0;
    image.log_lines.emplace_back(kOldVersionLine);
  }

  image.PayloadOffset = kModelOffset + 1 + n;
  image.TypeName = TypeNameOf(image.type_letter);
  const std::int64_t payload = file_size - image.PayloadOffset;
  if (std::string problem = PayloadProblem(payload); !problem.empty()) {
    RefuseFor(image, std::move(problem));
    return;
  }
  std::int64_t padded = kTdbasePayloadSize;
  if (image.TypeName != "TDBASE") {
    image.PayloadSize = static_cast<std::int32_t>(payload);
    padded = *image.PayloadSize;
  }
  FinishGeometry(image, padded);
}

}  // namespace

ImageGeometry ComputeGeometry(std::int64_t size) {
  std::int64_t padded = std::min(size, kMaxPayloadSize);
  if (padded % kBlockSize != 0) padded = padded - padded % kBlockSize + kBlockSize;
  std::int64_t blocks = padded / kBlockSize;
  if (blocks % kBlockCountGranularity != 0) {
    blocks = blocks - blocks % kBlockCountGranularity + kBlockCountGranularity;
  }
  return {static_cast<std::int32_t>(padded), static_cast<std::int32_t>(blocks)};
}

std::string_view TypeNameOf(std::string_view letter) {
  if (letter.size() == 1) {
    for (const TypeLetter& type : kTypeLetters) {
      if (type.letter == letter.front()) return type.name;
    }
  }
  return "NONE";
}

ParsedImage ParseImage(std::span<const std::uint8_t> head, std::int64_t file_size,
                       std::string_view image_check_code) {
  std::array<std::uint8_t, kHeaderReadSize> bytes{};
  std::copy_n(head.begin(), std::min<std::size_t>(head.size(), bytes.size()), bytes.begin());
  const auto text_end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const std::string text(bytes.begin(), text_end);
  const std::string_view view(text);

  ParsedImage image;
  std::copy_n(bytes.begin(), image.HeaderCopy.size(), image.HeaderCopy.begin());
  if (view.starts_with(kRefusedMarker)) {
    image.format = ImageFormat::kRefused;
  } else if (view.starts_with(kBrandText)) {
    image.format = ImageFormat::kFirmware;
    ParseFirmware(image, bytes, view, file_size, image_check_code);
  } else if (view.starts_with(kAudioMarker)) {
    image.format = ImageFormat::kAudioBackground;
    ParseBackground(image, bytes, file_size);
  } else if (view.starts_with(kRadioMarker) && bytes[8] == 'P' && bytes[9] == 0 && bytes[10] == 0 &&
             bytes[11] < 2) {
    image.format = ImageFormat::kRadioBackground;
    ParseBackground(image, bytes, file_size);
  } else {
    image.format = ImageFormat::kRefused;
  }
  return image;
}

}  // namespace stbup
