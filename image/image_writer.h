#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stbup {

enum class ImageFileFormat {
  kOld,        // model area is the model name alone
  kNew,        // model name, check code, format flag 1
  kScrambled,  // as new, format flag 2, payload stored with the scramble key
};

// What an image file is made of. The defaults give a well-formed old-format
// CODE image; the odd-header knobs at the end are for tests.
struct ImageSpec {
  ImageFileFormat format = ImageFileFormat::kOld;
  std::array<std::uint8_t, 3> reserved{};  // offsets 4..9, not interpreted
  std::array<std::uint8_t, 3> hardware_version{};
  std::array<std::uint8_t, 3> software_version{};
  std::int32_t start_block = 0;
  char type_letter = 'C';
  std::string model_name = "MODEL";
  std::string check_code;  // plain text; stored scrambled (new and scrambled formats)

  std::string marker = "TAVO";
  std::optional<std::string> start_block_field;  // the raw 10 characters instead
  bool code_terminator = true;                   // the zero byte between check code and flag
  bool header_terminator = true;                 // the "x" that ends the header
};

// The header bytes, up to and including the terminator.
std::vector<std::uint8_t> BuildImageHeader(const ImageSpec& recipe);

// Header and payload; a scrambled-format payload is stored as plain +
// ScrambleKey[i mod 1024] for byte i, so the block sender's subtraction
// delivers the plain payload again.
std::vector<std::uint8_t> BuildImage(const ImageSpec& recipe, std::span<const std::uint8_t> payload);

// The stored form of a check code: character j as (c + 136 + j) mod 256.
std::string ScrambleCheckCode(std::string_view code);

// Why a recipe would not load back as written (empty when it would): a model
// name with "x" after its first character, a zero byte, too long a model area,
// a start block wider than its field, ...
std::optional<std::string> ImageSpecProblem(const ImageSpec& recipe);

// Writes BuildImage's bytes to path; throws EFileError when it cannot.
void WriteImageFile(const std::string& path, const ImageSpec& recipe,
                    std::span<const std::uint8_t> payload);

}  // namespace stbup
