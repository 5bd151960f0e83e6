#include "cli/station_command.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/posix/simulate_command.h"
#include "cli/station_port.h"
#include "cli/station_table.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "loop/event_loop.h"
#include "records/records.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A simulated box on a pty of its own, played in a thread until it is done;
// the pty stays until the box is destroyed, as a plugged-in adapter would.
class SimulatedBox {
 public:
  SimulatedBox(const std::string& image, SimulatorOptions options) {
    options.image = ReadImageInfo(image);
    options.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M
    options.flash_record[6] = 0x81;
    box_ = std::make_unique<BoxSimulator>(options);
    played_ = std::async(std::launch::async, [this] {
      return box_->Run(pty_.master(),
                       LineHooks{[this] { pty_.ReleaseSlave(); }, [this] { pty_.CloseMaster(); }});
    });
  }
  ~SimulatedBox() {
    box_->Stop();
    if (played_.valid()) played_.wait();
  }
  const std::string& path() const { return pty_.slave_path(); }
  // The box's summaries once it has ended (stopped if still waiting).
  std::vector<SimulationSummary> Summaries() {
    if (played_.wait_for(5s) != std::future_status::ready) box_->Stop();
    return played_.get();
  }
  bool Done() const { return played_.wait_for(0s) == std::future_status::ready; }

 private:
  PtyEndpoint pty_;
  std::unique_ptr<BoxSimulator> box_;
  std::future<std::vector<SimulationSummary>> played_;
};

struct StationRun {
  int status = -1;
  std::string out;
  std::string err;
};

class StationCommandTest : public ::testing::Test {
 protected:
  StationOptions Options(const std::string& image) {
    StationOptions options;
    options.image = image;
    options.settings_file = dir.PathOf("none.ini");
    options.out_is_terminal = false;
    options.timeout_seconds = 60;  // a test that goes wrong still ends
    options.log_dir = dir.PathOf("logs");
    options.watch_interval_ms = 100;
    return options;
  }
  StationRun Run(const StationOptions& options) {
    std::ostringstream out;
    std::ostringstream err;
    StationRun run;
    run.status = RunStation(options, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
  }
  std::string Log(const std::string& port) {
    return ReadFile(dir.PathOf("logs/" + StationFileName(port) + ".log"));
  }

  TempDir dir;
};

// A CODE image for the 1 Mbyte boxes: the model and hardware are checked.
std::string WriteCodeImage(const TempDir& dir, std::size_t payload_size) {
  ImageSpec recipe;
  recipe.type_letter = 'C';
  recipe.model_name = "MX1";
  recipe.start_block = 16;
  recipe.hardware_version = {0x01, 0x02, 0x03};
  recipe.software_version = {0x04, 0x05, 0x06};
  std::vector<std::uint8_t> payload(payload_size);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 13);
  const std::string path = dir.PathOf("code.bin");
  WriteImageFile(path, recipe, payload);
  return path;
}

