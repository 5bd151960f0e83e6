// The real binary with a simulated box mid-download: a reader of its output
// that goes away (a pipe into head) never ends the run, and SIGHUP or
// SIGTERM end it as interrupted, recorded.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "records/records.h"
#include "seams/exit_status.h"
#include "tests/reliability/child_process.h"
#include "tests/reliability/upgrade_harness.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

// A child whose stdout the test reads through a pipe (and may close), its
// stderr kept in a file.
class Piped {
 public:
  Piped(const std::vector<std::string>& args, const std::string& err_file) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    out_ = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
  }
  ~Piped() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    CloseOutput();
  }
  pid_t pid() const { return pid_; }

  std::optional<std::string> Line(std::chrono::milliseconds timeout) {
    return testing::ReadLine(out_, pending_, timeout);
  }
  // As head does after its lines: the reader goes away.
  void CloseOutput() {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      } else {
        std::this_thread::sleep_for(10ms);
      }
    }
    return *status_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The box: `stbup simulate` paced so that a download takes a few seconds.
struct Box {
  Box(const std::string& image, const std::string& err_file)
      : process({testing::StbupBinary(), "simulate", "--image", image, "--baud", "57600"},
                err_file) {
    path = process.Line(10s).value_or("");
  }
  Piped process;
  std::string path;
};

constexpr std::size_t kPayload = 24 * 1024;  // about 4 s at 57600 bit/s

struct Command {
  const char* name;
  std::vector<std::string> (*args)(const std::string& image, const std::string& port,
                                   const std::string& records);
};

std::vector<std::string> Upgrade(const std::string& image, const std::string& port,
                                 const std::string& records) {
  return {testing::StbupBinary(), "upgrade", image, "--port", port, "--records", records};
}

std::vector<std::string> Station(const std::string& image, const std::string& port,
                                 const std::string& records) {
  return {testing::StbupBinary(),
          "station",
          image,
          "--port",
          port,
          "--boxes",
          "1",
          "--records",
          records};
}

const Command kCommands[] = {{"upgrade", Upgrade}, {"station", Station}};

TEST(ClosedOutputTest, AReaderGoingAwayMidDownloadNeitherEndsNorLosesTheBox) {
  for (const Command& command : kCommands) {
    SCOPED_TRACE(command.name);
    TempDir dir;
    const std::string image = testing::WriteSmallImage(dir, kPayload);
    Box box(image, dir.PathOf("box.err"));
    ASSERT_FALSE(box.path.empty());
    const std::string records = dir.PathOf("records.sqlite3");
    Piped tool(command.args(image, box.path, records), dir.PathOf("tool.err"));
    // Like "| head -2": two lines, then the reader is gone mid-download.
    ASSERT_TRUE(tool.Line(10s).has_value());
    ASSERT_TRUE(tool.Line(10s).has_value());
    tool.CloseOutput();
    EXPECT_EQ(tool.Wait(60s), kExitOk);
    const std::string err = ReadFile(dir.PathOf("tool.err"));
    const std::string said =
        "stbup: standard output closed (Broken pipe): nothing more is written there; the run "
        "goes on\n";
    const auto first = err.find(said);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(said, first + 1), std::string::npos) << err;
    EXPECT_EQ(box.process.Wait(20s), 0);
    const auto kept = ReadRecords(records, {});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].verdict, Verdict::kUpgraded);
    EXPECT_EQ(kept[0].exit_status, 0);
  }
}

TEST(ClosedOutputTest, HangUpAndTerminationEndARunAsInterruptedAndRecordIt) {
  const struct {
    int signal;
    const Command& command;
  } cases[] = {{SIGHUP, kCommands[0]},
               {SIGTERM, kCommands[0]},
               {SIGHUP, kCommands[1]},
               {SIGTERM, kCommands[1]}};
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.command.name) + " " + strsignal(test.signal));
    TempDir dir;
    const std::string image = testing::WriteSmallImage(dir, kPayload);
    Box box(image, dir.PathOf("box.err"));
    ASSERT_FALSE(box.path.empty());
    const std::string records = dir.PathOf("records.sqlite3");
    Piped tool(test.command.args(image, box.path, records), dir.PathOf("tool.err"));
    // Mid-download: the box has been identified and blocks are moving.
    for (int k = 0; k < 2; ++k) ASSERT_TRUE(tool.Line(10s).has_value());
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(::kill(tool.pid(), test.signal), 0);
    // At once, not after the box: a station does not wait for it.
    EXPECT_EQ(tool.Wait(3s), kExitInterrupted) << ReadFile(dir.PathOf("tool.err"));
    const auto kept = ReadRecords(records, {});
    ASSERT_EQ(kept.size(), 1u) << ReadFile(dir.PathOf("tool.err"));
    EXPECT_EQ(kept[0].verdict, Verdict::kInterrupted);
    EXPECT_EQ(kept[0].exit_status, kExitInterrupted);
  }
}

}  // namespace
}  // namespace stbup
