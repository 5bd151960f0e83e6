#include "cli/upgrade_command.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "image/image_reader.h"
#include "image/image_writer.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Payload(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
  return bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<SimulationSummary> boxes;
  double seconds = 0;
};

class UpgradeCommandTest : public ::testing::Test {
 protected:
  // A CODE image must fit the box's flash: 768 KiB for the 1 Mbyte box the
  // simulator is made here.
  std::string MakeImage(ImageSpec recipe, std::size_t payload_size = 0xC0000) {
    recipe.model_name = recipe.model_name == "MODEL" ? "MX1" : recipe.model_name;
    recipe.hardware_version = {0x01, 0x02, 0x03};
    recipe.software_version = {0x04, 0x05, 0x06};
    recipe.start_block = 16;
    std::string path = dir.PathOf("image.bin");
    WriteImageFile(path, recipe, Payload(payload_size));
    return path;
  }

  // The simulator on a fresh pty in a thread; the command in-process on its slave.
  Outcome Run(SimulatorOptions sim, UpgradeOptions options,
              const std::function<void(PtyEndpoint&)>& meanwhile = {}) {
    if (!options.image.empty() && !sim.image) {
      try {
        sim.image = ReadImageInfo(options.image);
      } catch (const std::exception&) {
      }
    }
    if (sim.flash_record[4] == 0x21 && sim.flash_record[5] == 0x27 && sim.flash_record[6] == 0x82) {
      sim.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M
      sim.flash_record[6] = 0x81;
    }
    PtyEndpoint pty;
    BoxSimulator box(sim);
    std::mutex done_mutex;
    std::condition_variable done_changed;
    bool tool_done = false;
    auto boxes = std::async(std::launch::async, [&] {
      auto summaries =
          box.Run(pty.master(), LineHooks{[&] { pty.ReleaseSlave(); }, [&] { pty.CloseMaster(); }});
      // As the simulate command's process ends; not before the tool has read
      // the last lines, which a pty's hang-up would discard.
      std::unique_lock<std::mutex> lock(done_mutex);
      done_changed.wait_for(lock, 500ms, [&] { return tool_done; });
      pty.CloseMaster();
      return summaries;
    });
    std::thread side;
    if (meanwhile) side = std::thread([&] { meanwhile(pty); });
    options.port = pty.slave_path();
    options.out_is_terminal = false;
    options.err_is_terminal = false;
    if (options.log_file.empty()) options.log_file = dir.PathOf("memo.log");
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    auto start = std::chrono::steady_clock::now();
    outcome.status = RunUpgrade(options, out, err);
    // The side action is over before the box may close the master it writes to.
    if (side.joinable()) side.join();
    {
      std::lock_guard<std::mutex> lock(done_mutex);
      tool_done = true;
    }
    done_changed.notify_all();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (boxes.wait_for(3s) != std::future_status::ready) box.Stop();
    outcome.boxes = boxes.get();
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
  }

  UpgradeOptions Options(const std::string& image) {
    UpgradeOptions options;
    options.image = image;
    options.settings_file = dir.PathOf("none.ini");
    return options;
  }

  TempDir dir;
};

bool Verified(const Outcome& outcome) {
  return outcome.boxes.size() == 1 && outcome.boxes[0].verdict == "verified";
}

