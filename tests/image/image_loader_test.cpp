#include "image/image_loader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "image/check_code.h"
#include "image/image_parser.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "seams/errors.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

const std::string kCaption = "UPGRADE TOOL (V2.38-a) 14-Feb-2006 user X SL2M2";

class LoadImageTest : public ::testing::Test {
 protected:
  std::string Write(const ImageSpec& recipe, std::size_t payload_size,
                    std::string_view name = "i.bin") {
    const std::vector<std::uint8_t> payload(payload_size, 0x5A);
    return dir_.WriteFile(name, BuildImage(recipe, payload));
  }

  bool Load(const std::string& path) {
    info_.ImageFileName = path;
    return LoadImage(info_, view_, ctx_);
  }

  TempDir dir_;
  ImageInfo info_;
  RecordingView view_;
  const LoaderContext ctx_{kCaption, BuildImageCheckCode()};
};

ImageSpec Firmware() {
  ImageSpec recipe;
  recipe.hardware_version = {0x01, 0x0A, 0xFF};
  recipe.software_version = {0x02, 0x00, 0x33};
  recipe.start_block = 16;
  recipe.model_name = "STB-7";
  return recipe;
}

TEST_F(LoadImageTest, AcceptedImageShowsEverythingInOrder) {
  ASSERT_TRUE(Load(Write(Firmware(), 1'000'000)));
  EXPECT_EQ(view_.events,
            (std::vector<std::string>{
                "memo: ", "memo:" + kCaption, "memo:File open O.K.!", "memo:> Old version binary.",
                "edit:ModelName:STB-7", "edit:HV:01.0A.FF", "edit:SV:02.00.33", "edit:Type:CODE",
                "edit:StartBlock:16", "edit:StartBlock:16  (1003520 Bytes)"}));
  EXPECT_EQ(info_.ModelName, "STB-7");
  EXPECT_EQ(info_.TypeName, "CODE");
  EXPECT_EQ(info_.StartBlock, 16);
  EXPECT_EQ(info_.PayloadOffset, 39);
  EXPECT_EQ(info_.PayloadSize, 1'000'000);
  EXPECT_EQ(info_.PaddedSize, 1'000'448);
  EXPECT_EQ(info_.BlockCount, 980);
  EXPECT_EQ(info_.HeaderCopy[0], 'T');
  EXPECT_EQ(info_.HeaderCopy[38], 'x');
  EXPECT_EQ(view_.memo_colour, colours::kWindowText);
}

