#include "sim/box_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string_view>

#include "image/image_reader.h"
#include "image/image_writer.h"
#include "tests/sim/scripted_pc.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using testing::BoxRun;
using testing::Number4;
using testing::PcScript;
using testing::RunBox;

std::vector<std::uint8_t> Payload(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
  return bytes;
}

// The plain payload cut into `count` blocks, zero padded.
std::vector<std::vector<std::uint8_t>> Blocks(const std::vector<std::uint8_t>& payload, int count) {
  std::vector<std::vector<std::uint8_t>> blocks(static_cast<std::size_t>(count),
                                                std::vector<std::uint8_t>(1024, 0));
  for (std::size_t i = 0; i < payload.size() && i / 1024 < blocks.size(); ++i) {
    blocks[i / 1024][i % 1024] = payload[i];
  }
  return blocks;
}

// "TAVO", the three-letter model and header bytes 4..24: exactly 28 bytes.
std::vector<std::uint8_t> Signature(const std::string& image_path) {
  std::ifstream in(image_path, std::ios::binary);
  std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::uint8_t> sig(28);
  const std::string_view brand_and_model = "TAVOABC";
  std::copy(brand_and_model.begin(), brand_and_model.end(), sig.begin());
  std::copy(file.begin() + 4, file.begin() + 25, sig.begin() + 7);
  return sig;
}

void AddOnto(std::vector<std::uint8_t>& block, std::size_t at, const std::vector<std::uint8_t>& sig,
             std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i, ++at) {
    block[at] = static_cast<std::uint8_t>(block[at] + sig[i]);
  }
}

struct Image {
  std::string path;
  ImageInfo info;
  std::vector<std::uint8_t> payload;
};

Image MakeImage(const TempDir& dir, std::size_t payload_size, ImageFileFormat format,
                char type = 'C') {
  ImageSpec recipe;
  recipe.format = format;
  recipe.type_letter = type;
  recipe.model_name = "ABC";
  recipe.check_code = "kestrelowl";
  recipe.start_block = 16;
  recipe.hardware_version = {0x01, 0x02, 0x03};
  recipe.software_version = {0x0A, 0x0B, 0x0C};
  Image image;
  image.payload = Payload(payload_size);
  image.path = dir.PathOf("box.bin");
  WriteImageFile(image.path, recipe, image.payload);
  image.info = ReadImageInfo(image.path);
  return image;
}

SimulatorOptions OptionsFor(const Image& image) {
  SimulatorOptions options;
  options.image = image.info;
  options.ack_timeout_ms = 2000;
  options.reply_timeout_ms = 2000;
  options.token_timeout_ms = 2000;
  return options;
}

PcScript ScriptFor(const Image& image) {
  PcScript script;
  script.start_block = "0016";
  script.blocks = Blocks(image.payload, image.info.BlockCount);
  return script;
}

std::vector<std::string> BlockLines(int count) {
  std::vector<std::string> lines;
  for (int k = 0; k < count; ++k) {
    lines.push_back("REQUEST_1024DOWN:" + Number4(k));
    lines.push_back("1024DOWN_SUCCESS:" + Number4(k));
  }
  return lines;
}

std::vector<std::string> Tail(const std::vector<std::string>& lines, std::size_t n) {
  return {lines.end() - static_cast<long>(std::min(n, lines.size())), lines.end()};
}

