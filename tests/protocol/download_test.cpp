#include "tests/protocol/download_fixture.h"

namespace stbup {
namespace {

TEST_F(DownloadTest, GeometryAnswersAreFourDigitsUnterminated) {
  image.StartBlock = 768;
  image.BlockCount = 192;
  image.ModelCheckWaived = 1;
  image.HardwareCheckWaived = 1;
  EXPECT_EQ(Line("REQUEST_START_BLOCK"), "0768");
  EXPECT_EQ(Line("REQDATA_START_BLOCK"), "0768");
  EXPECT_EQ(Line("REQDATA_BLOCK"), "0192");
  EXPECT_EQ(image.ModelCheckWaived, 1);
  EXPECT_EQ(Line("REQUEST_BLOCK"), "0192");
  EXPECT_EQ(image.ModelCheckWaived, 0);
  EXPECT_EQ(image.HardwareCheckWaived, 0);
  image.BlockCount = 12345;
  EXPECT_EQ(Line("REQUEST_BLOCK"), "12345");
}

TEST_F(DownloadTest, AckLocksTheSetupControls) {
  Line("ACK");
  EXPECT_EQ(NewMemo(), Lines{"Connect Success"});
  EXPECT_FALSE(view.setup_enabled);
  EXPECT_TRUE(link.writes.empty());
}

TEST_F(DownloadTest, SourceOf1500Bytes) {
  const Bytes payload = PatternPayload(1500);
  UseImage(payload, false, false);
  EXPECT_EQ(Line("REQUEST_DOWNLOAD"), "");
  EXPECT_EQ(NewMemo(), Lines{"DownLoad Start"});
  EXPECT_EQ(view.logo, "Downloading...");
  EXPECT_EQ(view.logo_text, colours::kBlack);
  EXPECT_EQ(view.logo_background, colours::kAqua);
  EXPECT_EQ(RequestBlock(0), payload.substr(0, 1024));
  Line("1024DOWN_SUCCESS:0000");
  EXPECT_EQ(RequestBlock(1), payload.substr(1024) + Bytes(548, '\0'));
  Line("1024DOWN_SUCCESS:0001");
  for (int k = 2; k < 5; ++k) {
    EXPECT_EQ(RequestBlock(k), Bytes(1024, '\0'));
    Line("1024DOWN_SUCCESS");
  }
  EXPECT_EQ(engine.State().TotalChecksum, Sum(payload));
  EXPECT_EQ(Line("REQUEST_TOTALCRC"), Bytes(1, static_cast<char>(Sum(payload))));
}

TEST_F(DownloadTest, AllFfBlockSumsToZero) {
  UseImage(Bytes(1024, '\xFF'), false, false);
  Line("REQUEST_DOWNLOAD");
  EXPECT_EQ(Line("REQUEST_1024DOWN"), Bytes(1024, '\xFF') + Bytes(1, '\0'));
}

TEST_F(DownloadTest, ResendAfterErrorIsByteForByte) {
  UseImage(PatternPayload(4096), true, true);
  Line("REQUEST_DOWNLOAD");
  Line("1024DOWN_SUCCESS");
  const std::string first = Line("REQUEST_1024DOWN:0001");
  const std::uint8_t total = engine.State().TotalChecksum;
  Line("1024DOWN_ERR:0003");
  EXPECT_EQ(NewMemo().back(), "0003 Block Retry");
  EXPECT_EQ(Line("REQUEST_1024DOWN:0001"), first);
  EXPECT_EQ(Line("REQUEST_1024DOWN"), first);
  EXPECT_EQ(engine.State().TotalChecksum, total);
  EXPECT_EQ(engine.State().ProgressCounter, 1);
}

TEST_F(DownloadTest, ProgressRoundsHalvesToEven) {
  UseImage(PatternPayload(8192), false, false);
  Line("REQUEST_DOWNLOAD");
  view.ClearEvents();
  for (int k = 0; k < 8; ++k) Line("1024DOWN_SUCCESS:0042");  // numbers are not examined
  EXPECT_EQ(view.EventsOf("pb1"),
            (std::vector<std::string>{"0", "12", "25", "38", "50", "62", "75", "88"}));
  EXPECT_EQ(view.file_size, "(8192 / 8192)");
  EXPECT_EQ(view.EventsOf("filesize").front(), "(1024 / 8192)");
}

TEST_F(DownloadTest, FileSizeTextOfA768BlockRegion) {
  UseImage(PatternPayload(2048), false, false);
  image.BlockCount = 768;
  Line("REQUEST_DOWNLOAD");
  Line("1024DOWN_SUCCESS");
  EXPECT_EQ(view.file_size, "(1024 / 786432)");
}

TEST_F(DownloadTest, NoSignatureNoScrambleSendsTheSourceAsItIs) {
  const Bytes payload = PatternPayload(5000);
  UseImage(payload, false, false);
  EXPECT_EQ(DownloadAll(8), Padded(payload));
}

TEST_F(DownloadTest, TrailerStraddlesBlocksOn2ll) {
  const Bytes payload = PatternPayload(2060);
  UseImage(payload, true, false);
  engine.State().LoaderKind = kLoader2LL;
  const Bytes received = DownloadAll(4);
  Bytes expected = Padded(payload);
  Place(expected, 1024 + 1008, Signature(), 0, 16);
  Place(expected, 2048, Signature(), 16, 12);
  EXPECT_EQ(received, expected);
}

TEST_F(DownloadTest, TrailerTable2ll) {
  // Payload sizes that put the trailer at every kind of place.
  for (const std::size_t size : {2048u, 2049u, 2075u, 2076u, 3000u, 1024u + 28u}) {
    SCOPED_TRACE(size);
    image.PayloadBytesRead = 0;
    engine.EndRun();
    const Bytes payload = PatternPayload(size, static_cast<unsigned>(size));
    UseImage(payload, true, false);
    engine.State().LoaderKind = kLoader2LL;
    Bytes expected = Padded(payload);
    Place(expected, size - 28, Signature());
    EXPECT_EQ(DownloadAll(image.BlockCount), expected);
  }
}

TEST_F(DownloadTest, LastBlockSignatureOn5518) {
  for (const std::size_t size : {8192u, 7000u, 7190u}) {
    SCOPED_TRACE(size);
    engine.EndRun();
    const Bytes payload = PatternPayload(size);
    UseImage(payload, true, false);
    ASSERT_EQ(image.BlockCount, 8);
    Bytes expected = Padded(payload);
    // Bytes 996 to 1023 of block 7; padding wins beyond the data.
    for (std::size_t k = 0; k < 28; ++k) {
      if (7 * 1024 + 996 + k < size) Place(expected, 7 * 1024 + 996 + k, Signature(), k, 1);
    }
    const Bytes received = DownloadAll(8);
    EXPECT_EQ(received, expected);
    if (size == 7000) {
      EXPECT_EQ(received.substr(7 * 1024), Bytes(1024, '\0'));
    }
  }
}

TEST_F(DownloadTest, ZcodeBlockZeroSignatureOnlyOnAFreshRun) {
  for (const std::int32_t loader : {kLoader5518, kLoader2LL}) {
    SCOPED_TRACE(loader);
    const Bytes payload = PatternPayload(3000);
    UseImage(payload, true, false, "ZCODE");
    engine.EndRun();
    engine.State().LoaderKind = loader;
    Bytes expected = Padded(payload);
    Place(expected, 0, Signature());
    EXPECT_EQ(DownloadAll(4), expected);
    // No reset since: ProgressCounter is 4, block 0 stays plain.
    EXPECT_EQ(DownloadAll(4), Padded(payload));
  }
}

TEST_F(DownloadTest, KeySubtractionPerLoaderKind) {
  const Bytes payload = PatternPayload(3500);
  struct Case {
    std::int32_t loader;
    std::string type;
  };
  // Every block of a scrambled image reaches the box plain, on both loader
  // kinds and for every type: a 2LL box given block 0 plain and the rest
  // scrambled would write junk into its flash.
  const Case cases[] = {{kLoader5518, "LOADER"}, {kLoader5518, "CODE"}, {kLoader2LL, "CODE"},
                        {kLoader2LL, "LOADER"},  {kLoader2LL, "ZCODE"}, {kLoader2LL, "DATABASE"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + std::to_string(c.loader));
    engine.EndRun();
    UseImage(payload, true, true, c.type);
    engine.State().LoaderKind = c.loader;
    const Bytes received = DownloadAll(4);
    Bytes expected = Padded(payload);
    if (c.type == "CODE" && c.loader == kLoader2LL) Place(expected, 3500 - 28, Signature());
    if (c.type == "ZCODE") Place(expected, 0, Signature());
    // On 5518 the signature lands on block 3, which holds no payload: padding wins.
    EXPECT_EQ(received, expected);
    EXPECT_EQ(engine.State().TotalChecksum, Sum(received));
  }
}

TEST_F(DownloadTest, SignatureUsesTheShownModelName) {
  const Bytes payload = PatternPayload(2048);
  UseImage(payload, true, false, "ZCODE");
  struct Case {
    std::string shown_model;
    Bytes signature;
  };
  const Case cases[] = {
      {"AB", "TAVOAB" + header.substr(4, 21) + Bytes(1, '\0')},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "TAVOABCDEFGHIJKLMNOPQRSTUVWX"},
      // Shorter again: the 28th byte keeps what the long name left.
      {"AB", "TAVOAB" + header.substr(4, 21) + "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown_model);
    engine.EndRun();
    view.SetEdit(Edit::kModelName, c.shown_model);
    Bytes expected = payload;
    Place(expected, 0, c.signature);
    Line("REQUEST_DOWNLOAD");
    EXPECT_EQ(RequestBlock(0), expected.substr(0, 1024));
  }
}

TEST_F(DownloadTest, ShownTypeDecidesThePlacement) {
  const Bytes payload = PatternPayload(2048);
  UseImage(payload, true, false, "CODE");
  view.SetEdit(Edit::kType, "ZCODE");  // the operator typed it
  Bytes expected = Padded(payload);
  Place(expected, 0, Signature());
  EXPECT_EQ(DownloadAll(4), expected);
}

TEST_F(DownloadTest, NoSourceOpenCountsAsExhausted) {
  Feed(FlashInfo(0x21, 0x27, 0x82));  // DataBuffer holds the record
  EXPECT_EQ(Line("REQUEST_1024DOWN"), Bytes(1025, '\0'));
  Line("1024DOWN_SUCCESS");
  EXPECT_EQ(engine.State().TotalChecksum, 0);
  EXPECT_EQ(engine.State().BlockBytesRead, 0);

  UseImage(PatternPayload(1024, 3), false, false);
  DownloadAll(4);
  Line("RAMCRC_SUCCESS");
  EXPECT_FALSE(engine.State().SourceStream.IsOpen());
  EXPECT_EQ(Line("REQUEST_1024DOWN"), Bytes(1025, '\0'));
}

TEST_F(DownloadTest, SecondDownloadWithoutReloadPlacesNoTrailer) {
  const Bytes payload = PatternPayload(2060);
  UseImage(payload, true, true);
  engine.State().LoaderKind = kLoader2LL;
  DownloadAll(4);
  EXPECT_EQ(image.PayloadBytesRead, 2060);
  engine.EndRun();
  EXPECT_EQ(DownloadAll(4), Padded(payload));
  EXPECT_GT(image.PayloadBytesRead, image.PayloadSize);
}

TEST_F(DownloadTest, EmptyRegionLeavesTheBarAlone) {
  UseImage(Bytes(), false, false);
  ASSERT_EQ(image.BlockCount, 0);
  view.SetProgress(ProgressBar::kPb1, 37);
  Line("REQUEST_DOWNLOAD");
  Line("1024DOWN_SUCCESS");
  EXPECT_EQ(view.pb1, 37);
  EXPECT_EQ(view.file_size, "(0 / 0)");  // never beyond the region
}

TEST_F(DownloadTest, SourceThatCannotBeOpened) {
  image.ImageFileName = dir.PathOf("gone.bin");
  Line("REQUEST_DOWNLOAD");
  EXPECT_EQ(view.errors, (std::vector<std::string>{"Cannot open file \"" + image.ImageFileName +
                                                   "\". No such file or directory"}));
  EXPECT_EQ(NewMemo(), Lines{"DownLoad Start"});
  EXPECT_EQ(view.logo, "Simple and Speedy");
  EXPECT_TRUE(link.writes.empty());
  // No zeros in the image's place either.
  EXPECT_EQ(Line("REQUEST_1024DOWN:0000"), "");
}

TEST_F(DownloadTest, TotalChecksumIsTheSumOfWhatWasSent) {
  const Bytes payload = PatternPayload(5555);
  UseImage(payload, true, true);
  const Bytes received = DownloadAll(8);
  EXPECT_EQ(Line("REQUEST_TOTALCRC"), Bytes(1, static_cast<char>(Sum(received))));
}

}  // namespace
}  // namespace stbup

