#pragma once

#include <numeric>

#include "image/scramble_key.h"
#include "tests/protocol/engine_fixture.h"
#include "tests/support/temp_dir.h"

namespace stbup {

using Bytes = std::string;

inline Bytes PatternPayload(std::size_t size, unsigned seed = 7) {
  Bytes payload(size, '\0');
  unsigned value = seed;
  for (char& byte : payload) {
    value = value * 1103515245u + 12345u;
    byte = static_cast<char>(value >> 16);
  }
  return payload;
}

inline std::uint8_t Sum(std::string_view bytes) {
  return static_cast<std::uint8_t>(
      std::accumulate(bytes.begin(), bytes.end(), 0u,
                      [](unsigned sum, char c) { return sum + static_cast<std::uint8_t>(c); }));
}

// The signature as the box expects it: "TAVO", the model name, then image
// header bytes 4 to 24, cut at 28 bytes.
inline Bytes ExpectedSignature(std::string_view model, std::string_view header) {
  Bytes signature = "TAVO" + std::string(model) + std::string(header.substr(4, 21));
  signature.resize(28, '\0');
  return signature;
}

// Adds signature bytes onto a region of plain bytes (mod 256).
inline void Place(Bytes& bytes, std::size_t at, std::string_view signature, std::size_t from = 0,
                  std::size_t count = 28) {
  for (std::size_t k = 0; k < count; ++k) {
    bytes[at + k] = static_cast<char>(static_cast<std::uint8_t>(bytes[at + k]) +
                                      static_cast<std::uint8_t>(signature[from + k]));
  }
}

// An image file in a temp dir: a text header of header_size bytes, then the
// payload (stored scrambled when asked), with ImageInfo filled by hand.
class DownloadTest : public EngineTest {
 protected:
  static constexpr std::size_t kHeaderSize = 48;

  void UseImage(const Bytes& payload, bool signature, bool scramble,
                std::string_view type = "CODE") {
    header = "TAVO0000002011050100330000000016C" + std::string(image.ModelName);
    header.resize(kHeaderSize, 'h');
    header.back() = 'x';
    Bytes stored = payload;
    if (scramble) {
      for (std::size_t i = 0; i < stored.size(); ++i) {
        stored[i] = static_cast<char>(static_cast<std::uint8_t>(stored[i]) + ScrambleKey[i % 1024]);
      }
    }
    const Bytes file = header + stored;
    image.ImageFileName = dir.WriteFile("image.bin", file);
    image.HeaderCopy.fill(0);
    std::copy_n(file.begin(), std::min<std::size_t>(file.size(), ImageInfo::kHeaderCopySize),
                image.HeaderCopy.begin());
    image.PayloadOffset = static_cast<std::int32_t>(kHeaderSize);
    image.PayloadSize = static_cast<std::int32_t>(payload.size());
    image.PayloadBytesRead = 0;
    image.PaddedSize = static_cast<std::int32_t>((payload.size() + 1023) / 1024 * 1024);
    image.BlockCount = (image.PaddedSize / 1024 + 3) / 4 * 4;
    image.SignatureEnabled = signature ? 1 : 0;
    image.ScrambleEnabled = scramble ? 1 : 0;
    SetType(type);
  }

  Bytes Signature() const { return ExpectedSignature(image.ModelName, header); }

  // The 1025 bytes of one answered request, checked for their form.
  Bytes RequestBlock(int number) {
    link.ClearWrites();
    engine.Receive("REQUEST_1024DOWN:" + FormatBlockNumber(number) + "\n");
    EXPECT_EQ(link.writes.size(), 2u);
    if (link.writes.size() != 2) return {};
    EXPECT_EQ(link.writes[0].kind, RecordingLink::Kind::kBuf);
    EXPECT_EQ(link.writes[1].kind, RecordingLink::Kind::kText);
    EXPECT_EQ(link.writes[0].bytes.size(), 1024u);
    EXPECT_EQ(link.writes[1].bytes.size(), 1u);
    EXPECT_EQ(static_cast<std::uint8_t>(link.writes[1].bytes[0]), Sum(link.writes[0].bytes));
    Bytes block = link.writes[0].bytes;
    link.TakeWire();
    return block;
  }

  // "REQUEST_DOWNLOAD" then every block requested and acknowledged once.
  Bytes DownloadAll(int blocks) {
    engine.Receive("REQUEST_DOWNLOAD\n");
    Bytes received;
    for (int k = 0; k < blocks; ++k) {
      received += RequestBlock(k);
      engine.Receive("1024DOWN_SUCCESS:" + FormatBlockNumber(k) + "\n");
    }
    return received;
  }

  // The plain payload padded with zeros to whole blocks of the region.
  Bytes Padded(const Bytes& payload) const {
    Bytes region = payload;
    region.resize(static_cast<std::size_t>(image.BlockCount) * 1024, '\0');
    return region;
  }

  TempDir dir;
  Bytes header;
};

}  // namespace stbup
