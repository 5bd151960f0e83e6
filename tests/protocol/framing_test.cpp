#include <random>

#include "tests/protocol/engine_fixture.h"

namespace stbup {
namespace {

enum class Chunking { kWhole, kBytewise, kRandom };

// Every framing case runs three ways: whole, one byte at a time, random splits.
void FeedChunked(Engine& engine, std::string_view bytes, Chunking chunking, unsigned seed) {
  switch (chunking) {
    case Chunking::kWhole:
      engine.Receive(bytes);
      return;
    case Chunking::kBytewise:
      for (std::size_t i = 0; i < bytes.size(); ++i) engine.Receive(bytes.substr(i, 1));
      return;
    case Chunking::kRandom: {
      std::mt19937 random(seed);
      std::size_t at = 0;
      while (at < bytes.size()) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 7)(random);
        engine.Receive(bytes.substr(at, size));
        at += size;
      }
      return;
    }
  }
}

struct FramingCase {
  std::string name;
  std::string input;
  Lines memo;        // every memo line the input causes
  std::string wire;  // every byte the engine answers
};

std::string Record33(char fill) {
  std::string record(33, fill);
  record[4] = 0x21;
  record[5] = 0x27;
  record[6] = static_cast<char>(0x82);
  return record;
}

std::vector<FramingCase> FramingCases() {
  const std::string x400(400, 'x');
  std::string record = Record33('\n');
  record[10] = '\r';
  return {
      {"CrLfTerminatedMode",
       "REQUEST_MODE\r\n",
       {"5518 detected..", "-. Target loader version : 1.06", "Target 1M Flash."},
       "PC___"},
      {"TwoColonsKeepTheSecond", "TargetInfo:a:b\n", {":>a:b"}, ""},
      {"ArgumentCutAt300", "TargetInfo:" + x400 + "\n", {":>" + x400.substr(0, 300)}, ""},
      {"LoneLineFeedIgnored", "\n\n", {}, ""},
      {"CarriageReturnsDroppedInside", "Targ\retInfo:o\rk\n", {":>ok"}, ""},
      {"RequestVThreeDigits",
       "REQUEST_V106\n",
       {"5518 detected..", "-. Target loader version :L 0106"},
       ""},
      {"RequestLColonPartDiscarded",
       "REQUEST_L2171:junk\n",
       {"2LL detected..", "-. Target loader version :L 2171"},
       ""},
      {"BinaryRecordWithLfAndCr",
       "BL_FLASH_INFO\n" + record + "TargetInfo:after\n",
       {"-----------> Target 2M Flash.", "-----------> Target SST FLASH-2M.", ":>after"},
       ""},
      {"BadCrcPair",
       "BAD CRC : Flash image !!\n",
       {"Flash CRC Check BAD !!!", "Please check target."},
       ""},
      {"BadCrcOtherArgumentIgnored", "BAD CRC : Flash image !\nBAD CRC :Flash image !!\n", {}, ""},
      {"LowerCaseCommandUnknown", "request_mode\nRequest_Mode\nREQUEST_MODE \n", {}, ""},
      {"UpperAckIsNotLowerAck", "ACK\n", {"Connect Success"}, ""},
      {"WholeLoaderSentence",
       "5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)\nREQUEST_MODE\n",
       {"5518 detected..", "-. Target loader version : 2.02", "Target 1M Flash."},
       "PC___"},
      {"SentenceWithBlankInsteadOfTab",
       "5518 DVB-T STB Boot-Loader SW  Version 2.0.2(new)\nREQUEST_MODE\n",
       {"5518 detected..", "-. Target loader version : 1.06", "Target 1M Flash."},
       "PC___"},
      {"NulBytesAreText", std::string("TargetInfo:a\0b\n", 15), {std::string(":>a\0b", 5)}, ""},
  };
}

TEST(FramingTest, EveryCaseWholeBytewiseAndRandomlySplit) {
  for (const FramingCase& c : FramingCases()) {
    for (const Chunking chunking : {Chunking::kWhole, Chunking::kBytewise, Chunking::kRandom}) {
      for (unsigned seed = 1; seed <= (chunking == Chunking::kRandom ? 5u : 1u); ++seed) {
        SCOPED_TRACE(c.name + " chunking " + std::to_string(static_cast<int>(chunking)) + " seed " +
                     std::to_string(seed));
        EngineHarness h;
        FeedChunked(h.engine, c.input, chunking, seed);
        EXPECT_EQ(h.view.memo, c.memo);
        EXPECT_EQ(h.link.Wire(), c.wire);
        EXPECT_TRUE(h.engine.State().LineText.empty());
        EXPECT_FALSE(h.engine.State().CollectingFlashInfo);
      }
    }
  }
}

