#include "app/trace/trace_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/recording_view.h"

namespace stbup {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class TraceWriterTest : public ::testing::Test {
 protected:
  std::ostringstream out;
  double now = 12.5;
  TraceWriter trace{out, [this] { return now; }};
};

TEST_F(TraceWriterTest, RecordShapes) {
  trace.AddMemoLine("[ Upgrade mode. ]");
  trace.SetMemoColour(colours::kRed);
  trace.SetLabel3("L 217, u-C[0]", colours::kBlue);
  trace.SetLogo("Connected !", std::nullopt, std::nullopt);
  trace.SetProgress(ProgressBar::kPb1, 37);
  trace.SetProgress(ProgressBar::kPb2, 50);
  trace.SetFileSize("(1024 / 786432)");
  trace.ShowConnect(false, "Connected");
  trace.EnableSetupControls(false);
  trace.Timer1Changed(100);
  trace.ShowMessage("Need higher up tool !");
  trace.ReportError("'12x' is not a valid integer value");
  trace.Beep();
  trace.PortChanged(true, "COM1");
  trace.PortChanged(false, "COM1");
  trace.ClearMemo();
  EXPECT_EQ(Lines(out.str()),
            (std::vector<std::string>{
                R"({"t":12.5,"memo":"[ Upgrade mode. ]"})",
                R"({"t":12.5,"memo_color":"#FF0000"})",
                R"({"t":12.5,"label3":"L 217, u-C[0]","color":"#0000FF"})",
                R"({"t":12.5,"logo":"Connected !","fg":"#FFFFFF","bg":"#808080"})",
                R"({"t":12.5,"pb1":37})",
                R"({"t":12.5,"pb2":50})",
                R"j({"t":12.5,"filesize":"(1024 / 786432)"})j",
                R"({"t":12.5,"connect":{"visible":false,"caption":"Connected"}})",
                R"({"t":12.5,"setup_enabled":false})",
                R"({"t":12.5,"timer1":100})",
                R"({"t":12.5,"message":"Need higher up tool !"})",
                R"({"t":12.5,"error":"'12x' is not a valid integer value"})",
                R"({"t":12.5,"beep":true})",
                R"({"t":12.5,"port":"open","device":"COM1"})",
                R"({"t":12.5,"port":"closed","device":"COM1"})",
                R"({"t":12.5,"memo_clear":true})",
            }));
}

TEST_F(TraceWriterTest, LogoRecordsCarryTheWholeBanner) {
  trace.SetLogo(std::nullopt, std::nullopt, colours::kBlue);
  trace.SetLogo("Upgrade End!", colours::kRed, std::nullopt);
  EXPECT_EQ(Lines(out.str()),
            (std::vector<std::string>{
                R"({"t":12.5,"logo":"Simple and Speedy","fg":"#FFFFFF","bg":"#0000FF"})",
                R"({"t":12.5,"logo":"Upgrade End!","fg":"#FF0000","bg":"#0000FF"})",
            }));
}

TEST_F(TraceWriterTest, ImageRecordsCarryAllSixEdits) {
  trace.SetEdit(Edit::kModelName, "MX1");
  now = 3.0;
  trace.SetEdit(Edit::kStartBlock, "16  (1003520 Bytes)");
  auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(
      lines[0],
      R"({"t":12.5,"image":{"file":"","model":"MX1","hw":"","sw":"","type":"","start_block":""}})");
  EXPECT_EQ(
      lines[1],
      R"j({"t":3.0,"image":{"file":"","model":"MX1","hw":"","sw":"","type":"","start_block":"16  (1003520 Bytes)"}})j");
  EXPECT_EQ(trace.EditText(Edit::kModelName), "MX1");
}

TEST(TraceQuoteTest, BytesAreKeptOneCodePointEach) {
  struct Case {
    std::string bytes;
    std::string quoted;
  };
  const std::vector<Case> cases = {
      {"plain", R"("plain")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
      {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x7f", "\"\x7f\""},
      {"\x80\xe9\xff", R"("\u0080\u00e9\u00ff")"},
      {"", R"("")"},
  };
  for (const auto& c : cases) EXPECT_EQ(TraceWriter::Quote(c.bytes), c.quoted) << c.quoted;
}

TEST(TeeViewTest, ForwardsToBothAndReadsBackFromThePrimary) {
  RecordingView primary;
  std::ostringstream out;
  TraceWriter trace(out, [] { return 1.0; });
  TeeView tee(primary, trace);
  tee.SetEdit(Edit::kModelName, "MX1");
  primary.edits[Edit::kModelName] = "typed by the operator";
  tee.AddMemoLine("line");
  tee.SetLabel3("L 217", colours::kBlue);
  primary.label3 = "changed";
  EXPECT_EQ(tee.EditText(Edit::kModelName), "typed by the operator");
  EXPECT_EQ(tee.Label3Caption(), "changed");
  EXPECT_EQ(primary.memo, std::vector<std::string>{"line"});
  EXPECT_EQ(Lines(out.str()).size(), 3u);
}

}  // namespace
}  // namespace stbup