TEST_F(UpgradeCommandTest, UpgradesEachKindOfBox) {
  struct Case {
    const char* name;
    ImageFileFormat format;
    char type;
    LoaderAnnouncement announcement;
    std::string digits;
    std::optional<std::int32_t> decode_size;
  };
  const std::vector<Case> cases = {
      {"5518 with version, old format", ImageFileFormat::kOld, 'C', LoaderAnnouncement::kVersion,
       "217", std::nullopt},
      {"2LL, scrambled", ImageFileFormat::kScrambled, 'C', LoaderAnnouncement::k2LL, "217",
       std::nullopt},
      {"REQUEST_MODE, new format", ImageFileFormat::kNew, 'C', LoaderAnnouncement::kMode, "",
       std::nullopt},
      {"ZCODE with a decode size", ImageFileFormat::kNew, 'Z', LoaderAnnouncement::kVersion, "217",
       20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec recipe;
    recipe.format = c.format;
    recipe.type_letter = c.type;
    if (c.format != ImageFileFormat::kOld) recipe.check_code = "kestrelowl";
    std::string image = MakeImage(recipe);
    SimulatorOptions sim;
    sim.announcement = c.announcement;
    sim.version_digits = c.digits;
    sim.decode_size = c.decode_size;
    Outcome outcome = Run(sim, Options(image));
    EXPECT_EQ(outcome.status, 0) << outcome.err << outcome.out;
    EXPECT_TRUE(Verified(outcome)) << (outcome.boxes.empty() ? "" : SummaryJson(outcome.boxes[0]));
    EXPECT_EQ(outcome.out.rfind("[ Upgrade mode. ]\n", 0), 0u);
    // --log receives exactly the memo lines.
    EXPECT_EQ(ReadFile(dir.PathOf("memo.log")), outcome.out);
    EXPECT_NE(outcome.err.find("DownLoad 100%"), std::string::npos) << outcome.err;
  }
}

TEST_F(UpgradeCommandTest, CorruptedBlocksAreSentAgain) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.corrupt_blocks = {1, 3};
  Outcome outcome = Run(sim, Options(image));
  EXPECT_EQ(outcome.status, 0) << outcome.err << outcome.out;
  ASSERT_TRUE(Verified(outcome));
  EXPECT_EQ(outcome.boxes[0].retries, 2);
  EXPECT_NE(outcome.out.find(" Block Retry\n"), std::string::npos);
}

TEST_F(UpgradeCommandTest, RefusedBox) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.model = "QQ9";
  sim.ack_timeout_ms = 300;
  Outcome outcome = Run(sim, Options(image));
  EXPECT_EQ(outcome.status, 5);
  EXPECT_NE(outcome.out.find("Upgrade Fail\n"), std::string::npos);
}

TEST_F(UpgradeCommandTest, CheckOnlyNeverAnswersAck) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.ack_timeout_ms = 300;
  UpgradeOptions options = Options(image);
  options.check_only = true;
  Outcome accepted = Run(sim, options);
  EXPECT_EQ(accepted.status, 0) << accepted.err;
  EXPECT_NE(accepted.err.find("stbup: check-only: the image would be accepted by this box\n"),
            std::string::npos)
      << accepted.err;
  ASSERT_EQ(accepted.boxes.size(), 1u);
  EXPECT_EQ(accepted.boxes[0].blocks, 0);
  EXPECT_NE(accepted.boxes[0].verdict, "verified");

  sim.model = "QQ9";
  Outcome refused = Run(sim, options);
  EXPECT_EQ(refused.status, 5);
  EXPECT_NE(refused.err.find("stbup: check-only: the image would be refused by this box:\n"),
            std::string::npos)
      << refused.err;
}

TEST_F(UpgradeCommandTest, FlashChipNotPermittedWaitsForTheBoxUntilTheTimeout) {
  ImageSpec recipe;
  recipe.type_letter = '<';  // SS_LOADER
  std::string image = MakeImage(recipe);
  SimulatorOptions sim;
  sim.flash_record[5] = 0x11;
  sim.flash_record[6] = 0x11;
  sim.token_timeout_ms = 3000;
  UpgradeOptions options = Options(image);
  options.timeout_seconds = 1;
  Outcome outcome = Run(sim, options);
  EXPECT_EQ(outcome.status, 8);
  EXPECT_NE(outcome.out.find("target flash not permitted !!!\n"), std::string::npos);
  EXPECT_NE(outcome.err.find("stbup: no result within 1.0 s\n"), std::string::npos);
}

TEST_F(UpgradeCommandTest, BoxStartingItsOwnSoftwareMidDownload) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.silent_after = 2;
  std::string log = dir.PathOf("memo.log");
  Outcome outcome = Run(sim, Options(image), [&](PtyEndpoint& pty) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (ReadFile(log).find("Connect Success") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(300ms);
    std::string line = "NO_ACKNOWLEDGE with PC.\n";
    ASSERT_EQ(::write(pty.master(), line.data(), line.size()), static_cast<ssize_t>(line.size()));
  });
  EXPECT_EQ(outcome.status, 6) << outcome.err;
  EXPECT_NE(outcome.out.find(" Off !!! (\"Enter\" key to reconnect.)\n"), std::string::npos);
}