TEST_F(StationCommandTest, FourBoxesEachEndAsTheyWouldAlone) {
  // 768 KiB: what a 1 Mbyte 5518 box takes without a size warning.
  const std::string image = WriteCodeImage(dir, 0xC0000);
  SimulatorOptions v5518;
  SimulatorOptions twoll;
  twoll.announcement = LoaderAnnouncement::k2LL;
  SimulatorOptions refused;
  refused.model = "QQ9";
  refused.ack_timeout_ms = 300;
  SimulatorOptions hangs_up;
  hangs_up.hangup_after = 5;
  SimulatedBox a(image, v5518), b(image, twoll), c(image, refused), d(image, hangs_up);

  StationOptions options = Options(image);
  options.ports = {a.path(), b.path(), c.path(), d.path()};
  options.boxes = 4;
  options.records_file = dir.PathOf("records.sqlite3");
  options.trace_dir = dir.PathOf("traces");
  StationRun run = Run(options);
  EXPECT_EQ(run.status, kExitSomeBoxNotUpgraded) << run.err << run.out;

  // The boxes themselves: two verified upgrades, a refusal, a hang-up.
  auto first = [](std::vector<SimulationSummary> s) { return s.empty() ? "none" : s[0].verdict; };
  EXPECT_EQ(first(a.Summaries()), "verified");
  EXPECT_EQ(first(b.Summaries()), "verified");
  EXPECT_NE(first(c.Summaries()), "verified");
  EXPECT_EQ(first(d.Summaries()), "hung_up");

  // One event line each, whole, in the order they happened.
  EXPECT_TRUE(Contains(run.out, " " + a.path() + ": box identified: 5518 L 217, model MX1\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, " " + b.path() + ": box identified: 2LL L 217, model MX1\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, " " + a.path() + ": box 1: upgraded (")) << run.out;
  EXPECT_TRUE(Contains(run.out, " " + b.path() + ": box 1: upgraded (")) << run.out;
  EXPECT_TRUE(Contains(
      run.out, " " + c.path() + ": box 1: refused (Upgrade Fail): check my model QQ9 != MX1 ("))
      << run.out;
  EXPECT_TRUE(Contains(run.out, " " + d.path() + ": box 1: the port went away (")) << run.out;
  EXPECT_TRUE(Contains(run.out, " " + d.path() + ": gone\n")) << run.out;

  // The summary: a line per port, then every box that was not upgraded.
  EXPECT_TRUE(Contains(run.out, "\nPORT  ")) << run.out;
  EXPECT_TRUE(Contains(run.out, c.path() + " box 1: refused (Upgrade Fail)")) << run.out;
  EXPECT_TRUE(Contains(run.out, d.path() + " box 1: the port went away\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n4 boxes, 2 upgraded, 2 not\n")) << run.out;

  // Each port's memo log holds its own exchange and nobody else's.
  EXPECT_TRUE(Contains(Log(a.path()), "5518 detected..\n"));
  EXPECT_FALSE(Contains(Log(a.path()), "2LL detected.."));
  EXPECT_TRUE(Contains(Log(b.path()), "2LL detected..\n"));
  EXPECT_TRUE(Contains(Log(c.path()), "Upgrade Fail\n"));
  EXPECT_TRUE(Contains(Log(a.path()), "Upgrade End\n"));
  EXPECT_TRUE(Log(a.path()).starts_with("[ Upgrade mode. ]\n"));
  const std::string trace = ReadFile(dir.PathOf("traces/" + StationFileName(b.path()) + ".jsonl"));
  EXPECT_TRUE(Contains(trace, R"("memo":"2LL detected.."})")) << trace.substr(0, 400);
  EXPECT_FALSE(Contains(trace, "5518 detected"));

  // One record per box, each under its own port, from the station.
  std::map<std::string, std::vector<std::string>> verdicts;
  for (const auto& record : ReadRecords(options.records_file, {})) {
    EXPECT_EQ(record.front_end, "station");
    verdicts[record.port].emplace_back(VerdictName(record.verdict));
  }
  using Verdicts = std::vector<std::string>;
  EXPECT_EQ(verdicts[a.path()], Verdicts{"upgraded"});
  EXPECT_EQ(verdicts[b.path()], Verdicts{"upgraded"});
  EXPECT_EQ(verdicts[c.path()], Verdicts{"refused"});
  EXPECT_EQ(verdicts[d.path()], Verdicts{"port_gone"});
}

// A full disk under a port's log and trace: said once per file, the box is
// still upgraded and recorded, the summary names the files, the status 11.
TEST_F(StationCommandTest, PortFilesThatCannotBeWrittenAreSaidAndEndTheStationWith11) {
  const std::string image = WriteCodeImage(dir, 0xC0000);
  SimulatedBox a(image, SimulatorOptions{});
  StationOptions options = Options(image);
  options.ports = {a.path()};
  options.boxes = 1;
  options.trace_dir = dir.PathOf("traces");
  options.records_file = dir.PathOf("records.sqlite3");
  std::filesystem::create_directories(options.log_dir);
  std::filesystem::create_directories(options.trace_dir);
  const std::string log = options.log_dir + "/" + StationFileName(a.path()) + ".log";
  const std::string trace = options.trace_dir + "/" + StationFileName(a.path()) + ".jsonl";
  std::filesystem::create_symlink("/dev/full", log);
  std::filesystem::create_symlink("/dev/full", trace);
  StationRun run = Run(options);
  EXPECT_EQ(run.status, kExitRecordIncomplete) << run.err << run.out;
  for (const std::string& said :
       {a.path() + ": cannot write the log " + log + ": No space left on device",
        a.path() + ": cannot write the trace " + trace + ": "}) {
    const auto first = run.out.find(said);
    EXPECT_NE(first, std::string::npos) << said << "\n" << run.out;
    EXPECT_EQ(run.out.find(said, first + 1), std::string::npos) << said << "\n" << run.out;
  }
  EXPECT_TRUE(Contains(run.out, "incomplete (could not be written whole): " + log + ", " + trace))
      << run.out;
  const auto records = ReadRecords(options.records_file, {});
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].verdict, Verdict::kUpgraded);
  EXPECT_EQ(records[0].exit_status, kExitRecordIncomplete);
}

