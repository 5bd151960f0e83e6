// Every path an operator gives on the command line is taken relative to the
// folder stbup was started in, whatever folder the image is in: the tool
// never changes its current directory, so nothing lands beside the image and
// a relative port is the one meant.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "image/image_reader.h"
#include "records/records.h"
#include "seams/exit_status.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/reliability/child_process.h"
#include "tests/reliability/upgrade_harness.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the tool in folder with args; its exit status, -1 when it could not run.
int RunIn(const fs::path& folder, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A simulated box on a pty of its own, played until it is done.
class Box {
 public:
  explicit Box(const std::string& image) {
    SimulatorOptions options;
    options.image = ReadImageInfo(image);
    options.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M: a small image is meant for it
    options.flash_record[6] = 0x81;
    box_ = std::make_unique<BoxSimulator>(options);
    played_ = std::async(std::launch::async, [this] {
      return box_->Run(pty_.master(),
                       LineHooks{[this] { pty_.ReleaseSlave(); }, [this] { pty_.CloseMaster(); }});
    });
  }
  ~Box() {
    box_->Stop();
    if (played_.valid()) played_.wait();
  }
  // The box's end of the line as a path relative to folder.
  std::string PathFrom(const fs::path& folder) const {
    return fs::relative(pty_.slave_path(), folder).string();
  }
  std::string Verdict() {
    const auto summaries = played_.get();
    return summaries.empty() ? "none" : summaries[0].verdict;
  }

 private:
  PtyEndpoint pty_;
  std::unique_ptr<BoxSimulator> box_;
  std::future<std::vector<SimulationSummary>> played_;
};

class RelativePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(images_);
    fs::create_directories(start_);
    image_ = testing::WriteSmallImage(dir_, 3 * 1024 - 100, "images/box.bin");
  }
  // What the tool left in the image's folder besides the image.
  std::vector<std::string> BesideTheImage() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(images_)) {
      if (entry.path().filename() != "box.bin") names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  fs::path images_ = fs::path(dir_.PathOf("images"));
  fs::path start_ = fs::path(dir_.PathOf("start"));
  std::string image_;
};

TEST_F(RelativePathsTest, UpgradeServesAndWritesWhereTheOperatorMeant) {
  Box box(image_);
  const int status =
      RunIn(start_, {testing::StbupBinary(), "upgrade", "../images/box.bin", "--port",
                     box.PathFrom(start_), "--records", "records.sqlite3", "--log", "run.log",
                     "--trace", "run.jsonl", "--quiet", "--timeout", "60"});
  EXPECT_EQ(status, kExitOk);
  EXPECT_EQ(box.Verdict(), "verified");
  EXPECT_NE(ReadFile(start_ / "run.log").find("[ Upgrade mode. ]"), std::string::npos);
  EXPECT_NE(ReadFile(start_ / "run.jsonl").find("\"memo\""), std::string::npos);
  const auto records = ReadRecords((start_ / "records.sqlite3").string(), {});
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].verdict, Verdict::kUpgraded);
  EXPECT_EQ(BesideTheImage(), std::vector<std::string>{});
}

TEST_F(RelativePathsTest, StationServesAndWritesWhereTheOperatorMeant) {
  Box box(image_);
  const std::string port = box.PathFrom(start_);
  const int status =
      RunIn(start_, {testing::StbupBinary(), "station", "../images/box.bin", "--port", port,
                     "--boxes", "1", "--records", "records.sqlite3", "--log-dir", "logs",
                     "--trace-dir", "traces", "--timeout", "60"});
  EXPECT_EQ(status, kExitOk);
  EXPECT_EQ(box.Verdict(), "verified");
  const auto records = ReadRecords((start_ / "records.sqlite3").string(), {});
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].verdict, Verdict::kUpgraded);
  EXPECT_EQ(records[0].port, port);
  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(start_ / "logs")) {
    logs.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(ReadFile(start_ / "logs" / logs[0]).find("[ Upgrade mode. ]"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(start_ / "traces"), fs::directory_iterator()), 1);
  EXPECT_EQ(BesideTheImage(), std::vector<std::string>{});
}

}  // namespace
}  // namespace stbup