TEST(BoxSimulator, Clean5518RunWalksTheWholeRoadAndVerifies) {
  TempDir dir;
  const Image image = MakeImage(dir, 5000, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.flash_record[0] = 0x0A;  // the record is raw: line ends inside are data
  options.flash_record[1] = 0x0D;
  options.flash_record[32] = 0x0A;
  options.out_path = dir.PathOf("region.bin");
  const BoxRun run = RunBox(options, ScriptFor(image));

  std::vector<std::string> want = {
      "REQUEST_V217",  "BL_FLASH_INFO",
      "BL_FLASH_END",  "REQUEST_VERSION:00,00,00,ABC,0a,0b,0c,01,02,03",
      "ACK",           "REQUEST_START_BLOCK",
      "REQUEST_BLOCK", "REQUEST_DOWNLOAD"};
  for (auto& line : BlockLines(8)) want.push_back(line);
  for (const char* line :
       {"REQUEST_TOTALCRC", "DOWN_SUCCESS", "RAMCRC_SUCCESS", "FLASH_WRITE", "4096FLASH_WRITE",
        "4096FLASH_WRITE", "FLASHCRC_SUCCESS", "UPGRADE_SUCCESS"}) {
    want.push_back(line);
  }
  EXPECT_EQ(run.lines, want);
  EXPECT_EQ(run.flash_record,
            std::string(options.flash_record.begin(), options.flash_record.end()));
  ASSERT_EQ(run.summaries.size(), 1u);
  const SimulationSummary& s = run.summaries[0];
  EXPECT_EQ(s.verdict, "verified") << SummaryJson(s);
  EXPECT_TRUE(s.image_checked);
  EXPECT_EQ(s.blocks, 8);
  EXPECT_EQ(s.retries, 0);
  EXPECT_EQ(s.bytes, 8192);
  EXPECT_EQ(s.start_block, 16);
  EXPECT_GT(s.latency_p99_us, 0);
  // What the box put on the line, counted byte for byte: every line with its
  // end, and the raw flash record.
  std::uint64_t sent = run.flash_record.size();
  for (const auto& line : run.lines) sent += line.size() + 1;
  EXPECT_EQ(s.sent_bytes, sent);
  EXPECT_GT(s.download_seconds, 0);
  EXPECT_LE(s.download_seconds, s.seconds);

  std::ifstream out(options.out_path, std::ios::binary);
  std::vector<std::uint8_t> region((std::istreambuf_iterator<char>(out)), {});
  std::vector<std::uint8_t> want_region = image.payload;
  want_region.resize(8192, 0);
  EXPECT_EQ(region, want_region);
}

TEST(BoxSimulator, TwoLLRunAsksBothQuestionsAndChecksTheTrailerSignature) {
  TempDir dir;
  // 2060 bytes: the trailer straddles blocks 1 and 2.
  const Image image = MakeImage(dir, 2060, ImageFileFormat::kScrambled);
  SimulatorOptions options = OptionsFor(image);
  options.announcement = LoaderAnnouncement::k2LL;
  options.version_digits = "2171";
  options.flash_end_after_info_end = true;
  options.expect_tokens = {"PC___"};
  PcScript script = ScriptFor(image);
  const auto sig = Signature(image.path);
  AddOnto(script.blocks[1], 1008, sig, 0, 16);
  AddOnto(script.blocks[2], 0, sig, 16, 28);
  const BoxRun run = RunBox(options, script);

  ASSERT_GE(run.lines.size(), 5u);
  EXPECT_EQ(
      std::vector<std::string>(run.lines.begin(), run.lines.begin() + 5),
      (std::vector<std::string>{"REQUEST_L2171", "BL_FLASH_INFO", "BL_INFO_END", "BL_FLASH_END",
                                "REQUEST_VERSION:00,00,00,ABC,0a,0b,0c,01,02,03"}));
  ASSERT_EQ(run.summaries.size(), 1u);
  EXPECT_EQ(run.summaries[0].verdict, "verified") << SummaryJson(run.summaries[0]);
  EXPECT_EQ(run.summaries[0].loader, "REQUEST_L2171");
}

struct ModeCase {
  bool sentence;
  std::string answer;
  std::vector<std::string> expect;
  std::string verdict;
};

// Named by what the box is told and expects, so the case list reads the same every run.
void PrintTo(const ModeCase& c, std::ostream* os) {
  *os << (c.sentence ? "sentence " : "") << '"' << c.answer << "\" " << c.verdict;
}

class ModeLoader : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeLoader, AnnouncesWithoutFlashInfoAndTakesTheReplyAsToken) {
  const ModeCase& c = GetParam();
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.announcement = LoaderAnnouncement::kMode;
  options.mode_sentence = c.sentence;
  options.expect_tokens = c.expect;
  PcScript script = ScriptFor(image);
  script.token = c.answer;
  const BoxRun run = RunBox(options, script);

  std::vector<std::string> head;
  if (c.sentence) head.push_back("5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)");
  head.push_back("REQUEST_MODE");
  head.push_back(c.verdict == "verified" ? "REQUEST_VERSION:00,00,00,ABC,0a,0b,0c,01,02,03"
                                         : "NO_ACKNOWLEDGE with PC.");
  ASSERT_GE(run.lines.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(run.lines.begin(),
                                     run.lines.begin() + static_cast<long>(head.size())),
            head);
  ASSERT_EQ(run.summaries.size(), 1u);
  EXPECT_EQ(run.summaries[0].verdict, c.verdict) << SummaryJson(run.summaries[0]);
  EXPECT_EQ(run.summaries[0].token, c.answer);
}

