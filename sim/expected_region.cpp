#include "sim/expected_region.h"

#include <algorithm>
#include <cstdio>

#include "image/scramble_key.h"

namespace stbup {
namespace {

// Byte positions of the region (and the signature byte each receives) that
// the placement rules cover; positions the padding zeroes are left out.
struct Placement {
  std::int64_t first = 0;  // region offset of signature byte 0
  std::int64_t from = 0;   // first region offset that keeps its byte
  std::int64_t to = 0;     // one past the last
};

Placement SignaturePlacement(const ImageInfo& image, LoaderFamily family,
                             std::int64_t source_bytes) {
  Placement none{};
  if (!image.SignatureEnabled) return none;
  Placement p{};
  if (image.TypeName == "ZCODE") {
    p.first = 0;
    p.from = 0;
    p.to = kSignatureSize;
  } else if (family == LoaderFamily::k5518) {
    if (image.BlockCount <= 0) return none;
    p.first = static_cast<std::int64_t>(image.BlockCount - 1) * kBlockSize +
              (kBlockSize - kSignatureSize);
    p.from = p.first;
    p.to = p.first + kSignatureSize;
  } else if (image.TypeName == "CODE") {
    // The trailer over the last 28 payload bytes; block 0 never gets its part.
    p.first = static_cast<std::int64_t>(image.PayloadSize) - kSignatureSize;
    p.from = std::max<std::int64_t>(p.first, kBlockSize);
    p.to = image.PayloadSize;
  } else {
    return none;
  }
  p.to = std::min(p.to, source_bytes);
  p.to = std::min<std::int64_t>(p.to, static_cast<std::int64_t>(image.BlockCount) * kBlockSize);
  if (p.from >= p.to) return none;
  return p;
}

std::int64_t SourceBytes(const ImageInfo& image, std::span<const std::uint8_t> file) {
  const std::int64_t offset = std::max<std::int64_t>(image.PayloadOffset, 0);
  return std::max<std::int64_t>(static_cast<std::int64_t>(file.size()) - offset, 0);
}

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFF);
  return text;
}

std::vector<std::uint8_t> PlainRegion(const ImageInfo& image, std::span<const std::uint8_t> file) {
  const std::int64_t size = static_cast<std::int64_t>(std::max(image.BlockCount, 0)) * kBlockSize;
  std::vector<std::uint8_t> region(static_cast<std::size_t>(size), 0);
  const std::int64_t available = std::min(SourceBytes(image, file), size);
  const std::size_t offset = static_cast<std::size_t>(std::max(image.PayloadOffset, 0));
  for (std::int64_t i = 0; i < available; ++i) {
    std::uint8_t b = file[offset + static_cast<std::size_t>(i)];
    if (image.ScrambleEnabled) b = static_cast<std::uint8_t>(b - ScrambleKey[i % kBlockSize]);
    region[static_cast<std::size_t>(i)] = b;
  }
  return region;
}

}  // namespace

std::array<std::uint8_t, kSignatureSize> ModelSignature(const ImageInfo& image) {
  std::array<std::uint8_t, kSignatureSize> signature{};
  std::size_t n = 0;
  auto put = [&](std::uint8_t b) {
    if (n < signature.size()) signature[n++] = b;
  };
  for (const char c : std::string("TAVO")) put(static_cast<std::uint8_t>(c));
  for (const char c : image.ModelName) put(static_cast<std::uint8_t>(c));
  for (int i = 4; i <= 24; ++i) put(image.HeaderCopy[static_cast<std::size_t>(i)]);
  return signature;
}

std::vector<std::uint8_t> ExpectedRegion(const ImageInfo& image,
                                         std::span<const std::uint8_t> image_file,
                                         LoaderFamily family) {
  std::vector<std::uint8_t> region = PlainRegion(image, image_file);
  const Placement p = SignaturePlacement(image, family, SourceBytes(image, image_file));
  const auto signature = ModelSignature(image);
  for (std::int64_t pos = p.from; pos < p.to; ++pos) {
    auto& b = region[static_cast<std::size_t>(pos)];
    b = static_cast<std::uint8_t>(b + signature[static_cast<std::size_t>(pos - p.first)]);
  }
  return region;
}

std::vector<std::string> CompareRegion(const ImageInfo& image,
                                       std::span<const std::uint8_t> image_file,
                                       LoaderFamily family,
                                       std::span<const std::uint8_t> received) {
  std::vector<std::string> findings;
  const std::vector<std::uint8_t> expected = ExpectedRegion(image, image_file, family);
  if (received.size() != expected.size()) {
    findings.push_back("received " + std::to_string(received.size()) + " bytes of a " +
                       std::to_string(expected.size()) + "-byte region");
  }
  const std::size_t common = std::min(received.size(), expected.size());
  std::size_t differing = 0;
  std::size_t first = common;
  for (std::size_t i = 0; i < common; ++i) {
    if (received[i] != expected[i]) {
      if (differing++ == 0) first = i;
    }
  }
  if (differing == 0) return findings;

  findings.push_back(std::to_string(differing) + " bytes differ from the image, first at byte " +
                     std::to_string(first) + " (block " + std::to_string(first / kBlockSize) +
                     ", offset " + std::to_string(first % kBlockSize) + "): got " +
                     Hex2(received[first]) + ", want " + Hex2(expected[first]));

  // Hints for the usual faults of a block sender: the signature left out, put
  // in the wrong place, or added where none belongs.
  const std::vector<std::uint8_t> plain = PlainRegion(image, image_file);
  const Placement p = SignaturePlacement(image, family, SourceBytes(image, image_file));
  auto inside = [&](std::size_t i) {
    const auto pos = static_cast<std::int64_t>(i);
    return pos >= p.from && pos < p.to;
  };
  bool placement_plain = true;
  std::size_t extra_elsewhere = 0;
  for (std::size_t i = 0; i < common; ++i) {
    if (received[i] == plain[i]) continue;
    if (inside(i)) {
      placement_plain = false;
    } else {
      ++extra_elsewhere;
    }
  }
  if (p.from < p.to && placement_plain) {
    if (extra_elsewhere == 0) {
      findings.push_back("the model signature is missing");
    } else if (extra_elsewhere <= kSignatureSize) {
      findings.push_back("the model signature is not where the rules put it");
    }
  } else if (p.from >= p.to && extra_elsewhere <= kSignatureSize) {
    findings.push_back("a model signature where none belongs");
  }
  return findings;
}

}  // namespace stbup