TEST_F(LoadImageTest, GeometryExamples) {
  struct Case {
    char type;
    std::size_t payload;
    std::int32_t padded;
    std::int32_t blocks;
  };
  // An empty payload is refused (HeadersThatCannotDescribeAPayloadAreRefused).
  for (const Case& c : {Case{'C', 4097, 5120, 8}, Case{'C', 4096, 4096, 4}, Case{'C', 1, 1024, 4},
                        Case{'S', 70'000, 1024, 4}, Case{'S', 1, 1024, 4}}) {
    ImageSpec recipe = Firmware();
    recipe.type_letter = c.type;
    ASSERT_TRUE(Load(Write(recipe, c.payload)));
    EXPECT_EQ(info_.PaddedSize, c.padded) << c.payload;
    EXPECT_EQ(info_.BlockCount, c.blocks) << c.payload;
  }
}

TEST_F(LoadImageTest, UnopenableFile) {
  struct Case {
    std::string name;
    std::string quoted;
  };
  for (const Case& c :
       {Case{"", "\"\""}, Case{dir_.PathOf("missing.bin"), ""}, Case{dir_.path(), ""}}) {
    RecordingView view;
    ImageInfo info;
    info.ImageFileName = c.name;
    info.StartBlock = 77;
    view.SetEdit(Edit::kFileName, c.name);
    view.ClearEvents();
    EXPECT_FALSE(LoadImage(info, view, ctx_));
    const std::string quoted = c.quoted.empty() ? "\"" + c.name + "\"" : c.quoted;
    EXPECT_EQ(view.events,
              (std::vector<std::string>{"memo_colour:#FF0000", "memo:" + quoted,
                                        "memo: File open error, please open file first!",
                                        "edit:FileName:"}));
    EXPECT_EQ(info.ImageFileName, "");
    EXPECT_EQ(info.StartBlock, 77);
    EXPECT_EQ(info.HeaderCopy[0], 0);
  }
}

TEST_F(LoadImageTest, RefusedFilesKeepStartBlockSizesAndFlags) {
  ImageSpec scrambled = Firmware();
  scrambled.format = ImageFileFormat::kScrambled;
  scrambled.check_code = "kestrelowl";
  const std::vector<std::string> refused = {"ZUB2LL" + std::string(60, '0'), "not an image", "",
                                            "TAV", std::string("\0TAVO", 5)};
  for (const std::string& bytes : refused) {
    ASSERT_TRUE(Load(Write(scrambled, 5000)));
    const ImageInfo before = info_;
    view_.ClearEvents();
    EXPECT_FALSE(Load(dir_.WriteFile("bad.bin", bytes))) << bytes;
    EXPECT_EQ(view_.events,
              (std::vector<std::string>{"memo:This File is not appropriate Image!",
                                        "edit:ModelName:", "edit:HV:", "edit:SV:",
                                        "edit:StartBlock:", "edit:Type:NONE", "edit:FileName:"}));
    EXPECT_EQ(info_.ImageFileName, "");
    EXPECT_EQ(info_.TypeName, "NONE");
    EXPECT_EQ(info_.ModelName, " ");
    EXPECT_EQ(info_.HardwareVersion, (std::array<std::int32_t, 3>{}));
    EXPECT_EQ(info_.SoftwareVersion, (std::array<std::int32_t, 3>{}));
    EXPECT_EQ(info_.HeaderCopy[0], bytes.empty() ? 0 : static_cast<std::uint8_t>(bytes[0]));
    EXPECT_EQ(info_.StartBlock, before.StartBlock);
    EXPECT_EQ(info_.PayloadOffset, before.PayloadOffset);
    EXPECT_EQ(info_.PayloadSize, before.PayloadSize);
    EXPECT_EQ(info_.PaddedSize, before.PaddedSize);
    EXPECT_EQ(info_.BlockCount, before.BlockCount);
    EXPECT_EQ(info_.SignatureEnabled, 1);
    EXPECT_EQ(info_.ScrambleEnabled, 1);
    // Nothing is loaded, so nothing of the last image is waived.
    EXPECT_EQ(info_.ModelCheckWaived, 0);
    EXPECT_EQ(info_.SourceIdentity.size, -1);
  }
}

TEST_F(LoadImageTest, BadStartBlockRaisesAfterTheAnnouncement) {
  for (const std::string field : {"12x       ", "16        "}) {
    ImageSpec recipe = Firmware();
    recipe.start_block_field = field;
    info_.StartBlock = 5;
    info_.ModelName = "before";
    view_.ClearEvents();
    try {
      Load(Write(recipe, 100));
      FAIL() << "no error for " << field;
    } catch (const EConvertError& error) {
      EXPECT_EQ(std::string(error.what()), "'" + field + "' is not a valid integer value");
    }
    EXPECT_EQ(view_.events,
              (std::vector<std::string>{"memo: ", "memo:" + kCaption, "memo:File open O.K.!"}));
    EXPECT_EQ(info_.HardwareVersion, (std::array<std::int32_t, 3>{0x01, 0x0A, 0xFF}));
    EXPECT_EQ(info_.SoftwareVersion, (std::array<std::int32_t, 3>{0x02, 0x00, 0x33}));
    EXPECT_EQ(info_.HeaderCopy[22], static_cast<std::uint8_t>(field[0]));
    EXPECT_EQ(info_.StartBlock, 5);
    EXPECT_EQ(info_.ModelName, "before");
  }
}

TEST_F(LoadImageTest, LoadSequencesKeepOrClearFlags) {
  ImageSpec scrambled = Firmware();
  scrambled.format = ImageFileFormat::kScrambled;
  scrambled.check_code = BuildImageCheckCode();
  ImageSpec model_wildcard = Firmware();
  model_wildcard.format = ImageFileFormat::kNew;
  model_wildcard.check_code = "kestrelowl";
  ImageSpec hardware_wildcard = model_wildcard;
  hardware_wildcard.check_code = "marblefig";
  ImageSpec wrong = model_wildcard;
  wrong.check_code = "00000000";
  ImageSpec tdbase = Firmware();
  tdbase.type_letter = 'S';

  ASSERT_TRUE(Load(Write(scrambled, 3000)));
  EXPECT_EQ(info_.SignatureEnabled, 1);
  EXPECT_EQ(info_.ScrambleEnabled, 1);
  EXPECT_EQ(view_.memo.back(), "> New version binary.");
  ASSERT_TRUE(Load(Write(Firmware(), 3000)));
  EXPECT_EQ(info_.SignatureEnabled, 0);
  EXPECT_EQ(info_.ScrambleEnabled, 0);

  // Each load sets both waivers from its own image.
  ASSERT_TRUE(Load(Write(model_wildcard, 10)));
  EXPECT_EQ(info_.ModelCheckWaived, 1);
  EXPECT_EQ(info_.HardwareCheckWaived, 0);
  ASSERT_TRUE(Load(Write(hardware_wildcard, 10)));
  EXPECT_EQ(info_.ModelCheckWaived, 0);
  EXPECT_EQ(info_.HardwareCheckWaived, 1);
  ASSERT_TRUE(Load(Write(Firmware(), 10)));
  EXPECT_EQ(info_.ModelCheckWaived, 0);
  EXPECT_EQ(info_.HardwareCheckWaived, 0);

  ASSERT_TRUE(Load(Write(scrambled, 10)));
  view_.ClearEvents();
  ASSERT_TRUE(Load(Write(wrong, 10)));  // accepted all the same, with warnings
  EXPECT_EQ(info_.SignatureEnabled, 0);
  EXPECT_EQ(info_.ScrambleEnabled, 0);
  EXPECT_EQ(view_.EventsOf("memo"),
            (std::vector<std::string>{
                " ", kCaption, "File open O.K.!", ">> ILLEGAL BINARY !!!!!!!!!!!!!!!!!!",
                ">> MAY BE CRASHING TARGET !!!!!!!!!!", ">> DO NOT UPGRADE WITH THIS .bin !!!"}));

  info_.PayloadBytesRead = 700;
  ASSERT_TRUE(Load(Write(tdbase, 50'000)));
  EXPECT_EQ(info_.PayloadSize, 10);
  EXPECT_EQ(info_.PayloadBytesRead, 700);
  EXPECT_EQ(info_.PaddedSize, 1024);
  EXPECT_EQ(info_.BlockCount, 4);
  EXPECT_EQ(info_.TypeName, "TDBASE");
  ASSERT_TRUE(Load(Write(Firmware(), 20)));
  EXPECT_EQ(info_.PayloadSize, 20);
  EXPECT_EQ(info_.PayloadBytesRead, 0);
}

TEST_F(LoadImageTest, HeadersThatCannotDescribeAPayloadAreRefused) {
  struct Case {
    std::string name;
    std::string bytes;
    std::int64_t size;  // -1: the bytes' own
    std::string reason;
  };
  const std::string header = "TAVO000000010AFF020033" + std::string("0000000016") + "C";
  const std::vector<Case> cases = {
      {"cut after the type letter", header, -1, ">> the file ends inside its header"},
      {"no payload", header + "ABCx", -1, ">> the image has no payload"},
      {"negative start block",
       "TAVO000000010AFF020033" + std::string("-000000016") + "CABCx" + std::string(100, 'p'), -1,
       ">> the start block is negative"},
      {"beyond 32 bits", header + "ABCx" + std::string(100, 'p'),
       static_cast<std::int64_t>(header.size()) + 4 + kMaxPayloadSize + 1,
       ">> the payload is larger than any flash"},
      {"background without a payload", "TIFRAME\0\0", 9, ">> the image has no payload"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Load(Write(Firmware(), 5000)));
    view_.ClearEvents();
    std::string path = dir_.WriteFile("bad.bin", c.bytes);
    if (c.size >= 0) {
      TempDir::ResizeFile(path, static_cast<std::uint64_t>(c.size));
    }
    EXPECT_FALSE(Load(path));
    const auto memo = view_.EventsOf("memo");
    EXPECT_EQ(memo, (std::vector<std::string>{"This File is not appropriate Image!", c.reason}));
    EXPECT_EQ(info_.ImageFileName, "");
    EXPECT_EQ(info_.TypeName, "NONE");
  }
}

TEST_F(LoadImageTest, BackgroundImages) {
  ImageSpec scrambled = Firmware();
  scrambled.format = ImageFileFormat::kScrambled;
  scrambled.check_code = BuildImageCheckCode();
  ASSERT_TRUE(Load(Write(scrambled, 321)));
  view_.ClearEvents();

  ASSERT_TRUE(Load(dir_.WriteFile("audio.bin", "TIFRAME\x01\x01" + std::string(4097, 'a'))));
  EXPECT_EQ(view_.events, (std::vector<std::string>{
                              "memo_clear", "memo:> Audio-BackGround format.!!",
                              "memo:=============================", "memo:", "edit:ModelName:?",
                              "edit:HV:?", "edit:SV:?", "edit:Type:DATABASE", "edit:StartBlock:4",
                              "edit:StartBlock:4  (8192 Bytes)"}));
  EXPECT_EQ(view_.memo.size(), 3u);
  EXPECT_EQ(info_.PayloadOffset, 9);
  EXPECT_EQ(info_.StartBlock, 4);
  EXPECT_EQ(info_.TypeName, "DATABASE");
  EXPECT_EQ(info_.ModelName, "?");
  EXPECT_EQ(info_.HardwareVersion, (std::array<std::int32_t, 3>{}));
  EXPECT_EQ(info_.PayloadSize, 321);  // kept
  EXPECT_EQ(info_.PaddedSize, 5120);
  EXPECT_EQ(info_.BlockCount, 8);
  EXPECT_EQ(info_.SignatureEnabled, 0);
  EXPECT_EQ(info_.ScrambleEnabled, 0);

  view_.ClearEvents();
  ASSERT_TRUE(Load(dir_.WriteFile("radio.bin", std::string("IFRAME\x00\x20P\0\0\x01", 12))));
  EXPECT_EQ(view_.EventsOf("memo")[0], "> Radio-BackGround format.!!");
  EXPECT_EQ(view_.EditText(Edit::kStartBlock), "32  (4096 Bytes)");
  EXPECT_EQ(info_.PayloadOffset, 8);
  EXPECT_EQ(info_.PaddedSize, 1024);
}

TEST_F(LoadImageTest, ReadImageInfo) {
  ImageSpec recipe = Firmware();
  recipe.format = ImageFileFormat::kNew;
  recipe.check_code = "marblefig";
  const ImageInfo info = ReadImageInfo(Write(recipe, 2048));
  EXPECT_EQ(info.ModelName, "STB-7");
  EXPECT_EQ(info.HardwareCheckWaived, 1);
  EXPECT_EQ(info.BlockCount, 4);

  struct Case {
    std::string path;
    std::string message;
  };
  ImageSpec bad_start = Firmware();
  bad_start.start_block_field = "abc       ";
  const std::string missing = dir_.PathOf("gone.bin");
  for (const Case& c :
       {Case{missing, "Cannot open file \"" + missing + "\". No such file or directory"},
        Case{dir_.WriteFile("z.bin", "ZUB2LL"), "This File is not appropriate Image!"},
        Case{dir_.WriteFile("e.bin", ""), "This File is not appropriate Image!"},
        Case{Write(bad_start, 1, "s.bin"), "'abc       ' is not a valid integer value"}}) {
    try {
      ReadImageInfo(c.path);
      ADD_FAILURE() << "accepted " << c.path;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace stbup