INSTANTIATE_TEST_SUITE_P(Tokens, ModeLoader,
                         ::testing::Values(ModeCase{false, "PC___", {}, "verified"},
                                           ModeCase{true, "PC___", {"PC___"}, "verified"},
                                           ModeCase{true, "PC___", {"BL___"}, "wrong_token"},
                                           ModeCase{false, " =@ %", {}, "verified"}));

TEST(BoxSimulator, CorruptedBlocksAreRejectedAndTakenAgainOnResend) {
  TempDir dir;
  const Image image = MakeImage(dir, 8192, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.corrupt_blocks = {1, 7};
  const BoxRun run = RunBox(options, ScriptFor(image));

  const auto at = std::find(run.lines.begin(), run.lines.end(), "REQUEST_1024DOWN:0001");
  ASSERT_NE(at, run.lines.end());
  EXPECT_EQ(std::vector<std::string>(at, at + 4),
            (std::vector<std::string>{"REQUEST_1024DOWN:0001", "1024DOWN_ERR:0001",
                                      "REQUEST_1024DOWN:0001", "1024DOWN_SUCCESS:0001"}));
  ASSERT_EQ(run.summaries.size(), 1u);
  EXPECT_EQ(run.summaries[0].verdict, "verified") << SummaryJson(run.summaries[0]);
  EXPECT_EQ(run.summaries[0].retries, 2);
  EXPECT_EQ(run.summaries[0].blocks, 8);
}

struct EndingCase {
  std::string name;
  void (*adjust)(SimulatorOptions&, PcScript&);
  std::vector<std::string> last_lines;
  std::string verdict;
  std::string problem;  // part of a problem line; empty: none expected
};

class Endings : public ::testing::TestWithParam<EndingCase> {};

TEST_P(Endings, EndTheBoxAsALoaderWould) {
  const EndingCase& c = GetParam();
  TempDir dir;
  const Image image = MakeImage(dir, 8192, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  PcScript script = ScriptFor(image);
  c.adjust(options, script);
  const BoxRun run = RunBox(options, script);

  EXPECT_EQ(Tail(run.lines, c.last_lines.size()), c.last_lines);
  ASSERT_EQ(run.summaries.size(), 1u);
  const SimulationSummary& s = run.summaries[0];
  EXPECT_EQ(s.verdict, c.verdict) << SummaryJson(s);
  if (c.problem.empty()) {
    EXPECT_TRUE(s.problems.empty()) << SummaryJson(s);
  } else {
    EXPECT_NE(SummaryJson(s).find(c.problem), std::string::npos) << SummaryJson(s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Endings,
    ::testing::Values(
        EndingCase{"WrongTotalChecksum",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.restart_notice = true;
                     s.total_checksum = static_cast<std::uint8_t>(testing::Sum(s.blocks[0]) + 1);
                   },
                   {"REQUEST_TOTALCRC", "RESPONSE_DOWNLOAD_FAIL", "NO_ACKNOWLEDGE with PC."},
                   "download_fail",
                   "total checksum"},
        EndingCase{"MissingAck",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.ack_timeout_ms = 200;
                     s.answer_ack = false;
                   },
                   {"REQUEST_VERSION:00,00,00,ABC,0a,0b,0c,01,02,03", "NO_ACKNOWLEDGE with PC."},
                   "no_ack",
                   ""},
        EndingCase{"NoTokenAnswer",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.token_timeout_ms = 200;
                     s.token = "PC_";
                   },
                   {"BL_FLASH_END", "NO_ACKNOWLEDGE with PC."},
                   "no_token",
                   "is no token"},
        EndingCase{"ThreeDigitGeometry",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.reply_timeout_ms = 200;
                     s.start_block = "016";
                   },
                   {"REQUEST_START_BLOCK", "NO_ACKNOWLEDGE with PC."},
                   "bad_geometry",
                   "no four-digit answer to REQUEST_START_BLOCK"},
        EndingCase{"FiveDigitGeometryIsReadWhole",
                   [](SimulatorOptions&, PcScript& s) { s.start_block = "00016"; },
                   {"FLASHCRC_SUCCESS", "UPGRADE_SUCCESS"},
                   "mismatch",
                   "REQUEST_START_BLOCK answered \\\"00016\\\", not %4.4d"},
        EndingCase{"BlockCountUnlikeTheImage",
                   [](SimulatorOptions&, PcScript& s) {
                     s.block_count = "0007";
                     s.blocks.resize(7);
                   },
                   {"FLASHCRC_SUCCESS", "UPGRADE_SUCCESS"},
                   "mismatch",
                   "block count 7, the image says 8"},
        EndingCase{"BadFlashCrc",
                   [](SimulatorOptions& o, PcScript&) { o.bad_flash_crc = true; },
                   {"4096FLASH_WRITE", "BAD CRC : Flash image !!"},
                   "flash_crc_bad",
                   ""},
        EndingCase{"SilentAfterBlock2",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.silent_after = 2;
                     s.quiet_end = std::chrono::milliseconds(300);
                   },
                   {"REQUEST_1024DOWN:0002", "1024DOWN_SUCCESS:0002"},
                   "silent",
                   ""},
        EndingCase{"HangUpAfterBlock1",
                   [](SimulatorOptions& o, PcScript&) { o.hangup_after = 1; },
                   {"REQUEST_1024DOWN:0001", "1024DOWN_SUCCESS:0001"},
                   "hung_up",
                   ""},
        EndingCase{"DatabaseRequestOfA2MBox",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.database_ack = true;
                     s.database_request = "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:1024\n";
                   },
                   {"UPGRADE_SUCCESS", "ack"},
                   "verified",
                   ""},
        EndingCase{"DatabaseRequestForTheWrongRegion",
                   [](SimulatorOptions& o, PcScript& s) {
                     o.database_ack = true;
                     s.database_request = "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:0768\n";
                   },
                   {"UPGRADE_SUCCESS", "ack"},
                   "mismatch",
                   "want REQUEST_1024DOWN:1024"},
        EndingCase{"ExtrasAndDecodeSize",
                   [](SimulatorOptions& o, PcScript&) {
                     o.target_info = "model ABC";
                     o.flash_write_error = " sector 3";
                     o.decode_size = 5;
                   },
                   {"SEND_DECODE_SIZE:5", "FLASH_WRITE", "FLASH_WRITE_ERROR: sector 3",
                    "4096FLASH_WRITE", "4096FLASH_WRITE", "FLASHCRC_SUCCESS", "UPGRADE_SUCCESS"},
                   "verified",
                   ""}),
    [](const auto& info) { return info.param.name; });

