#include "tests/protocol/download_fixture.h"

namespace stbup {
namespace {

const std::string kRule = "//==================================================";

class ExchangeTest : public DownloadTest {
 protected:
  ExchangeTest() {
    image.ModelName = "ST-210";
    view.SetEdit(Edit::kModelName, image.ModelName);
    image.HardwareVersion = {0x20, 0x11, 0x05};
    image.SoftwareVersion = {0x01, 0x0A, 0x33};
    timer.Start(100);
  }
};

TEST_F(ExchangeTest, Scripted5518BoxThroughIdentification) {
  image.PaddedSize = 0x100000;  // fits the 2 Mbyte box
  EXPECT_EQ(Feed("REQUEST_V217\r\n"), "");
  EXPECT_EQ(timer.interval, 0);
  EXPECT_EQ(Feed(FlashInfo(0x21, 0x27, 0x82)), "");
  EXPECT_EQ(Line("BL_FLASH_END"), "PC___");
  EXPECT_EQ(Line("REQUEST_VERSION:0,0,0,ST-210S,01,0A,33,20,11,05"), "ack");
  const std::string label = "L 217, u-C[0] , FLS[2M], ST-210S, H/W(20.11.05), S/W(01.0A.33)";
  EXPECT_EQ(view.label3, label);
  EXPECT_EQ(NewMemo(), (Lines{"5518 detected..", "-. Target loader version :L 0217",
                              "-----------> Target 2M Flash.", "-----------> Target SST FLASH-2M.",
                              kRule, "// FileInfo: ST-210, H/W(20.11.05), S/W(01.0A.33)",
                              "// Target: " + label, kRule, "-. STB Model   : ST-210",
                              "-. STB H/W Ver : 20.11.05", "-. STB S/W Ver : 01.0A.33"}));
  EXPECT_EQ(link.Wire(), "PC___ack");
}

TEST_F(ExchangeTest, Scripted2llBoxThroughIdentification) {
  image.PaddedSize = 0x100000;
  EXPECT_EQ(Line("REQUEST_L1022"), "");
  EXPECT_EQ(Feed(FlashInfo(0x11, 0x22, 0xC4)), "");
  EXPECT_EQ(Line("BL_INFO_END"), " =@ %");
  EXPECT_EQ(Line("REQUEST_VERSION:0,0,0,ST-210,01,0A,34,20,11,05"), "ack");
  const std::string label = "L 102, u-C[0] , FLS[1M], ST-210, H/W(20.11.05), S/W(01.0A.34)";
  EXPECT_EQ(NewMemo(),
            (Lines{"2LL detected..", "-. Target loader version :L 1022",
                   "-----------> Target 1M Flash.", "-----------> Target AMD/ST FLASH(TOP).", kRule,
                   "// FileInfo: ST-210, H/W(20.11.05), S/W(01.0A.33)", "// Target: " + label,
                   kRule, "01.0A.34: Software Version is High", "-. STB Model   : ST-210",
                   "-. STB H/W Ver : 20.11.05", "-. STB S/W Ver : 01.0A.34"}));
  EXPECT_EQ(link.Wire(), " =@ %ack");
}

// A box that runs a whole upgrade and checks each block's sum as it arrives.
struct BoxRun {
  Bytes received;
  std::uint8_t total_answer = 0;
  std::uint8_t own_total = 0;
};

class EndToEndTest : public ExchangeTest {
 protected:
  BoxRun RunUpgrade(std::int32_t loader) {
    BoxRun run;
    Line(loader == kLoader2LL ? "REQUEST_L0217" : "REQUEST_V0217");
    Feed(FlashInfo(0x41, 0x27, 0x82));
    Line("BL_FLASH_END");
    EXPECT_EQ(Line("REQUEST_VERSION:0,0,0,ST-210,01,0A,33,20,11,05"), "ack");
    Line("ACK");
    const int start = std::stoi(Line("REQUEST_START_BLOCK"));
    const int count = std::stoi(Line("REQUEST_BLOCK"));
    EXPECT_EQ(start, image.StartBlock);
    Line("REQUEST_DOWNLOAD");
    for (int k = 0; k < count; ++k) {
      Bytes answer = Line("REQUEST_1024DOWN:" + FormatBlockNumber(k));
      if (k == 1) {  // one block damaged on the line, once
        Line("1024DOWN_ERR:" + FormatBlockNumber(k));
        EXPECT_EQ(Line("REQUEST_1024DOWN:" + FormatBlockNumber(k)), answer);
      }
      EXPECT_EQ(answer.size(), 1025u);
      EXPECT_EQ(static_cast<std::uint8_t>(answer[1024]), Sum(answer.substr(0, 1024)));
      run.received += answer.substr(0, 1024);
      Line("1024DOWN_SUCCESS:" + FormatBlockNumber(k));
    }
    run.own_total = Sum(run.received);
    const Bytes total = Line("REQUEST_TOTALCRC");
    EXPECT_EQ(total.size(), 1u);
    run.total_answer = static_cast<std::uint8_t>(total[0]);
    Line("DOWN_SUCCESS");
    Line("RAMCRC_SUCCESS");
    Line("FLASH_WRITE");
    for (int k = 0; k < count / 4; ++k) Line("4096FLASH_WRITE");
    Line("FLASHCRC_SUCCESS");
    EXPECT_EQ(Line("UPGRADE_SUCCESS"), "");
    EXPECT_EQ(view.pb1, 100);
    EXPECT_EQ(view.pb2, 100);
    EXPECT_TRUE(view.setup_enabled);
    EXPECT_FALSE(engine.State().SourceStream.IsOpen());
    return run;
  }
};

TEST_F(EndToEndTest, EveryLoaderKindAndImageFormat) {
  enum class Format { kOld, kSigned, kScrambled };
  struct Case {
    std::int32_t loader;
    Format format;
    std::string type;
    std::size_t size;
  };
  const Case cases[] = {
      {kLoader5518, Format::kOld, "CODE", 8180},
      {kLoader5518, Format::kSigned, "CODE", 8180},
      {kLoader5518, Format::kScrambled, "CODE", 8180},
      {kLoader2LL, Format::kOld, "CODE", 6150},
      {kLoader2LL, Format::kSigned, "CODE", 6150},
      {kLoader2LL, Format::kScrambled, "CODE", 6150},
      {kLoader5518, Format::kSigned, "ZCODE", 5000},
      {kLoader5518, Format::kScrambled, "ZCODE", 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " loader " + std::to_string(c.loader) + " format " +
                 std::to_string(static_cast<int>(c.format)));
    const Bytes payload = PatternPayload(c.size, static_cast<unsigned>(c.size + c.loader));
    UseImage(payload, c.format != Format::kOld, c.format == Format::kScrambled, c.type);
    const BoxRun run = RunUpgrade(c.loader);

    // Where the signature belongs, worked out from the plain payload.
    Bytes expected = Padded(payload);
    const Bytes signature = Signature();
    if (c.format != Format::kOld) {
      if (c.type == "ZCODE") {
        Place(expected, 0, signature);
      } else if (c.loader == kLoader2LL) {
        Place(expected, c.size - 28, signature);
      } else {
        const std::size_t at = static_cast<std::size_t>(image.BlockCount - 1) * 1024 + 996;
        for (std::size_t k = 0; k < 28 && at + k < c.size; ++k)
          Place(expected, at + k, signature, k, 1);
      }
    }
    EXPECT_EQ(run.received, expected);
    EXPECT_EQ(run.total_answer, run.own_total);
    image.PayloadBytesRead = 0;  // the next case is a fresh load
  }
}

}  // namespace
}  // namespace stbup
