#include "image/image_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/check_code.h"
#include "image/image_writer.h"

namespace stbup {
namespace {

const std::string kCode = BuildImageCheckCode();

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// A header with every fixed field filled, then the given model area and tail.
std::string Header(std::string_view model_area, char type = 'C',
                   std::string_view start = "0000000016") {
  return "TAVO" + std::string("AABBCC") + "010AFF" + "0203A0" + std::string(start) + type +
         std::string(model_area);
}

ParsedImage Parse(std::string_view bytes, std::int64_t size = -1) {
  const auto data = Bytes(bytes);
  return ParseImage(data, size < 0 ? static_cast<std::int64_t>(data.size()) : size, kCode);
}

TEST(CheckCodeTest, IsEightDecimalDigits) {
  ASSERT_EQ(kCode.size(), 8u);
  for (const char c : kCode) EXPECT_TRUE(c >= '0' && c <= '9') << kCode;
}

TEST(GeometryTest, RoundsToBlocksAndBlockCountToFours) {
  struct Case {
    std::int64_t size;
    std::int32_t padded;
    std::int32_t blocks;
  };
  for (const Case& c : {Case{1'000'000, 1'000'448, 980}, Case{4097, 5120, 8}, Case{4096, 4096, 4},
                        Case{192, 1024, 4}, Case{0, 0, 0}, Case{1, 1024, 4}, Case{1024, 1024, 4},
                        Case{-100, 1024, 4}, Case{-135, 1024, 4},
                        Case{std::int64_t{5} << 32, 0x7FFFF000, 0x1FFFFC}}) {
    const ImageGeometry g = ComputeGeometry(c.size);
    EXPECT_EQ(g.PaddedSize, c.padded) << c.size;
    EXPECT_EQ(g.BlockCount, c.blocks) << c.size;
  }
}

TEST(ParseImageTest, FirmwareFieldsAndSizeText) {
  const ParsedImage image =
      Parse(Header("STB-1x") + std::string(1'000'000, 'p'), Header("STB-1x").size() + 1'000'000);
  EXPECT_EQ(image.format, ImageFormat::kFirmware);
  EXPECT_EQ(image.HardwareVersion, (std::array<std::int32_t, 3>{0x01, 0x0A, 0xFF}));
  EXPECT_EQ(image.SoftwareVersion, (std::array<std::int32_t, 3>{0x02, 0x03, 0xA0}));
  EXPECT_EQ(image.StartBlock, 16);
  EXPECT_EQ(image.TypeName, "CODE");
  EXPECT_EQ(image.ModelName, "STB-1");
  EXPECT_EQ(image.PayloadOffset, 39);
  EXPECT_EQ(image.PayloadSize, 1'000'000);
  EXPECT_EQ(image.geometry.PaddedSize, 1'000'448);
  EXPECT_EQ(image.geometry.BlockCount, 980);
  EXPECT_EQ(image.start_block_edit + image.size_text, "16  (1003520 Bytes)");
  EXPECT_EQ(image.SignatureEnabled, 0);
  EXPECT_EQ(image.ScrambleEnabled, 0);
  EXPECT_EQ(image.log_lines, std::vector<std::string>{"> Old version binary."});
}

TEST(ParseImageTest, HeaderCopyIsTheFirst101RawBytesZeroPadded) {
  std::string bytes = Header("Mx") + std::string(200, '\xEE');
  bytes[5] = '\0';  // a zero byte does not stop the raw copy
  const ParsedImage image = Parse(bytes);
  EXPECT_EQ(image.HeaderCopy[5], 0);
  EXPECT_EQ(image.HeaderCopy[100], 0xEE);
  EXPECT_EQ(Parse("TAVO").HeaderCopy[4], 0);
}

TEST(ParseImageTest, HexPairs) {
  struct Case {
    std::string hw;  // offsets 10..15
    std::array<std::int32_t, 3> expected;
  };
  for (const Case& c : {Case{"0aFfC3", {0x0A, 0xFF, 0xC3}}, Case{"G1 1-1", {0, 0, 0}},
                        Case{"$1x2 f", {0, 0, 0}}, Case{"7f0g01", {0x7F, 0, 0x01}}}) {
    std::string bytes = Header("Mx");
    bytes.replace(10, 6, c.hw);
    EXPECT_EQ(Parse(bytes).HardwareVersion, c.expected) << c.hw;
  }
  // A pair cut short by the end of the header text reads 0, even if valid.
  std::string cut = Header("Mx");
  cut[15] = '\0';
  EXPECT_EQ(Parse(cut).HardwareVersion, (std::array<std::int32_t, 3>{0x01, 0x0A, 0}));
}

TEST(ParseImageTest, StartBlockIsStrict) {
  struct Case {
    std::string field;
    std::optional<std::int32_t> expected;
  };
  // Leading blanks and zeros only: a tab is no blank.
  for (const Case& c : {Case{"0000000016", 16}, Case{"        16", 16}, Case{"+000000005", 5},
                        Case{"16        ", std::nullopt}, Case{"00000001a6", std::nullopt},
                        Case{"          ", std::nullopt}, Case{"9999999999", std::nullopt},
                        Case{"\t000000016", std::nullopt}, Case{" \t00000016", std::nullopt}}) {
    const ParsedImage image = Parse(Header("Mx", 'C', c.field) + "payload");
    EXPECT_EQ(image.StartBlock, c.expected) << c.field;
    EXPECT_EQ(image.start_block_text, c.field);
    EXPECT_EQ(image.format, ImageFormat::kFirmware) << c.field;
  }
  // A negative start block names no block of any flash: refused.
  const ParsedImage negative = Parse(Header("Mx", 'C', "-000000016") + "payload");
  EXPECT_EQ(negative.format, ImageFormat::kRefused);
  EXPECT_EQ(negative.refusal, "the start block is negative");
}

TEST(ParseImageTest, ZeroBytesInTheHeaderText) {
  // Before the type letter: no type, no model; the terminator search is raw.
  std::string early = Header("Mx");
  early[31] = '\0';
  const ParsedImage no_type = Parse(early);
  EXPECT_EQ(no_type.start_block_text, "000000001");
  EXPECT_EQ(no_type.StartBlock, 1);
  EXPECT_EQ(no_type.TypeName, "NONE");
  EXPECT_EQ(no_type.ModelName, "");
  EXPECT_EQ(no_type.PayloadOffset, 35);

  // At or before offset 22: the start block is empty, a conversion error.
  for (const std::size_t at : {22u, 20u}) {
    std::string bytes = Header("Mx");
    bytes[at] = '\0';
    const ParsedImage image = Parse(bytes);
    EXPECT_FALSE(image.StartBlock.has_value()) << at;
    EXPECT_EQ(image.start_block_text, "") << at;
  }
}

TEST(ParseImageTest, TypeLettersAreCaseSensitive) {
  const std::vector<std::pair<char, std::string>> table = {
      {'C', "CODE"},       {'D', "DATABASE"},      {'S', "TDBASE"},        {'A', "ATSKY"},
      {'L', "LOADER"},     {'l', "LOADER128K"},    {'T', "S-LOADER"},      {'t', "S-LOADER128K"},
      {'m', "LOADER256K"}, {'M', "NA_LOADER128K"}, {'n', "NA_LOADER256K"}, {'N', "NA_DATABASE"},
      {'<', "SS_LOADER"},  {'>', "SS_LOADER128K"}, {'^', "SS_LOADER256K"}, {'Z', "ZCODE"},
      {'J', "JCODE"},      {'B', "JLOADER"},       {'c', "NONE"},          {'s', "NONE"},
      {' ', "NONE"},       {'z', "NONE"},          {'\xC3', "NONE"}};
  for (const auto& [letter, name] : table) {
    EXPECT_EQ(Parse(Header("Mx", letter)).TypeName, name) << letter;
  }
  EXPECT_EQ(TypeNameOf(""), "NONE");
  EXPECT_EQ(TypeNameOf("CC"), "NONE");
}

TEST(ParseImageTest, TerminatorSearch) {
  struct Case {
    std::string name;
    std::string model_area;
    int n;
    std::string model;
  };
  const std::vector<Case> cases = {
      {"x at 33 belongs to the model", "xAx", 2, "xA"},
      {"first x from 34 ends the header", "Axbx", 1, "A"},
      {"single-byte model", "Qx", 1, "Q"},
      {"100-byte model area", std::string(100, 'a') + "x", 100, std::string(100, 'a')},
      {"no x in 34..133", std::string(150, 'b'), 101, std::string(101, 'b')},
      {"x only at 134 is not found", std::string(101, 'c') + "x", 101, std::string(101, 'c')},
  };
  for (const Case& c : cases) {
    const ParsedImage image = Parse(Header(c.model_area));
    EXPECT_EQ(image.model_area_length, c.n) << c.name;
    EXPECT_EQ(image.PayloadOffset, 34 + c.n) << c.name;
    EXPECT_EQ(image.ModelName, c.model) << c.name;
  }
  // The search reads raw bytes past a zero byte that ended the header text.
  const ParsedImage past_zero = Parse(Header(std::string("AB\0CDx", 6)));
  EXPECT_EQ(past_zero.model_area_length, 5);
  EXPECT_EQ(past_zero.ModelName, "AB");
  // Header text ends where the model area begins: empty model, raw search still runs.
  std::string short_text = Header("ABCx");
  short_text[33] = '\0';
  EXPECT_EQ(Parse(short_text).ModelName, "");
  EXPECT_EQ(Parse(short_text).PayloadOffset, 37);
}

TEST(ParseImageTest, HeadersWithoutAPayloadAreRefused) {
  struct Case {
    std::string name;
    std::string bytes;
    std::int64_t size;
    std::string refusal;
  };
  const std::string cut = Header("");
  const std::vector<Case> cases = {
      {"no terminator, nothing after", Header("ABC"), -1, "the file ends inside its header"},
      {"cut after the type letter", cut.substr(0, 33), -1, "the file ends inside its header"},
      {"header only", Header("ABCx"), -1, "the image has no payload"},
      {"TDBASE header only", Header("ABCx", 'S'), -1, "the image has no payload"},
      {"beyond 32 bits", Header("Mx"), std::int64_t{3} << 31,
       "the payload is larger than any flash"},
      {"100 GB", Header("Mx"), std::int64_t{100} << 30, "the payload is larger than any flash"},
      {"audio picture, header only", "TIFRAME\0\0", 9, "the image has no payload"},
  };
  for (const Case& c : cases) {
    const ParsedImage image = Parse(c.bytes, c.size);
    EXPECT_EQ(image.format, ImageFormat::kRefused) << c.name;
    EXPECT_EQ(image.refusal, c.refusal) << c.name;
  }
  // The largest payload that still fits 32 bits is accepted.
  const ParsedImage largest = Parse(Header("Mx"), 35 + kMaxPayloadSize);
  EXPECT_EQ(largest.format, ImageFormat::kFirmware);
  EXPECT_EQ(largest.PayloadSize, kMaxPayloadSize);
}

std::string NewArea(std::string_view model, std::string_view code, char flag,
                    bool code_zero = true) {
  std::string area(model);
  area += '\0';
  area += ScrambleCheckCode(code);
  if (code_zero) area += '\0';
  area += flag;
  return area + "x";
}

TEST(ParseImageTest, CheckCodes) {
  struct Case {
    std::string name;
    std::string area;
    CheckCodeVerdict verdict;
    std::int32_t signature;
    std::uint8_t scramble;
    bool waive_model;
    bool waive_hardware;
    std::vector<std::string> lines;
  };
  const std::vector<std::string> illegal(kIllegalBinaryLines.begin(), kIllegalBinaryLines.end());
  const std::vector<Case> cases = {
      {"own code",
       NewArea("M1", kCode, 1),
       CheckCodeVerdict::kImageCheckCode,
       1,
       0,
       false,
       false,
       {"> New version binary."}},
      {"own code, format 2",
       NewArea("M1", kCode, 2),
       CheckCodeVerdict::kImageCheckCode,
       1,
       1,
       false,
       false,
       {"> New version binary."}},
      {"model wildcard",
       NewArea("M1", "kestrelowl", 1),
       CheckCodeVerdict::kModelWildcard,
       1,
       0,
       true,
       false,
       {}},
      {"hardware wildcard",
       NewArea("M1", "marblefig", 2),
       CheckCodeVerdict::kHardwareWildcard,
       1,
       1,
       false,
       true,
       {}},
      {"wrong code, format 1", NewArea("M1", "12345678", 1), CheckCodeVerdict::kIllegal, 0, 0,
       false, false, illegal},
      {"wrong code, format 2", NewArea("M1", "12345678", 2), CheckCodeVerdict::kIllegal, 1, 1,
       false, false, illegal},
      {"wildcard in other case", NewArea("M1", "Kestrelowl", 1), CheckCodeVerdict::kIllegal, 0, 0,
       false, false, illegal},
      {"code without its zero byte", NewArea("M1", kCode, 1, false), CheckCodeVerdict::kIllegal, 0,
       0, false, false, illegal},
      {"old format", "M1x", CheckCodeVerdict::kNone, 0, 0, false, false, {"> Old version binary."}},
      {"flag 3 is old format",
       "M1\x03x",
       CheckCodeVerdict::kNone,
       0,
       0,
       false,
       false,
       {"> Old version binary."}},
  };
  for (const Case& c : cases) {
    const ParsedImage image = Parse(Header(c.area));
    EXPECT_EQ(image.verdict, c.verdict) << c.name;
    EXPECT_EQ(image.SignatureEnabled, c.signature) << c.name;
    EXPECT_EQ(image.ScrambleEnabled, c.scramble) << c.name;
    EXPECT_EQ(image.waive_model_check, c.waive_model) << c.name;
    EXPECT_EQ(image.waive_hardware_check, c.waive_hardware) << c.name;
    EXPECT_EQ(image.log_lines, c.lines) << c.name;
    EXPECT_EQ(image.ModelName,
              c.verdict == CheckCodeVerdict::kNone ? c.area.substr(0, c.area.size() - 1) : "M1")
        << c.name;
  }
  // Without the zero byte the flag itself is decoded into the code.
  const ParsedImage fused = Parse(Header(NewArea("M1", kCode, 1, false)));
  EXPECT_EQ(fused.check_code, kCode + static_cast<char>(1 - 136 - 8));
}

TEST(ParseImageTest, NewFormatWithEmptyModelName) {
  const ParsedImage image = Parse(Header(NewArea("", kCode, 1)));
  EXPECT_EQ(image.ModelName, "");
  EXPECT_EQ(image.check_code, kCode);
  EXPECT_EQ(image.SignatureEnabled, 1);
}

TEST(ParseImageTest, TdbaseKeepsPayloadSize) {
  const ParsedImage image = Parse(Header("Mx", 'S') + std::string(50'000, 'd'));
  EXPECT_EQ(image.TypeName, "TDBASE");
  EXPECT_FALSE(image.PayloadSize.has_value());
  EXPECT_EQ(image.geometry.PaddedSize, 1024);
  EXPECT_EQ(image.geometry.BlockCount, 4);
  EXPECT_EQ(image.size_text, "  (4096 Bytes)");
}

TEST(ParseImageTest, LargestPayloadKeepsGeometryWithin32Bits) {
  const ParsedImage image = Parse(Header("Mx"), 35 + kMaxPayloadSize);
  EXPECT_EQ(image.PayloadSize, 0x7FFFF000);
  EXPECT_EQ(image.geometry.BlockCount, 0x1FFFFC);
  EXPECT_EQ(image.size_text, "  (2147479552 Bytes)");
}

TEST(ParseImageTest, Markers) {
  struct Case {
    std::string bytes;
    ImageFormat format;
  };
  // Each with a payload behind its header (HeadersWithoutAPayloadAreRefused).
  const std::vector<Case> cases = {
      {Header("Mx") + "p", ImageFormat::kFirmware},
      {"ZUB2LL" + Header("Mx"), ImageFormat::kRefused},
      {"ZUB2L", ImageFormat::kRefused},
      {"TAV", ImageFormat::kRefused},
      {"tavo" + Header("Mx").substr(4), ImageFormat::kRefused},
      {"", ImageFormat::kRefused},
      {std::string("\0TAVO", 5), ImageFormat::kRefused},
      {"TIFRAMEab", ImageFormat::kRefused},
      {"TIFRAMEabcdef", ImageFormat::kAudioBackground},
      {std::string("IFRAME\x01\x02P\0\0\x01", 12), ImageFormat::kRadioBackground},
      {std::string("IFRAME\x01\x02P\0\0\x00", 12), ImageFormat::kRadioBackground},
      {std::string("IFRAME\x01\x02P\0\0\x02", 12), ImageFormat::kRefused},
      {std::string("IFRAME\x01\x02Q\0\0\x01", 12), ImageFormat::kRefused},
      {std::string("IFRAME\x01\x02P\0\x01\x01", 12), ImageFormat::kRefused},
      {std::string("IFRAME\x01\x02PP\0\x01", 12), ImageFormat::kRefused},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.bytes).format, c.format) << c.bytes;
}

TEST(ParseImageTest, BackgroundFormats) {
  const ParsedImage audio = Parse("TIFRAME", 9 + 5000);
  EXPECT_EQ(audio.PayloadOffset, 9);
  EXPECT_EQ(audio.StartBlock, 4);
  EXPECT_EQ(audio.TypeName, "DATABASE");
  EXPECT_EQ(audio.ModelName, "?");
  EXPECT_FALSE(audio.PayloadSize.has_value());
  EXPECT_EQ(audio.geometry.PaddedSize, 5120);
  EXPECT_EQ(audio.geometry.BlockCount, 8);
  EXPECT_EQ(audio.log_lines, (std::vector<std::string>{"> Audio-BackGround format.!!",
                                                       "=============================", ""}));
  EXPECT_EQ(audio.start_block_edit + audio.size_text, "4  (8192 Bytes)");

  const ParsedImage radio = Parse(std::string("IFRAME\x12\x34P\0\0\x01", 12), 8 + 4096);
  EXPECT_EQ(radio.PayloadOffset, 8);
  EXPECT_EQ(radio.StartBlock, 0x1234);
  EXPECT_EQ(radio.geometry.PaddedSize, 4096);
  EXPECT_EQ(radio.log_lines.front(), "> Radio-BackGround format.!!");
  EXPECT_EQ(radio.start_block_edit + radio.size_text, "4660  (4096 Bytes)");
  EXPECT_EQ(radio.SignatureEnabled, 0);
  EXPECT_EQ(radio.ScrambleEnabled, 0);
}

TEST(ParseImageTest, ArbitraryBytesNeverBreakTheParser) {
  std::mt19937 random(20260208);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 1500);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length(random)));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(random));
    // Half of them get a marker so the firmware path is exercised too.
    if (round % 2 == 0 && bytes.size() >= 4) std::copy_n("TAVO", 4, bytes.begin());
    const ParsedImage image = ParseImage(bytes, static_cast<std::int64_t>(bytes.size()), kCode);
    if (image.format == ImageFormat::kFirmware && image.StartBlock) {
      EXPECT_GE(image.PayloadOffset, 35);
      EXPECT_LE(image.PayloadOffset, 135);
      EXPECT_LE(image.ModelName.size(), 101u);
      EXPECT_EQ(image.geometry.BlockCount % 4, 0);
      EXPECT_EQ(image.geometry.PaddedSize % 1024, 0);
    }
  }
}

}  // namespace
}  // namespace stbup
