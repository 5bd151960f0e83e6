#include "cli/info_command.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/mkimage_command.h"
#include "image/image_writer.h"
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
  AddInfoCommand(registry);
  AddMkimageCommand(registry);
  std::ostringstream out;
  std::ostringstream err;
  const int status = registry.Execute(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(InfoCommandTest, PrintsIdentificationGeometryAndFlags) {
  TempDir dir;
  ImageSpec recipe;
  recipe.format = ImageFileFormat::kScrambled;
  recipe.check_code = "kestrelowl";
  recipe.hardware_version = {0x01, 0x0A, 0xFF};
  recipe.software_version = {0x02, 0x00, 0x33};
  recipe.start_block = 16;
  recipe.model_name = "STB-7";
  const std::string path =
      dir.WriteFile("a.bin", BuildImage(recipe, std::vector<std::uint8_t>(1'000'000)));
  const Result result = Stbup({"info", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "File:                  " + path +
                            "\n"
                            "Format:                scrambled\n"
                            "Model:                 STB-7\n"
                            "Hardware:              01.0A.FF\n"
                            "Software:              02.00.33\n"
                            "Type:                  CODE\n"
                            "Start block:           16\n"
                            "Check code:            model wildcard\n"
                            "Payload offset:        52\n"
                            "Payload size:          1000000\n"
                            "Padded size:           1000448\n"
                            "Blocks:                980 (1003520 Bytes)\n"
                            "Signature:             1\n"
                            "Scramble:              1\n"
                            "Model check waived:    1\n"
                            "Hardware check waived: 0\n");
}

TEST(InfoCommandTest, JsonKeepsByteStringsAndWarnings) {
  TempDir dir;
  ImageSpec recipe;
  recipe.format = ImageFileFormat::kNew;
  recipe.check_code = "wrong";
  recipe.model_name = "M\xE9";
  recipe.type_letter = 'l';
  const std::string path = dir.WriteFile("b.bin", BuildImage(recipe, std::vector<std::uint8_t>(10)));
  const Result result = Stbup({"info", path, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\"model\": \"M\\u00e9\""), std::string::npos) << result.out;
  const nlohmann::json json = nlohmann::json::parse(result.out);
  EXPECT_EQ(json["format"], "new");
  EXPECT_EQ(json["type"], "LOADER128K");
  EXPECT_EQ(json["type_letter"], "l");
  EXPECT_EQ(json["check_code"], "illegal");
  EXPECT_EQ(json["signature_enabled"], 0);
  EXPECT_EQ(json["block_count"], 4);
  EXPECT_EQ(json["padded_size"], 1024);
  EXPECT_EQ(json["hardware_version"], nlohmann::json::array({0, 0, 0}));
  EXPECT_EQ(json["warnings"], nlohmann::json::array({">> ILLEGAL BINARY !!!!!!!!!!!!!!!!!!",
                                                     ">> MAY BE CRASHING TARGET !!!!!!!!!!",
                                                     ">> DO NOT UPGRADE WITH THIS .bin !!!"}));
}

TEST(InfoCommandTest, ImagesNotAcceptedExitThreeWithTheSystemMessage) {
  TempDir dir;
  ImageSpec bad_start;
  bad_start.start_block_field = "12x       ";
  const std::string missing = dir.PathOf("none.bin");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir.WriteFile("z.bin", "ZUB2LL0102"), "stbup: This File is not appropriate Image!\n"},
      {dir.WriteFile("t.txt", "hello, world\n"), "stbup: This File is not appropriate Image!\n"},
      {dir.WriteFile("e.bin", ""), "stbup: This File is not appropriate Image!\n"},
      {missing, "stbup: Cannot open file \"" + missing + "\". No such file or directory\n"},
      {dir.path(), "stbup: Cannot open file \"" + dir.path() + "\". Is a directory\n"},
      {dir.WriteFile("s.bin", BuildImage(bad_start, {})),
       "stbup: '12x       ' is not a valid integer value\n"},
  };
  for (const auto& [path, message] : cases) {
    for (const bool json : {false, true}) {
      std::vector<std::string> args = {"info", path};
      if (json) args.emplace_back("--json");
      const Result result = Stbup(args);
      EXPECT_EQ(result.status, 3) << path;
      EXPECT_EQ(result.err, message);
      EXPECT_EQ(result.out, "");
    }
  }
}

TEST(InfoCommandTest, UsageErrorsExitTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"info"},
                                               {"info", "a", "b"},
                                               {"info", "--bogus", "a"},
                                               {"nonsense"}}) {
    EXPECT_EQ(Stbup(args).status, 2) << args.size();
  }
  const Result help = Stbup({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("info"), std::string::npos);
  EXPECT_NE(help.out.find("mkimage"), std::string::npos);
}

}  // namespace
}  // namespace stbup
