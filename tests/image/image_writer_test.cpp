#include "image/image_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/check_code.h"
#include "image/image_parser.h"
#include "image/image_reader.h"
#include "image/scramble_key.h"
#include "seams/errors.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

std::vector<std::uint8_t> Payload(std::size_t size) {
  std::vector<std::uint8_t> payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return payload;
}

TEST(ImageWriterTest, HeaderBytesAreExact) {
  ImageSpec recipe;
  recipe.reserved = {0xAB, 0x00, 0x01};
  recipe.hardware_version = {0x01, 0x0A, 0xFF};
  recipe.software_version = {0x02, 0x03, 0x04};
  recipe.start_block = 16;
  recipe.type_letter = 'l';
  recipe.model_name = "M1";
  const auto old_header = BuildImageHeader(recipe);
  EXPECT_EQ(std::string(old_header.begin(), old_header.end()),
            "TAVOAB0001010AFF0203040000000016lM1x");

  recipe.format = ImageFileFormat::kScrambled;
  recipe.check_code = "09";
  const auto new_header = BuildImageHeader(recipe);
  EXPECT_EQ(std::string(new_header.begin() + 33, new_header.end()),
            std::string("M1\0\xB8\xC2\0\x02x", 8));  // '0'+136, '9'+137
}

TEST(ImageWriterTest, ScrambledPayloadAddsTheKeyPerSlice) {
  ImageSpec recipe;
  recipe.format = ImageFileFormat::kScrambled;
  recipe.check_code = BuildImageCheckCode();
  const auto payload = Payload(2500);
  const auto image = BuildImage(recipe, payload);
  const std::size_t offset = BuildImageHeader(recipe).size();
  ASSERT_EQ(image.size(), offset + payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) {
    ASSERT_EQ(static_cast<std::uint8_t>(image[offset + i] - ScrambleKey[i % 1024]), payload[i])
        << i;
  }
  recipe.format = ImageFileFormat::kNew;
  const auto plain = BuildImage(recipe, payload);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), plain.end() - 2500));
}

TEST(ImageWriterTest, RoundTripEveryTypeLetterAndFormat) {
  struct Format {
    ImageFileFormat format;
    std::string code;
    std::int32_t signature;
    std::uint8_t scramble;
    std::uint8_t model_waived;
    std::uint8_t hardware_waived;
  };
  const std::vector<Format> formats = {
      {ImageFileFormat::kOld, "", 0, 0, 0, 0},
      {ImageFileFormat::kNew, BuildImageCheckCode(), 1, 0, 0, 0},
      {ImageFileFormat::kNew, "kestrelowl", 1, 0, 1, 0},
      {ImageFileFormat::kNew, "marblefig", 1, 0, 0, 1},
      {ImageFileFormat::kScrambled, BuildImageCheckCode(), 1, 1, 0, 0},
      {ImageFileFormat::kScrambled, "kestrelowl", 1, 1, 1, 0},
  };
  const std::string letters = "CDSALlTtmMnN<>^ZJB";
  TempDir dir;
  for (const Format& f : formats) {
    for (const char letter : letters) {
      ImageSpec recipe;
      recipe.format = f.format;
      recipe.check_code = f.code;
      recipe.type_letter = letter;
      recipe.hardware_version = {0x10, 0x20, static_cast<std::uint8_t>(letter)};
      recipe.software_version = {0xFE, 0x00, 0x7F};
      recipe.start_block = 1234;
      recipe.model_name = "xTZ-100";
      ASSERT_FALSE(ImageSpecProblem(recipe).has_value());
      const std::string path = dir.WriteFile("r.bin", BuildImage(recipe, Payload(5000)));
      const ImageInfo info = ReadImageInfo(path);
      const std::string context = std::string(1, letter) + " " + f.code;
      EXPECT_EQ(info.TypeName, TypeNameOf(std::string(1, letter))) << context;
      EXPECT_NE(info.TypeName, "NONE") << context;
      EXPECT_EQ(info.ModelName, "xTZ-100") << context;
      EXPECT_EQ(info.HardwareVersion, (std::array<std::int32_t, 3>{0x10, 0x20, letter})) << context;
      EXPECT_EQ(info.SoftwareVersion, (std::array<std::int32_t, 3>{0xFE, 0x00, 0x7F})) << context;
      EXPECT_EQ(info.StartBlock, 1234) << context;
      EXPECT_EQ(info.SignatureEnabled, f.signature) << context;
      EXPECT_EQ(info.ScrambleEnabled, f.scramble) << context;
      EXPECT_EQ(info.ModelCheckWaived, f.model_waived) << context;
      EXPECT_EQ(info.HardwareCheckWaived, f.hardware_waived) << context;
      EXPECT_EQ(info.PayloadOffset, static_cast<std::int32_t>(BuildImageHeader(recipe).size()));
      if (letter == 'S') {
        EXPECT_EQ(info.PaddedSize, 1024) << context;
      } else {
        EXPECT_EQ(info.PayloadSize, 5000) << context;
        EXPECT_EQ(info.PaddedSize, 5120) << context;
        EXPECT_EQ(info.BlockCount, 8) << context;
      }
    }
  }
}

TEST(ImageWriterTest, ProblemsWithSpecsThatWouldNotLoadBack) {
  struct Case {
    std::string name;
    ImageSpec recipe;
    bool problem;
  };
  auto with = [](auto change) {
    ImageSpec recipe;
    change(recipe);
    return recipe;
  };
  const std::vector<Case> cases = {
      {"default", ImageSpec{}, false},
      {"x first is fine", with([](ImageSpec& s) { s.model_name = "xA"; }), false},
      {"x later ends the header", with([](ImageSpec& s) { s.model_name = "Axe"; }), true},
      {"empty old model", with([](ImageSpec& s) { s.model_name = ""; }), true},
      {"empty new model", with([](ImageSpec& s) {
         s.model_name = "";
         s.format = ImageFileFormat::kNew;
         s.check_code = "1";
       }),
       false},
      {"100-byte area", with([](ImageSpec& s) { s.model_name = std::string(100, 'a'); }), false},
      {"101-byte area", with([](ImageSpec& s) { s.model_name = std::string(101, 'a'); }), true},
      {"new area over 100", with([](ImageSpec& s) {
         s.model_name = std::string(90, 'a');
         s.format = ImageFileFormat::kNew;
         s.check_code = "12345678";
       }),
       true},
      {"zero byte in model", with([](ImageSpec& s) { s.model_name = std::string("a\0b", 3); }),
       true},
      {"old model ending in 2", with([](ImageSpec& s) { s.model_name = "ab\x02"; }), true},
      {"start block too wide", with([](ImageSpec& s) { s.start_block = INT32_MIN; }), true},
      // A negative start block loads as a refusal, so it is a problem too.
      {"negative start block", with([](ImageSpec& s) { s.start_block = -5; }), true},
      {"code scrambling to x", with([](ImageSpec& s) {
         s.format = ImageFileFormat::kNew;
         s.check_code = "\xF0";  // 0xF0 + 136 = 0x78
       }),
       true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ImageSpecProblem(c.recipe).has_value(), c.problem) << c.name;
}

TEST(ImageWriterTest, UncreatableFileRaisesTheSystemMessage) {
  TempDir dir;
  const std::string path = dir.PathOf("no/such/dir.bin");
  try {
    WriteImageFile(path, ImageSpec{}, {});
    FAIL();
  } catch (const EFileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot create file \"" + path + "\". No such file or directory");
  }
}

}  // namespace
}  // namespace stbup