struct PlacementCase {
  std::string name;
  int block;  // where the PC adds the signature; -1: nowhere
  std::string verdict;
  std::string finding;
};

class SignaturePlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(SignaturePlacement, VerificationNamesWhatTheBlockSenderDid) {
  const PlacementCase& c = GetParam();
  TempDir dir;
  const Image image = MakeImage(dir, 8192, ImageFileFormat::kScrambled);
  PcScript script = ScriptFor(image);
  if (c.block >= 0)
    AddOnto(script.blocks[static_cast<std::size_t>(c.block)], 996, Signature(image.path), 0, 28);
  const BoxRun run = RunBox(OptionsFor(image), script);

  ASSERT_EQ(run.summaries.size(), 1u);
  const SimulationSummary& s = run.summaries[0];
  EXPECT_EQ(s.verdict, c.verdict) << SummaryJson(s);
  if (!c.finding.empty()) {
    EXPECT_NE(std::find(s.problems.begin(), s.problems.end(), c.finding), s.problems.end())
        << SummaryJson(s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules5518, SignaturePlacement,
    ::testing::Values(PlacementCase{"LastBlockOfTheRegion", 7, "verified", ""},
                      PlacementCase{"Missing", -1, "mismatch", "the model signature is missing"},
                      PlacementCase{"OneBlockEarly", 6, "mismatch",
                                    "the model signature is not where the rules put it"}),
    [](const auto& info) { return info.param.name; });

TEST(BoxSimulator, NoiseAndChunkedLinesLeaveTheDialogueIntact) {
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  const BoxRun clean = RunBox(options, ScriptFor(image));
  options.noise = true;
  options.chunked = true;
  options.seed = 7;
  PcScript script = ScriptFor(image);
  script.skip_unknown_lines = true;
  const BoxRun noisy = RunBox(options, script);

  EXPECT_EQ(noisy.lines, clean.lines);
  EXPECT_GT(noisy.skipped_lines, 0);
  ASSERT_EQ(noisy.summaries.size(), 1u);
  EXPECT_EQ(noisy.summaries[0].verdict, "verified") << SummaryJson(noisy.summaries[0]);
}

TEST(BoxSimulator, BaudRateAccountsForTheBlockOnTheLine) {
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.baud = 115200;
  const BoxRun run = RunBox(options, ScriptFor(image));
  ASSERT_EQ(run.summaries.size(), 1u);
  EXPECT_EQ(run.summaries[0].verdict, "verified");
  // 1025 bytes of 10 bits each take 89 ms at 115200 bit/s.
  EXPECT_GE(run.summaries[0].latency_p50_us, 88'000);
}

// A box playing on a fresh pty in a thread of its own, with a scripted PC at
// the other end for the test to drive.
struct BoxOnAPty {
  explicit BoxOnAPty(const SimulatorOptions& options)
      : box(options), pc(pty.slave_path()), player([this] {
          summaries = box.Run(pty.master(), LineHooks{[this] { pty.ReleaseSlave(); }, {}});
          done = true;
        }) {}
  ~BoxOnAPty() {
    if (player.joinable()) Stop();
  }

  std::vector<SimulationSummary> Stop() {
    box.Stop();
    player.join();
    return summaries;
  }

  BoxSimulator box;
  PtyEndpoint pty;
  testing::ScriptedPc pc;
  std::atomic<bool> done{false};
  std::vector<SimulationSummary> summaries;
  std::thread player;
};

// The box, switched on by now, plays the whole dialogue with `pc` and ends.
void ExpectOneVerifiedUpgrade(BoxOnAPty& played, testing::ScriptedPc& pc, const Image& image) {
  const auto lines = pc.Serve(ScriptFor(image), played.done);
  const std::vector<SimulationSummary> summaries = played.Stop();
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_EQ(summaries[0].verdict, "verified") << SummaryJson(summaries[0]);
}

TEST(BoxSimulator, RepeatPlaysOneBoxAfterAnother) {
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.repeat = 2;
  options.restart_gap_ms = 100;
  BoxOnAPty played(options);
  PcScript script = ScriptFor(image);
  script.quiet_end = std::chrono::milliseconds(300);
  const auto first = played.pc.Serve(script, played.done);
  const auto second = played.pc.Serve(script, played.done);
  const std::vector<SimulationSummary> summaries = played.Stop();
  EXPECT_EQ(first, second);
  ASSERT_EQ(summaries.size(), 2u);
  EXPECT_EQ(summaries[0].verdict, "verified");
  EXPECT_EQ(summaries[1].verdict, "verified");
}

TEST(BoxSimulator, ABoxSwitchedOnLaterIgnoresThePollsBeforeAndAnswersTheNext) {
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.power_on_ms = 300;
  BoxOnAPty played(options);
  const auto polled = std::chrono::steady_clock::now();
  played.pc.Send("\x07");
  // Off: the first poll is lost, and the box says nothing.
  EXPECT_FALSE(played.pc.Byte(std::chrono::milliseconds(200)).has_value());
  std::this_thread::sleep_until(polled + std::chrono::milliseconds(400));
  ExpectOneVerifiedUpgrade(played, played.pc, image);
}

TEST(BoxSimulator, AToolThatLeavesBeforeTheBoxIsOnEndsTheRun) {
  SimulatorOptions options;
  options.power_on_ms = 200;
  BoxOnAPty played(options);
  played.pc.Send("\x1F");
  played.pc.Close();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!played.done && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(played.done) << "the box still waits for a tool that has gone";
  EXPECT_TRUE(played.Stop().empty());
}

TEST(BoxSimulator, AToolThatComesBackFindsTheBoxOffUntilItsTime) {
  TempDir dir;
  const Image image = MakeImage(dir, 4096, ImageFileFormat::kOld);
  SimulatorOptions options = OptionsFor(image);
  options.power_on_ms = 500;
  options.wait_for_reconnect = true;
  BoxOnAPty played(options);
  const auto polled = std::chrono::steady_clock::now();
  played.pc.Send("\x1F");
  played.pc.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  testing::ScriptedPc again(played.pty.slave_path());
  again.Send("\x07");
  EXPECT_FALSE(again.Byte(std::chrono::milliseconds(200)).has_value());
  std::this_thread::sleep_until(polled + std::chrono::milliseconds(600));
  ExpectOneVerifiedUpgrade(played, again, image);
}

TEST(BoxSimulator, StopEndsAWaitForTheTool) {
  SimulatorOptions options;
  BoxSimulator box(options);
  PtyEndpoint pty;
  std::vector<SimulationSummary> summaries{SimulationSummary{}};
  std::thread player([&] { summaries = box.Run(pty.master()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  box.Stop();
  player.join();
  EXPECT_TRUE(summaries.empty());
}

}  // namespace
}  // namespace stbup
