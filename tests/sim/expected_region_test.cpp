#include "sim/expected_region.h"

#include <gtest/gtest.h>

#include "image/scramble_key.h"

namespace stbup {
namespace {

constexpr int kOffset = 50;  // where the payload starts in the test files

struct Case {
  std::string name;
  std::string type;
  LoaderFamily family;
  int payload_size;
  // Region offset of signature byte 0, and the [from, to) offsets that carry it.
  int first, from, to;
};

ImageInfo InfoFor(const Case& c, bool scrambled) {
  ImageInfo info;
  info.TypeName = c.type;
  info.ModelName = "ABC";
  for (int i = 0; i < ImageInfo::kHeaderCopySize; ++i) {
    info.HeaderCopy[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x30 + i);
  }
  info.SignatureEnabled = 1;
  info.ScrambleEnabled = scrambled ? 1 : 0;
  info.PayloadOffset = kOffset;
  info.PayloadSize = c.payload_size;
  const int padded = (c.payload_size + 1023) / 1024 * 1024;
  info.PaddedSize = padded;
  info.BlockCount = (padded / 1024 + 3) / 4 * 4;
  return info;
}

std::vector<std::uint8_t> PlainPayload(int size) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  for (int i = 0; i < size; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

std::vector<std::uint8_t> FileOf(const std::vector<std::uint8_t>& plain, bool scrambled) {
  std::vector<std::uint8_t> file(kOffset, 'h');
  for (std::size_t i = 0; i < plain.size(); ++i) {
    file.push_back(scrambled ? static_cast<std::uint8_t>(plain[i] + ScrambleKey[i % 1024])
                             : plain[i]);
  }
  return file;
}

class Placement : public ::testing::TestWithParam<Case> {};

TEST_P(Placement, SignatureGoesWhereTheRulesPutItAndNowhereElse) {
  const Case& c = GetParam();
  for (const bool scrambled : {false, true}) {
    const ImageInfo info = InfoFor(c, scrambled);
    const auto plain = PlainPayload(c.payload_size);
    const auto region = ExpectedRegion(info, FileOf(plain, scrambled), c.family);
    ASSERT_EQ(region.size(), static_cast<std::size_t>(info.BlockCount) * 1024);
    const auto sig = ModelSignature(info);
    for (int pos = 0; pos < static_cast<int>(region.size()); ++pos) {
      std::uint8_t want = pos < c.payload_size ? plain[static_cast<std::size_t>(pos)] : 0;
      if (pos >= c.from && pos < c.to) {
        want = static_cast<std::uint8_t>(want + sig[static_cast<std::size_t>(pos - c.first)]);
      }
      ASSERT_EQ(region[static_cast<std::size_t>(pos)], want)
          << c.name << " byte " << pos << (scrambled ? " scrambled" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Placement,
    ::testing::Values(
        // The trailer straddles blocks 1 and 2 (1008..1023 and 0..11).
        Case{"TwoLLCodeStraddling", "CODE", LoaderFamily::k2LL, 2060, 2032, 2032, 2060},
        Case{"TwoLLCodeWholeBlocks", "CODE", LoaderFamily::k2LL, 3072, 3044, 3044, 3072},
        // Block 0 never gets the trailer: only the part in block 1 remains.
        Case{"TwoLLCodeTrailerFromBlock0", "CODE", LoaderFamily::k2LL, 1040, 1012, 1024, 1040},
        Case{"TwoLLCodeSmall", "CODE", LoaderFamily::k2LL, 1000, 0, 0, 0},
        Case{"TwoLLOtherType", "LOADER", LoaderFamily::k2LL, 3000, 0, 0, 0},
        Case{"FiveFiveCodeFull", "CODE", LoaderFamily::k5518, 8192, 8164, 8164, 8192},
        // The last block holds no payload: padding covers the signature.
        Case{"FiveFiveCodeEmptyLastBlock", "CODE", LoaderFamily::k5518, 7000, 0, 0, 0},
        // 1012 payload bytes in the last block: 16 signature bytes survive.
        Case{"FiveFiveCodePartLastBlock", "CODE", LoaderFamily::k5518, 8180, 8164, 8164, 8180},
        Case{"FiveFiveOtherType", "DATABASE", LoaderFamily::k5518, 4096, 4068, 4068, 4096},
        Case{"ZcodeFiveFive", "ZCODE", LoaderFamily::k5518, 5000, 0, 0, 28},
        Case{"ZcodeTwoLL", "ZCODE", LoaderFamily::k2LL, 5000, 0, 0, 28},
        Case{"ZcodeTiny", "ZCODE", LoaderFamily::k2LL, 10, 0, 0, 10}),
    [](const auto& info) { return info.param.name; });

TEST(ModelSignature, BrandModelAndHeaderCutAt28) {
  ImageInfo info;
  for (int i = 0; i < ImageInfo::kHeaderCopySize; ++i) {
    info.HeaderCopy[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  }
  info.ModelName = "ABCDEF";
  const auto long_name = ModelSignature(info);
  EXPECT_EQ(std::string(long_name.begin(), long_name.begin() + 10), "TAVOABCDEF");
  EXPECT_EQ(long_name[10], 4);
  EXPECT_EQ(long_name[27], 21);
  info.ModelName = "A";
  const auto short_name = ModelSignature(info);
  EXPECT_EQ(short_name[5], 4);
  EXPECT_EQ(short_name[25], 24);
  EXPECT_EQ(short_name[26], 0);  // nothing left from an earlier build
  EXPECT_EQ(short_name[27], 0);
}

TEST(CompareRegion, WithoutSignatureTheWireIsThePayload) {
  Case c{"", "CODE", LoaderFamily::k5518, 1500, 0, 0, 0};
  ImageInfo info = InfoFor(c, false);
  info.SignatureEnabled = 0;
  const auto plain = PlainPayload(1500);
  std::vector<std::uint8_t> received = plain;
  received.resize(4096, 0);
  EXPECT_TRUE(CompareRegion(info, FileOf(plain, false), c.family, received).empty());
  received[2000] = 1;  // padding must be zero
  const auto findings = CompareRegion(info, FileOf(plain, false), c.family, received);
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(findings[0],
            "1 bytes differ from the image, first at byte 2000 (block 1, offset 976): got 0x01, "
            "want 0x00");
  received.resize(3072);
  EXPECT_EQ(CompareRegion(info, FileOf(plain, false), c.family, received)[0],
            "received 3072 bytes of a 4096-byte region");
}

}  // namespace
}  // namespace stbup