TEST_F(StationCommandTest, CheckOnlyTellsWhichBoxesWouldTakeTheImage) {
  const std::string image = WriteCodeImage(dir, 0xC0000);
  SimulatorOptions takes;
  takes.ack_timeout_ms = 300;
  SimulatorOptions refuses = takes;
  refuses.model = "QQ9";
  SimulatedBox a(image, takes), b(image, refuses);
  StationOptions options = Options(image);
  options.ports = {a.path(), b.path()};
  options.boxes = 2;
  options.check_only = true;
  StationRun run = Run(options);
  EXPECT_EQ(run.status, kExitSomeBoxNotUpgraded) << run.err << run.out;
  EXPECT_TRUE(Contains(run.out, a.path() + ": box 1: would take the image (check only) ("))
      << run.out;
  EXPECT_TRUE(Contains(run.out, b.path() + ": box 1: refused (Upgrade Fail): ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n2 boxes, 1 accepted, 1 not\n")) << run.out;
  // No data moved to either box.
  for (SimulatedBox* box : {&a, &b}) {
    const auto played = box->Summaries();
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played[0].blocks, 0);
  }
}

TEST_F(StationCommandTest, WatchServesPortsAsTheyAppearAndReleasesThemWhenTheyVanish) {
  const std::string image = testing::WriteSmallImage(dir, 16 * 1024);
  const std::string first_link = dir.PathOf("box-1");
  const std::string second_link = dir.PathOf("box-2");
  std::filesystem::create_directories(dir.PathOf("logs"));
  auto first = std::make_unique<SimulatedBox>(image, SimulatorOptions{});
  std::filesystem::create_symlink(first->path(), first_link);

  StationOptions options = Options(image);
  options.watch = dir.PathOf("box-*");
  options.boxes = 2;
  std::unique_ptr<SimulatedBox> second;
  // The operator: once the first box is done its adapter is unplugged; then a
  // second one is plugged in.
  std::thread bench([&] {
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!first->Done() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    std::filesystem::remove(first_link);
    std::this_thread::sleep_for(400ms);
    second = std::make_unique<SimulatedBox>(image, SimulatorOptions{});
    std::filesystem::create_symlink(second->path(), second_link);
  });
  StationRun run = Run(options);
  bench.join();
  EXPECT_EQ(run.status, 0) << run.err << run.out;
  const auto serving_first = run.out.find(first_link + ": serving\n");
  const auto gone_first = run.out.find(first_link + ": gone\n");
  const auto serving_second = run.out.find(second_link + ": serving\n");
  ASSERT_NE(serving_first, std::string::npos) << run.out;
  ASSERT_NE(gone_first, std::string::npos) << run.out;
  ASSERT_NE(serving_second, std::string::npos) << run.out;
  EXPECT_LT(serving_first, gone_first);
  EXPECT_LT(gone_first, serving_second);
  EXPECT_TRUE(Contains(run.out, second_link + ": box 1: upgraded (")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n2 boxes, 2 upgraded, 0 not\n")) << run.out;
  // A port released between boxes has failed no box.
  EXPECT_FALSE(Contains(run.out, "went away")) << run.out;
  EXPECT_EQ(second->Summaries().at(0).verdict, "verified");
}

TEST_F(StationCommandTest, OneSimulatorPlaysManyBoxesLinkedOneToK) {
  const std::string image = WriteCodeImage(dir, 0xC0000);
  const std::string link = dir.PathOf("line");
  CommandRegistry registry("stbup");
  AddSimulateCommand(registry);
  std::ostringstream sim_out;
  std::ostringstream sim_err;
  std::future<int> simulated = std::async(std::launch::async, [&] {
    return registry.Execute({"simulate", "--count", "3", "--link", link, "--image", image,
                             "--flash-size", "0x11", "--flash-chip", "2781"},
                            sim_out, sim_err);
  });
  for (int k = 1; k <= 3; ++k) {
    const std::string path = link + "-" + std::to_string(k);
    for (int i = 0; i < 250 && !std::filesystem::exists(path); ++i)
      std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
  }
  StationOptions options = Options(image);
  options.watch = link + "-*";
  options.boxes = 3;
  StationRun run = Run(options);
  EXPECT_EQ(run.status, 0) << run.err << run.out;
  EXPECT_TRUE(Contains(run.out, "\n3 boxes, 3 upgraded, 0 not\n")) << run.out;
  ASSERT_EQ(simulated.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(simulated.get(), 0) << sim_err.str();
  // K paths first, then one summary per box; the links are gone with the boxes.
  std::istringstream lines(sim_out.str());
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 6u) << sim_out.str();
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(got[static_cast<std::size_t>(k)].starts_with("/dev/pts/")) << got[k];
    EXPECT_TRUE(Contains(got[static_cast<std::size_t>(k) + 3], "\"verdict\":\"verified\""));
    EXPECT_FALSE(std::filesystem::exists(link + "-" + std::to_string(k + 1)));
  }
}

