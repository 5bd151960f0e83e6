#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/image_info.h"
#include "sim/simulator_options.h"

namespace stbup {

inline constexpr int kSignatureSize = 28;

// "TAVO", the model name and header bytes 4..24, cut at 28 bytes; bytes a short
// model name leaves unfilled are zero, as in a freshly started tool.
std::array<std::uint8_t, kSignatureSize> ModelSignature(const ImageInfo& image);

// The region as the box must receive it: BlockCount blocks of the plain payload
// (scrambled payloads unscrambled), zero padded, with the model signature added
// where the rules for this loader family and image type put it, and lost where
// padding covers it.
std::vector<std::uint8_t> ExpectedRegion(const ImageInfo& image,
                                         std::span<const std::uint8_t> image_file,
                                         LoaderFamily family);

// One line per finding, empty when the region matches. Names the first
// differing byte and, when that is the whole story, a missing or misplaced
// model signature.
std::vector<std::string> CompareRegion(const ImageInfo& image,
                                       std::span<const std::uint8_t> image_file,
                                       LoaderFamily family, std::span<const std::uint8_t> received);

}  // namespace stbup
