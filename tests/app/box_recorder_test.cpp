#include "app/core/box_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/main_window.h"
#include "app/core/memory_settings.h"
#include "tests/support/recording_view.h"
#include "tests/support/window_fakes.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class MemorySink : public RecordSink {
 public:
  void Append(BoxRecord record) override { records.push_back(std::move(record)); }
  std::optional<std::string> TakeProblem() override { return std::nullopt; }
  void Flush() override {}
  std::vector<BoxRecord> records;
};

// What the window shows, with the memo also reaching the recorder's tap, as
// every front end tees it.
class TappedView : public RecordingView {
 public:
  explicit TappedView(View& tap) : tap_(tap) {}
  void AddMemoLine(std::string_view line) override {
    RecordingView::AddMemoLine(line);
    tap_.AddMemoLine(line);
  }

 private:
  View& tap_;
};

class BoxRecorderTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("stbup-recorder-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir);
    image = (dir / "main.bin").string();
    std::ofstream(image, std::ios::binary) << "TAVO000000010203040506"
                                           << "0000000016CMX1x" << std::string(4096, '\x5a');
    settings.keys[std::string(MainWindow::kKeyPath)] = {
        {"FileName", image}, {"ComPort", "COM3"}, {"PortIndex", "2"}};
    window.GetEngine().SetRunEventHandler([this](RunEvent event) { recorder.Observe(event); });
    window.FormCreate("");
  }
  void TearDown() override { fs::remove_all(dir); }

  void Box(const std::string& lines) {
    port.incoming = lines;
    window.VaComm1RxChar();
  }

  fs::path dir;
  std::string image;
  MemorySink sink;
  BoxRecorder recorder{sink, {"bench-3", "window", "", {}, {}}};
  TappedView view{recorder.Tap()};
  FakePort port;
  FakeTimer timer;
  MemorySettings settings;
  FakeFileDialog dialog;
  FakeWindowControls controls;
  MainWindow window{view, port, timer, settings, dialog, controls};
};

// ExchangeState keeps the last box's identity; a box that restarts before
// telling its own must not be given it.
TEST_F(BoxRecorderTest, ABoxIsGivenOnlyWhatItToldItself) {
  Box("REQUEST_V217\nREQUEST_VERSION:1,2,3,ZZZ,01,0a,33,20,11,05\n");
  recorder.Finish(window, Verdict::kRefused, 5);
  recorder.Await();
  Box("REQUEST_MODE\n");
  recorder.Finish(window, Verdict::kRestarted, 6);
  recorder.Finish(window, Verdict::kFailed, 1);  // once per box

  ASSERT_EQ(sink.records.size(), 2u);
  const BoxRecord& refused = sink.records[0];
  EXPECT_EQ(refused.verdict, Verdict::kRefused);
  EXPECT_EQ(refused.exit_status, 5);
  EXPECT_EQ(refused.loader_kind, "5518");
  EXPECT_EQ(refused.loader_version, "0217");
  EXPECT_EQ(refused.box_model, "ZZZ");
  EXPECT_EQ(refused.box_hw, "20.11.05");
  EXPECT_EQ(refused.box_sw, "01.0A.33");
  EXPECT_EQ(refused.port, "COM3");  // the window's port when none is named
  EXPECT_EQ(refused.station, "bench-3");
  EXPECT_EQ(refused.front_end, "window");
  EXPECT_EQ(refused.image_path, image);
  EXPECT_EQ(refused.image_size, static_cast<std::int64_t>(fs::file_size(image)));
  EXPECT_EQ(refused.image_model, "MX1");
  EXPECT_EQ(refused.image_hw, "01.02.03");
  EXPECT_EQ(refused.image_sw, "04.05.06");
  EXPECT_EQ(refused.image_type, "CODE");
  EXPECT_EQ(refused.image_sha256, std::nullopt);  // the store's to fill, off the exchange
  EXPECT_EQ(refused.log_tail.substr(refused.log_tail.rfind('\n') + 1), "Upgrade Fail");

  const BoxRecord& restarted = sink.records[1];
  EXPECT_EQ(restarted.verdict, Verdict::kRestarted);
  EXPECT_EQ(restarted.loader_version, "0106");
  EXPECT_EQ(restarted.box_model, std::nullopt);
  EXPECT_EQ(restarted.box_hw, std::nullopt);
  EXPECT_EQ(restarted.flash_size, std::nullopt);
  EXPECT_EQ(restarted.log_tail.find("ZZZ"), std::string::npos) << restarted.log_tail;
  EXPECT_NE(restarted.record_id, refused.record_id);
}

TEST_F(BoxRecorderTest, TheLogTailIsTheLastLinesReadableAndNoneForSuccess) {
  Box("REQUEST_V217\n");
  for (int k = 0; k < 30; ++k) view.AddMemoLine("line " + std::to_string(k));
  view.AddMemoLine(std::string(300, 'x'));
  view.AddMemoLine("caf\xE9");
  recorder.Finish(window, Verdict::kTimeout, 8);
  const std::string& tail = sink.records.at(0).log_tail;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at <= tail.size();) {
    const std::size_t end = std::min(tail.find('\n', at), tail.size());
    lines.push_back(tail.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), BoxRecorder::kTailLines);
  EXPECT_EQ(lines.front(), "line 16");
  EXPECT_EQ(lines[lines.size() - 2], std::string(240, 'x') + "...");
  EXPECT_EQ(lines.back(), "caf\xC3\xA9");

  recorder.Await();
  Box("REQUEST_V217\n");
  recorder.Finish(window, Verdict::kUpgraded, 0);
  EXPECT_EQ(sink.records.at(1).log_tail, "");
  EXPECT_FALSE(recorder.BoxInProgress());
}

TEST(BoxRecorderHelpersTest, UtcTextsAndTheWindowsVerdicts) {
  EXPECT_EQ(FormatUtcTimestamp(sys_days(2026y / 12 / 8) + 12h + 34min + 56s + 789ms),
            "2026-12-08T12:34:56.789Z");
  EXPECT_EQ(FormatUtcTimestamp(sys_days(1999y / 12 / 31) + 23h + 59min + 59s + 999ms),
            "1999-12-31T23:59:59.999Z");
  EXPECT_EQ(BytesToUtf8(std::string("A\x80\xFF", 3)), "A\xC2\x80\xC3\xBF");

  const struct {
    RunEvent event;
    bool in_progress;
    std::optional<Verdict> verdict;
  } cases[] = {
      {RunEvent::kAnnounced, true, std::nullopt},
      {RunEvent::kAccepted, true, std::nullopt},
      {RunEvent::kRefused, true, Verdict::kRefused},
      {RunEvent::kUpgradeSuccess, true, Verdict::kUpgraded},
      {RunEvent::kSuccessAfterFailure, true, Verdict::kSuccessAfterFailure},
      {RunEvent::kNormalStart, true, Verdict::kRestarted},
      {RunEvent::kNormalStart, false, std::nullopt},  // after its verdict: no news
  };
  for (const auto& test : cases) {
    EXPECT_EQ(WindowVerdictOf(test.event, test.in_progress), test.verdict)
        << static_cast<int>(test.event);
  }
  for (const Verdict verdict : kAllVerdicts) {
    EXPECT_EQ(VerdictFromName(VerdictName(verdict)), verdict);
  }
  EXPECT_EQ(VerdictFromName("Upgraded"), std::nullopt);
}

}  // namespace
}  // namespace stbup