TEST_F(StationCommandTest, UsageAndImageProblemsEndBeforeAnyPortOpens) {
  PtyEndpoint pty;
  StationOptions options = Options(dir.PathOf("missing.bin"));
  options.ports = {pty.slave_path()};
  StationRun missing = Run(options);
  EXPECT_EQ(missing.status, kExitImageNotAccepted);
  EXPECT_TRUE(Contains(missing.err, "stbup: ")) << missing.err;

  options.image = testing::WriteSmallImage(dir, 4096);
  options.ports.clear();
  EXPECT_EQ(Run(options).status, kExitUsage);

  // A watched port whose log cannot be created is said once and left alone.
  const std::string link = dir.PathOf("watched-1");
  std::filesystem::create_symlink(pty.slave_path(), link);
  std::filesystem::create_directories(dir.PathOf("logs/" + StationFileName(link) + ".log"));
  options.watch = link;
  options.timeout_seconds = 0.6;
  StationRun unwritable = Run(options);
  EXPECT_EQ(unwritable.status, 0) << unwritable.err;
  const std::string said = "stbup: " + link + " is not served: Cannot create file";
  const auto first = unwritable.err.find(said);
  EXPECT_NE(first, std::string::npos) << unwritable.err;
  EXPECT_EQ(unwritable.err.find(said, first + 1), std::string::npos) << unwritable.err;
  EXPECT_FALSE(Contains(unwritable.out, link + ": serving")) << unwritable.out;
  options.watch.clear();

  options.ports = {pty.slave_path()};
  options.log_dir = dir.WriteFile("file-not-folder", "x");
  StationRun bad_dir = Run(options);
  EXPECT_EQ(bad_dir.status, kExitInternalError);
  EXPECT_TRUE(Contains(bad_dir.err, "stbup: cannot use " + options.log_dir)) << bad_dir.err;
}

// The row and the event lines follow the box's typed events: a box whose
// own lines read like another loader's announcement mid-download (here a
// "TargetInfo:" line ending " detected..") still moves through the table as
// the box it is.
TEST_F(StationCommandTest, ARowFollowsTheBoxNotItsMemoText) {
  const std::string image = WriteCodeImage(dir, 0xC0000);
  const struct {
    std::string name;
    LoaderAnnouncement announcement;
    bool mode_sentence;
    std::string target_info;
    std::string loader;
  } cases[] = {
      {"versioned loader", LoaderAnnouncement::kVersion, false, "Boot-Loader 9.9.9 detected..",
       "5518 L 217"},
      {"loader sentence", LoaderAnnouncement::kMode, true, "Loader 3.0 detected..", "5518 L 202"},
      {"2LL loader", LoaderAnnouncement::k2LL, false, "CPU 2LL detected..", "2LL L 217"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    SimulatorOptions box_options;
    box_options.announcement = test.announcement;
    box_options.mode_sentence = test.mode_sentence;
    box_options.flash_record[4] = 0x11;
    box_options.target_info = test.target_info;
    SimulatedBox box(image, box_options);

    EventLoop loop;
    std::vector<std::string> events;
    StationPort::Listener listener;
    listener.event = [&](StationPort&, std::string_view text) { events.emplace_back(text); };
    listener.box_ended = [&](StationPort&, const BoxEnded&) { loop.Quit(); };
    StationPort port(box.path(), {}, listener);
    PortSession::Options options;
    options.image = image;
    options.port = box.path();
    options.settings_file = dir.PathOf("none.ini");
    ASSERT_TRUE(port.Serve(loop, options));
    loop.AddTimer(30000, [&] { loop.Quit(); });  // a test that goes wrong still ends
    loop.Run();

    const StationRow row = port.Row(StationPort::Clock::now());
    EXPECT_EQ(row.loader, test.loader);
    EXPECT_EQ(row.model, "MX1");
    EXPECT_EQ(row.upgraded, 1);
    EXPECT_EQ(row.verdict, "upgraded");
    ASSERT_EQ(port.Boxes().size(), 1u);
    EXPECT_EQ(port.Boxes()[0].verdict, Verdict::kUpgraded);
    const std::vector<std::string> expected = {"serving",
                                               "box identified: " + test.loader + ", model MX1"};
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 2), expected);
    EXPECT_TRUE(events[2].starts_with("box 1: upgraded (")) << events[2];
    port.Release(std::nullopt, "closed");
  }
}