TEST_F(EngineTest, RecordBytesAfterTheSentinelLineInTheSameChunkAreData) {
  // The first record byte is a line feed; the byte after the 33rd is text again.
  std::string record(33, '\n');
  record[4] = 0x11;
  Feed("BL_FLASH_INFO\n" + record + "TargetInfo:x\n");
  EXPECT_EQ(NewMemo(), (Lines{"-----------> Target 1M Flash.",
                              "-----------> Target UNKNOWN FLASH INFO.", ":>x"}));
  EXPECT_EQ(engine.State().FlashInfoCount, 33);
}

TEST_F(EngineTest, LineWithoutLineFeedIsGluedToTheNext) {
  Feed("Target");
  Feed("Info:x\n");
  EXPECT_EQ(NewMemo(), Lines{":>x"});
  Feed("ZZZ");
  Feed("TargetInfo:y\n");
  EXPECT_EQ(NewMemo(), Lines{});
}

TEST_F(EngineTest, MegabyteWithoutLineFeedStaysBounded) {
  const std::string chunk(4096, 'A');
  for (int i = 0; i < 256; ++i) engine.Receive(chunk);
  EXPECT_EQ(engine.State().LineText.size(), ExchangeState::kMaxLineText);
  // The capped line is dispatched as it stands and matches nothing.
  Feed("\nTargetInfo:next\n");
  EXPECT_EQ(NewMemo(), Lines{":>next"});
  EXPECT_TRUE(link.writes.empty());
  EXPECT_LE(engine.State().LineText.capacity(), 2 * ExchangeState::kMaxLineText);
}

// A failing line is reported and the rest of its chunk is still framed and
// handled, in order, whole or split anyhow.
TEST_F(EngineTest, AFailingLineDoesNotDropTheRestOfTheBatch) {
  const std::string batch =
      "REQUEST_DOWNLOAD\nTargetInfo:kept\nack\nTargetInfo:also kept\nREQUEST_START_BLOCK\n";
  for (const std::size_t piece : {batch.size(), std::size_t{1}, std::size_t{7}}) {
    SCOPED_TRACE(piece);
    image.ImageFileName = "/nonexistent/stbup/image.bin";  // neither opens nor takes a .tdf
    image.StartBlock = 16;
    image.RegionIsDatabase = false;  // as the next load leaves it
    engine.CloseFiles();
    view.errors.clear();
    NewMemo();
    std::string wire;
    for (std::size_t at = 0; at < batch.size(); at += piece) wire += Feed(batch.substr(at, piece));
    EXPECT_EQ(NewMemo(), (Lines{"DownLoad Start", ":>kept", ":>also kept"}));
    EXPECT_EQ(
        view.errors,
        (std::vector<std::string>{
            "Cannot open file \"/nonexistent/stbup/image.bin\". No such file or directory",
            "Cannot create file \"/nonexistent/stbup/image.tdf\". No such file or directory"}));
    EXPECT_EQ(wire, "REQUEST_DOWNLOAD\n0768");
    EXPECT_TRUE(engine.State().LineText.empty());
  }
}

TEST_F(EngineTest, EndRunDropsHalfRecordAndHalfLine) {
  Feed("BL_FLASH_INFO\n0123456789");
  EXPECT_TRUE(engine.State().CollectingFlashInfo);
  engine.EndRun();
  EXPECT_FALSE(engine.State().CollectingFlashInfo);
  EXPECT_TRUE(view.setup_enabled);
  Feed("Target");
  engine.EndRun();
  Feed("Info:z\n");
  EXPECT_EQ(NewMemo(), Lines{});
  Feed("TargetInfo:z\n");
  EXPECT_EQ(NewMemo(), Lines{":>z"});
}

TEST_F(EngineTest, PollTickSendsOneByte) {
  engine.Timer1Timer();
  ASSERT_EQ(link.writes.size(), 1u);
  EXPECT_EQ(link.writes[0], (RecordingLink::Write{RecordingLink::Kind::kChar, "\x1F"}));
}

TEST_F(EngineTest, EveryTableCommandIsDispatchedExactly) {
  // Commands that answer with bytes, and near misses that must stay silent.
  struct Case {
    std::string line;
    std::string wire;
  };
  const Case cases[] = {
      {"REQUEST_START_BLOCK", "0016"},
      {"REQDATA_START_BLOCK", "0016"},
      {"REQUEST_BLOCK", "0768"},
      {"REQDATA_BLOCK", "0768"},
      {"REQUEST_TOTALCRC", std::string(1, '\0')},
      {"REQUEST_BLOCK ", ""},
      {"request_block", ""},
      {"REQUEST_STARTBLOCK", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(Line(c.line), c.wire);
  }
}

}  // namespace
}  // namespace stbup