TEST_F(UpgradeCommandTest, HangUpEndsPromptlyWithoutSpinning) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.hangup_after = 2;
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  Outcome outcome = Run(sim, Options(image));
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(outcome.status, 7) << outcome.err;
  EXPECT_LT(outcome.seconds, 3.0);
  auto cpu = [](const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
  };
  EXPECT_LT(cpu(after) - cpu(before), 2.0);
  EXPECT_NE(outcome.err.find("has gone away"), std::string::npos) << outcome.err;
}

TEST_F(UpgradeCommandTest, BusyPortNamesTheHolder) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  Outcome outcome = Run(sim, Options(image), {});
  ASSERT_EQ(outcome.status, 0);

  PtyEndpoint pty;
  int holder = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  UpgradeOptions options = Options(image);
  options.port = pty.slave_path();
  options.out_is_terminal = false;
  options.err_is_terminal = false;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunUpgrade(options, out, err), 4);
  ::close(holder);
  EXPECT_NE(err.str().find("stbup: Serial Port Open Error\n"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("is in use by another program: "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos)
      << err.str();
  EXPECT_NE(out.str().find(pty.slave_path() + " Disconnected !\n"), std::string::npos);
}

TEST_F(UpgradeCommandTest, ImageNotAccepted) {
  std::string bad = dir.WriteFile("bad.bin", "ZUB2LL this is not ours");
  PtyEndpoint pty;
  UpgradeOptions options = Options(bad);
  options.port = pty.slave_path();
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunUpgrade(options, out, err), 3);
  EXPECT_NE(out.str().find("This File is not appropriate Image!\n"), std::string::npos);

  options.image = dir.PathOf("missing.bin");
  EXPECT_EQ(RunUpgrade(options, out, err), 3);
}

TEST_F(UpgradeCommandTest, TraceRecordsWhatWasShown) {
  std::string image = MakeImage({});
  UpgradeOptions options = Options(image);
  options.trace_file = dir.PathOf("trace.jsonl");
  Outcome outcome = Run({}, options);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  std::istringstream trace(ReadFile(options.trace_file));
  std::vector<std::string> lines;
  for (std::string line; std::getline(trace, line);) {
    auto body = line.find(',');
    ASSERT_EQ(line.rfind("{\"t\":", 0), 0u) << line;
    lines.push_back(line.substr(body + 1));
  }
  auto has = [&](const std::string& body) {
    return std::find(lines.begin(), lines.end(), body) != lines.end();
  };
  EXPECT_TRUE(has(R"("setup_enabled":true})"));
  EXPECT_TRUE(has(R"("memo":"[ Upgrade mode. ]"})"));
  EXPECT_TRUE(has(R"("timer1":100})"));
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& body) {
    return body.rfind(R"("port":"open","device":"/dev/pts/)", 0) == 0;
  }));
  EXPECT_TRUE(has(R"("logo":"Simple and Speedy","fg":"#FFFFFF","bg":"#808080"})"));
  EXPECT_TRUE(has(R"("pb1":100})"));
  EXPECT_TRUE(has(R"("setup_enabled":false})"));
  EXPECT_TRUE(has(R"("memo":"Connect Success"})"));
  EXPECT_TRUE(has(R"("timer1":0})"));
}

TEST_F(UpgradeCommandTest, RepeatOverThreeBoxes) {
  std::string image = MakeImage({});
  SimulatorOptions sim;
  sim.repeat = 3;
  sim.restart_gap_ms = 100;
  UpgradeOptions options = Options(image);
  options.repeat = true;
  options.timeout_seconds = 30;
  Outcome outcome = Run(sim, options);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  ASSERT_EQ(outcome.boxes.size(), 3u);
  for (const auto& box : outcome.boxes) EXPECT_EQ(box.verdict, "verified");
  for (int n = 1; n <= 3; ++n) {
    EXPECT_NE(outcome.err.find("stbup: box " + std::to_string(n) + ": upgraded in "),
              std::string::npos)
        << outcome.err;
  }
  EXPECT_NE(outcome.err.find("stbup: 3 boxes, 3 upgraded, 0 not\n"), std::string::npos)
      << outcome.err;
}

}  // namespace
}  // namespace stbup