TEST(StationTable, RowsAndSummaryAreLaidOutInColumns) {
  StationRow row;
  row.port = "/dev/pts/7";
  row.loader = "5518 L 217";
  row.model = "ABC";
  row.phase = "Downloading...";
  row.block = 12;
  row.blocks = 48;
  row.percent = 25;
  row.rate = 11.25 * 1024;
  row.elapsed = 65.4;
  row.upgraded = 3;
  row.failed = 1;
  row.verdict = "refused (Upgrade Fail)";
  const auto lines = StationTable({row}, 200);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "PORT        LOADER      MODEL       PHASE                     BLOCK     %          "
            "RATE  ELAPSED    OK  FAIL  LAST VERDICT");
  EXPECT_EQ(lines[1],
            "/dev/pts/7  5518 L 217  ABC         Downloading...            12/48   25%    11.2 "
            "KiB/s     1:05     3     1  refused (Upgrade Fail)");
  // Cut to the terminal's width so a redraw never wraps; a box's bytes escaped.
  row.model = "A\x1b[2J";
  const auto narrow = StationTable({row}, 40);
  EXPECT_EQ(narrow[1], "/dev/pts/7  5518 L 217  A\\x1B[2J    Down");

  const auto summary = StationSummary(
      {{"/dev/pts/7", {{true, "upgraded"}, {false, "refused (Upgrade Fail)"}}}, {"COM3", {}}});
  const std::vector<std::string> expected = {
      "PORT        BOXES  UPGRADED  FAILED  LAST VERDICT",
      "/dev/pts/7      2         1       1  refused (Upgrade Fail)",
      "COM3            0         0       0  -",
      "/dev/pts/7 box 2: refused (Upgrade Fail)",
      "2 boxes, 1 upgraded, 1 not",
  };
  EXPECT_EQ(summary, expected);
  // Checking only, a box that would take the image is what succeeds.
  const auto checked =
      StationSummary({{"COM3", {{true, "would take the image (check only)"}}}}, "accepted");
  EXPECT_EQ(checked.front(), "PORT  BOXES  ACCEPTED  FAILED  LAST VERDICT");
  EXPECT_EQ(checked.back(), "1 box, 1 accepted, 0 not");
  EXPECT_EQ(StationFileName("/dev/serial/by-id/usb-FTDI_A-if00"),
            "dev_serial_by-id_usb-FTDI%5FA-if00");
  EXPECT_EQ(StationFileName("COM3"), "COM3");
}

// Two ports never share a log or a trace: names that differ only in "/"
// against "_", repeated separators, a leading "/" or an escape's own text.
TEST(StationFileName, OneNameOneFileAndOrdinaryNamesReadAsThemselves) {
  const struct {
    const char* port;
    const char* file;
  } readable[] = {
      {"/dev/ttyUSB0", "dev_ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI-if00-port0", "dev_serial_by-id_usb-FTDI-if00-port0"},
      {"COM3", "COM3"},
      {"/a/col_x", "a_col%5Fx"},
      {"/a//x", "a__x"},
      {"/COM3", "+COM3"},
      {"dev/x", "+dev_x"},
      {"/", "+"},
      {"/..", "+.."},
      {"/a/b%2Fc", "a_b%252Fc"},
  };
  for (const auto& test : readable) EXPECT_EQ(StationFileName(test.port), test.file) << test.port;
  const std::vector<std::string> ports = {
      "/a/col/x", "/a/col_x", "/a//x", "/a/x",   "/a/_x",  "/a_/x", "a/x",    "/a%2Fx",
      "/a%5Fx",   "COM3",     "/COM3", "+COM3",  "/+COM3", "dev/x", "/dev/x", "/dev_x",
      "/dev/x/",  "/dev/x//", "/",     "//",     "",       ".",     "..",     "/.",
      "/..",      "+",        "/a b",  "/a%20b", "/a\\b",  "/a:b",  "/a\nb",  "/a\x01b"};
  std::map<std::string, std::string> seen;
  for (const std::string& port : ports) {
    const std::string file = StationFileName(port);
    EXPECT_FALSE(file.empty()) << port;
    EXPECT_EQ(file.find('/'), std::string::npos) << port;
    EXPECT_NE(file, ".");
    EXPECT_NE(file, "..");
    const auto [it, fresh] = seen.emplace(file, port);
    EXPECT_TRUE(fresh) << port << " and " << it->second << " both write " << file;
  }
}

}  // namespace
}  // namespace stbup
