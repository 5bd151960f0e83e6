#include "cli/mkimage_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "image/check_code.h"
#include "image/image_reader.h"
#include "image/scramble_key.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Stbup(const std::vector<std::string>& args) {
  CommandRegistry registry("stbup");
  AddMkimageCommand(registry);
  std::ostringstream out;
  std::ostringstream err;
  const int status = registry.Execute(args, out, err);
  return {status, out.str(), err.str()};
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MkimageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string bytes(3000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 253);
    payload_ = dir_.WriteFile("payload.raw", bytes);
    plain_ = bytes;
  }
  TempDir dir_;
  std::string payload_;
  std::string plain_;
};

TEST_F(MkimageTest, WritesEveryFormatThatLoadsBack) {
  struct Case {
    std::vector<std::string> options;
    std::string type;
    std::int32_t signature;
    std::uint8_t scramble;
    std::uint8_t model_waived;
    std::uint8_t hardware_waived;
  };
  const std::vector<Case> cases = {
      {{}, "CODE", 0, 0, 0, 0},
      {{"--format", "new", "--type", "l"}, "LOADER128K", 1, 0, 0, 0},
      {{"--format", "new", "--type", "TDBASE", "--wildcard", "model"}, "TDBASE", 1, 0, 1, 0},
      {{"--format", "scrambled", "--wildcard", "hardware", "--type", "^"},
       "SS_LOADER256K",
       1,
       1,
       0,
       1},
      {{"--format", "new", "--code", "31415926"}, "CODE", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string output = dir_.PathOf("out.bin");
    std::vector<std::string> args = {"mkimage",       "--hw", "01.0a.FF", "--sw", "020033",
                                     "--start-block", "768",  "--model",  "xSTB"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(payload_);
    args.push_back(output);
    const Result result = Stbup(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const ImageInfo info = ReadImageInfo(output);
    EXPECT_EQ(info.TypeName, c.type);
    EXPECT_EQ(info.ModelName, "xSTB");
    EXPECT_EQ(info.HardwareVersion, (std::array<std::int32_t, 3>{1, 10, 255}));
    EXPECT_EQ(info.SoftwareVersion, (std::array<std::int32_t, 3>{2, 0, 0x33}));
    EXPECT_EQ(info.StartBlock, 768);
    EXPECT_EQ(info.SignatureEnabled, c.signature) << c.type;
    EXPECT_EQ(info.ScrambleEnabled, c.scramble) << c.type;
    EXPECT_EQ(info.ModelCheckWaived, c.model_waived) << c.type;
    EXPECT_EQ(info.HardwareCheckWaived, c.hardware_waived) << c.type;
    const std::string bytes = Contents(output);
    ASSERT_EQ(bytes.size(), info.PayloadOffset + plain_.size());
    for (std::size_t i = 0; i < plain_.size(); ++i) {
      const auto stored = static_cast<std::uint8_t>(bytes[info.PayloadOffset + i]);
      const std::uint8_t key = c.scramble ? ScrambleKey[i % 1024] : 0;
      ASSERT_EQ(static_cast<std::uint8_t>(stored - key), static_cast<std::uint8_t>(plain_[i])) << i;
    }
  }
}

TEST_F(MkimageTest, DefaultNewImageCarriesTheToolsCode) {
  const std::string output = dir_.PathOf("n.bin");
  const Result result = Stbup({"mkimage", "--format", "new", payload_, output});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, output + ": new format, CODE, header 50 bytes, payload 3000 bytes\n");
  EXPECT_NE(Contents(output).find(ScrambleCheckCode(BuildImageCheckCode())), std::string::npos);
}

TEST_F(MkimageTest, BadOptionsAreUsageErrors) {
  const std::string output = dir_.PathOf("bad.bin");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--hw", "1.2.3"}, "stbup: --hw must be three hexadecimal bytes, e.g. 01.0A.FF\n"},
      {{"--sw", "0G0000"}, "stbup: --sw must be three hexadecimal bytes, e.g. 01.0A.FF\n"},
      {{"--format", "zip"}, "stbup: --format must be old, new or scrambled\n"},
      {{"--type", "WIDGET"}, "stbup: unknown type \"WIDGET\": give a type letter or a type name\n"},
      {{"--model", "Maxi"},
       "stbup: the model name must not hold \"x\" after its first character\n"},
      {{"--code", "123"}, "stbup: an old-format image has no check code\n"},
      {{"--format", "new", "--wildcard", "both"}, "stbup: --wildcard must be model or hardware\n"},
      {{"--format", "new", "--code", "1", "--wildcard", "model"},
       "stbup: --code and --wildcard exclude each other\n"},
      {{"--start-block", "-16"}, "stbup: the start block must not be negative\n"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {"mkimage"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(payload_);
    args.push_back(output);
    const Result result = Stbup(args);
    EXPECT_EQ(result.status, 2) << message;
    EXPECT_EQ(result.err, message);
  }
  EXPECT_EQ(Stbup({"mkimage", dir_.PathOf("missing"), output}).status, 2);
  EXPECT_EQ(Stbup({"mkimage", payload_}).status, 2);
  EXPECT_EQ(Stbup({"mkimage", "--start-block", "ten", payload_, output}).status, 2);
  const Result empty = Stbup({"mkimage", dir_.WriteFile("empty.raw", ""), output});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "stbup: the payload is empty\n");
  std::ifstream none(output);
  EXPECT_FALSE(none.good());
}

TEST_F(MkimageTest, UnwritableOutputIsAnInternalError) {
  const std::string output = dir_.PathOf("no/dir/out.bin");
  const Result result = Stbup({"mkimage", payload_, output});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "stbup: Cannot create file \"" + output + "\". No such file or directory\n");
}

TEST_F(MkimageTest, HelpDocumentsEveryOption) {
  const Result result = Stbup({"mkimage", "--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* option : {"--format", "--type", "--hw", "--sw", "--start-block", "--model",
                             "--code", "--wildcard", "--reserved", "PAYLOAD", "OUTPUT"}) {
    EXPECT_NE(result.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace stbup