namespace stbup {
namespace {

// The records' counts: blocks the box accepted and blocks it asked again,
// each box's own from its loader's announcement.
TEST_F(DownloadTest, TallyCountsAcceptedAndRetriedBlocksPerBox) {
  std::vector<RunEvent> events;
  engine.SetRunEventHandler([&](RunEvent event) { events.push_back(event); });
  UseImage(PatternPayload(4096), false, false);
  Line("REQUEST_V217");
  EXPECT_EQ(events, std::vector<RunEvent>{RunEvent::kAnnounced});
  Line("REQUEST_DOWNLOAD");
  Line("REQUEST_1024DOWN:0000");
  Line("1024DOWN_ERR:0000");
  Line("REQUEST_1024DOWN:0000");
  Line("1024DOWN_ERR:0000");
  Line("REQUEST_1024DOWN:0000");
  Line("1024DOWN_SUCCESS:0000");
  Line("REQUEST_1024DOWN:0001");
  Line("1024DOWN_SUCCESS:0001");
  EXPECT_EQ(engine.Tally().BlocksSent, 2);
  EXPECT_EQ(engine.Tally().BlocksRetried, 2);
  // The next box starts from nothing, whichever way its loader announces itself.
  for (const char* announcement : {"REQUEST_L301", "REQUEST_MODE"}) {
    Line("1024DOWN_SUCCESS:0002");
    Line(announcement);
    EXPECT_EQ(engine.Tally().BlocksSent, 0) << announcement;
    EXPECT_EQ(engine.Tally().BlocksRetried, 0) << announcement;
  }
  EXPECT_EQ(events, (std::vector<RunEvent>{RunEvent::kAnnounced, RunEvent::kAnnounced,
                                           RunEvent::kAnnounced}));
}

// A box's acknowledgement garbled on the line: the box moves on to the next
// block, and gets that block, whether it counts from 0 or from the start
// block. Without numbers nothing changes.
TEST_F(DownloadTest, ABoxGetsTheBlockItNames) {
  struct Case {
    std::string name;
    int first;  // the box's number for block 0
    bool numbered;
  };
  for (const Case& c : {Case{"counting from 0", 0, true}, Case{"from the start block", 16, true},
                        Case{"no numbers", 0, false}}) {
    SCOPED_TRACE(c.name);
    const Bytes payload = PatternPayload(4096, 11);
    UseImage(payload, true, false);  // 5518: the signature goes on the region's last block
    engine.EndRun();
    NewMemo();
    Line("REQUEST_DOWNLOAD");
    auto request = [&](int k) {
      return Line(c.numbered ? "REQUEST_1024DOWN:" + FormatBlockNumber(c.first + k)
                             : std::string("REQUEST_1024DOWN"));
    };
    Bytes received;
    const Bytes block0 = request(0);
    Line(
        "1024DOWN_SUCC\x7f"
        "ESS:" +
        FormatBlockNumber(c.first));  // garbled: not understood
    const Bytes block1 = request(1);
    Line("1024DOWN_SUCCESS:" + FormatBlockNumber(c.first + 1));
    const Bytes block2 = request(2);
    Line("1024DOWN_SUCCESS:" + FormatBlockNumber(c.first + 2));
    const Bytes block3 = request(3);
    Line("1024DOWN_SUCCESS:" + FormatBlockNumber(c.first + 3));
    Bytes expected = Padded(payload);
    Place(expected, 3 * 1024 + 996, Signature());
    EXPECT_EQ(block0.substr(0, 1024), expected.substr(0, 1024));
    if (!c.numbered) {
      // Today's behaviour: block 0 again, one block off.
      EXPECT_EQ(block1.substr(0, 1024), expected.substr(0, 1024));
      EXPECT_EQ(NewMemo(), Lines{"DownLoad Start"});
      continue;
    }
    EXPECT_EQ(block1.substr(0, 1024), expected.substr(1024, 1024));
    EXPECT_EQ(block2.substr(0, 1024), expected.substr(2048, 1024));
    EXPECT_EQ(block3.substr(0, 1024), expected.substr(3072, 1024));
    EXPECT_EQ(NewMemo(), (Lines{"DownLoad Start",
                                ">> The box asks for block " + FormatBlockNumber(c.first + 1) +
                                    ", not " + FormatBlockNumber(c.first) + ": it gets block " +
                                    FormatBlockNumber(c.first + 1)}));
    // Every block the box took is in the total once, and the region is whole.
    EXPECT_EQ(engine.State().TotalChecksum, Sum(expected));
    EXPECT_TRUE(engine.WholeRegionDownloaded());
    EXPECT_EQ(view.file_size, "(4096 / 4096)");
  }
}

TEST_F(DownloadTest, ExtraAcknowledgementsNeverPushTheBarsBeyondTheRegion) {
  UseImage(PatternPayload(4096), false, false);
  Line("REQUEST_DOWNLOAD");
  for (int k = 0; k < 70; ++k) Line("1024DOWN_SUCCESS");
  EXPECT_EQ(view.pb1, 100);
  EXPECT_EQ(view.file_size, "(4096 / 4096)");
  for (const std::string& value : view.EventsOf("pb1")) EXPECT_LE(std::stoi(value), 100);
  Line("FLASH_WRITE");
  for (int k = 0; k < 70; ++k) Line("4096FLASH_WRITE");
  for (const std::string& value : view.EventsOf("pb2")) {
    EXPECT_GE(std::stoi(value), 0);
    EXPECT_LE(std::stoi(value), 100);
  }
  Line("SEND_DECODE_SIZE:-5");
  Line("4096FLASH_WRITE");
  EXPECT_GE(view.pb2, 0);
}

// A box that asks again for a block it already took gets that block, and it
// is not counted twice.
TEST_F(DownloadTest, ARepeatedBlockIsSentAgainAndCountedOnce) {
  const Bytes payload = PatternPayload(4096, 5);
  UseImage(payload, false, false);
  Line("REQUEST_DOWNLOAD");
  const Bytes b0 = RequestBlock(0);
  Line("1024DOWN_SUCCESS:0000");
  Line("1024DOWN_SUCCESS:0000");  // a doubled acknowledgement moves on twice
  EXPECT_EQ(RequestBlock(1), payload.substr(1024, 1024));
  Line("1024DOWN_SUCCESS:0001");
  EXPECT_EQ(RequestBlock(2), payload.substr(2048, 1024));
  Line("1024DOWN_SUCCESS:0002");
  EXPECT_EQ(RequestBlock(3), payload.substr(3072, 1024));
  Line("1024DOWN_SUCCESS:0003");
  EXPECT_EQ(b0, payload.substr(0, 1024));
  EXPECT_EQ(engine.State().TotalChecksum, Sum(payload));
  EXPECT_TRUE(engine.WholeRegionDownloaded());
  // Outside the region: nothing, and said.
  NewMemo();
  EXPECT_EQ(Line("REQUEST_1024DOWN:0009"), "");
  EXPECT_EQ(NewMemo(),
            Lines{">> The box asks for block 0009, not 0004: it lies outside the region, "
                  "nothing is sent"});
}

}  // namespace
}  // namespace stbup
