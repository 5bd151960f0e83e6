// The image header parser on arbitrary bytes, and the image writer's round
// trip on arbitrary image descriptions. Only the outcomes a load can have may
// happen: no crash, no undefined behaviour, a geometry the block sender can
// walk, and a written image that reads back as it was described.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "image/check_code.h"
#include "image/image_parser.h"
#include "image/image_writer.h"

namespace {

using stbup::ImageFormat;
using stbup::ParsedImage;

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

const std::string& CheckCode() {
  static const std::string code = stbup::BuildImageCheckCode();
  return code;
}

// Reads the fuzzer's bytes front to back; past the end everything is zero.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Take() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t Take32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Take();
    return value;
  }
  std::string TakeText(std::size_t length) {
    std::string text;
    while (text.size() < length && at_ < size_) text += static_cast<char>(Take());
    return text;
  }
  std::span<const std::uint8_t> Rest() const { return {data_ + at_, size_ - std::min(at_, size_)}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void CheckGeometry(const ParsedImage& image) {
  const auto& g = image.geometry;
  FUZZ_CHECK(g.PaddedSize >= 0);
  FUZZ_CHECK(g.PaddedSize % stbup::kBlockSize == 0);
  FUZZ_CHECK(g.BlockCount >= 0);
  FUZZ_CHECK(g.BlockCount % stbup::kBlockCountGranularity == 0);
  const std::int64_t region = static_cast<std::int64_t>(g.BlockCount) * stbup::kBlockSize;
  FUZZ_CHECK(region >= g.PaddedSize);
  FUZZ_CHECK(region - g.PaddedSize < stbup::kBlockCountGranularity * stbup::kBlockSize);
  FUZZ_CHECK(image.size_text == "  (" + std::to_string(region) + " Bytes)");
}

// An accepted image always has something to send: a payload of 1 byte to
// kMaxPayloadSize bytes after its header, never a negative or empty one.
void CheckPayload(const ParsedImage& image, std::int64_t file_size) {
  const std::int64_t payload = file_size - image.PayloadOffset;
  FUZZ_CHECK(payload > 0);
  FUZZ_CHECK(payload <= stbup::kMaxPayloadSize);
  if (image.PayloadSize) FUZZ_CHECK(*image.PayloadSize == payload);
  FUZZ_CHECK(image.refusal.empty());
}

void CheckParsed(const ParsedImage& image, std::span<const std::uint8_t> head,
                 std::int64_t file_size) {
  std::string text;
  for (std::size_t i = 0; i < head.size() && i < stbup::kHeaderReadSize && head[i] != 0; ++i) {
    text += static_cast<char>(head[i]);
  }
  if (text.starts_with(stbup::kRefusedMarker)) FUZZ_CHECK(image.format == ImageFormat::kRefused);

  switch (image.format) {
    case ImageFormat::kRefused:
      // A refused marker stops before the start block; a header of ours is
      // refused only for a reason it gives.
      FUZZ_CHECK(!image.StartBlock || !image.refusal.empty());
      return;
    case ImageFormat::kAudioBackground:
    case ImageFormat::kRadioBackground:
      FUZZ_CHECK(image.PayloadOffset == (image.format == ImageFormat::kAudioBackground ? 9 : 8));
      FUZZ_CHECK(image.TypeName == "DATABASE" && image.ScrambleEnabled == 0);
      FUZZ_CHECK(image.StartBlock && *image.StartBlock >= 0 && *image.StartBlock <= 0xFFFF);
      CheckPayload(image, file_size);
      CheckGeometry(image);
      return;
    case ImageFormat::kFirmware:
      break;
  }
  FUZZ_CHECK(text.starts_with(stbup::kBrandText));
  for (const std::int32_t v : image.HardwareVersion) FUZZ_CHECK(v >= 0 && v <= 0xFF);
  for (const std::int32_t v : image.SoftwareVersion) FUZZ_CHECK(v >= 0 && v <= 0xFF);
  FUZZ_CHECK(image.start_block_text.size() <= 10);
  if (!image.StartBlock) {
    // The load stops at the conversion error: nothing after it was taken.
    FUZZ_CHECK(image.TypeName == "NONE" && image.PayloadOffset == 0 && image.log_lines.empty());
    return;
  }
  FUZZ_CHECK(*image.StartBlock >= 0);
  CheckPayload(image, file_size);
  FUZZ_CHECK(image.model_area_length >= 1 && image.model_area_length <= 101);
  FUZZ_CHECK(image.PayloadOffset == 34 + image.model_area_length);
  FUZZ_CHECK(image.ModelName.size() <= static_cast<std::size_t>(image.model_area_length));
  FUZZ_CHECK(image.TypeName == stbup::TypeNameOf(image.type_letter));
  FUZZ_CHECK(image.ScrambleEnabled == (image.format_flag == 2 ? 1 : 0));
  FUZZ_CHECK(image.check_code.size() < static_cast<std::size_t>(image.model_area_length));
  if (image.TypeName == "TDBASE") {
    FUZZ_CHECK(!image.PayloadSize);
  } else {
    FUZZ_CHECK(image.PayloadSize && *image.PayloadSize <= stbup::kMaxPayloadSize);
  }
  CheckGeometry(image);
}

// Arbitrary header bytes and file size.
void FuzzHeader(Bytes& in, std::uint8_t mode) {
  // A size near the header's own, or far beyond any flash.
  const int shift = (mode >> 1) & 0x1F;
  const std::int64_t extra = static_cast<std::int64_t>(in.Take32()) << (shift > 16 ? 16 : shift);
  const auto head = in.Rest();
  const std::int64_t file_size = static_cast<std::int64_t>(head.size()) + extra;
  CheckParsed(stbup::ParseImage(head, file_size, CheckCode()), head, file_size);
}

// An image described by the fuzzer's bytes, written and read back.
void FuzzRoundTrip(Bytes& in) {
  stbup::ImageSpec recipe;
  recipe.format = static_cast<stbup::ImageFileFormat>(in.Take() % 3);
  for (auto& v : recipe.reserved) v = in.Take();
  for (auto& v : recipe.hardware_version) v = in.Take();
  for (auto& v : recipe.software_version) v = in.Take();
  recipe.start_block = static_cast<std::int32_t>(in.Take32());
  recipe.type_letter = static_cast<char>(in.Take());
  recipe.model_name = in.TakeText(in.Take() % 64);
  switch (in.Take() % 4) {
    case 0:
      recipe.check_code = stbup::kModelWildcard;
      break;
    case 1:
      recipe.check_code = stbup::kHardwareWildcard;
      break;
    case 2:
      recipe.check_code = CheckCode();
      break;
    default:
      recipe.check_code = in.TakeText(in.Take() % 40);
      break;
  }
  std::vector<std::uint8_t> payload((in.Take() << 8 | in.Take()) % 5000);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
  }
  if (stbup::ImageSpecProblem(recipe)) return;

  const std::vector<std::uint8_t> file = stbup::BuildImage(recipe, payload);
  const std::vector<std::uint8_t> header = stbup::BuildImageHeader(recipe);
  const ParsedImage image =
      stbup::ParseImage(file, static_cast<std::int64_t>(file.size()), CheckCode());
  CheckParsed(image, file, static_cast<std::int64_t>(file.size()));
  if (payload.empty()) {
    // Nothing to send: refused, whatever the header says.
    FUZZ_CHECK(image.format == ImageFormat::kRefused &&
               image.refusal == "the image has no payload");
    return;
  }

  FUZZ_CHECK(image.format == ImageFormat::kFirmware);
  FUZZ_CHECK(image.StartBlock && *image.StartBlock == recipe.start_block);
  for (int i = 0; i < 3; ++i) {
    FUZZ_CHECK(image.HardwareVersion[i] == recipe.hardware_version[i]);
    FUZZ_CHECK(image.SoftwareVersion[i] == recipe.software_version[i]);
  }
  FUZZ_CHECK(image.ModelName == recipe.model_name);
  FUZZ_CHECK(image.TypeName == stbup::TypeNameOf(std::string(1, recipe.type_letter)));
  FUZZ_CHECK(image.PayloadOffset == static_cast<std::int32_t>(header.size()));
  const bool is_old = recipe.format == stbup::ImageFileFormat::kOld;
  const bool is_scrambled = recipe.format == stbup::ImageFileFormat::kScrambled;
  FUZZ_CHECK(image.ScrambleEnabled == (is_scrambled ? 1 : 0));
  if (is_old) {
    FUZZ_CHECK(image.SignatureEnabled == 0 && image.verdict == stbup::CheckCodeVerdict::kNone);
  } else {
    FUZZ_CHECK(image.check_code == recipe.check_code);
    const bool known = recipe.check_code == stbup::kModelWildcard ||
                       recipe.check_code == stbup::kHardwareWildcard ||
                       recipe.check_code == CheckCode();
    FUZZ_CHECK((image.verdict != stbup::CheckCodeVerdict::kIllegal) == known);
    FUZZ_CHECK(image.SignatureEnabled == (known || is_scrambled ? 1 : 0));
  }
  if (image.TypeName != "TDBASE") {
    FUZZ_CHECK(*image.PayloadSize == static_cast<std::int32_t>(payload.size()));
    const auto expected = stbup::ComputeGeometry(static_cast<std::int64_t>(payload.size()));
    FUZZ_CHECK(image.geometry.PaddedSize == expected.PaddedSize);
    FUZZ_CHECK(image.geometry.BlockCount == expected.BlockCount);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  const std::uint8_t mode = in.Take();
  if (mode & 1) {
    FuzzRoundTrip(in);
  } else {
    FuzzHeader(in, mode);
  }
  return 0;
}
