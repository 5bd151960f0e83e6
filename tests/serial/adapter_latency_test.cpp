// An adapter's hold on the box's replies: the driver's low-latency request at
// opening, an FTDI latency timer lowered for the session in a fake sysfs tree
// and put back at close, and the one warning where it stays high.
#include "serial/adapter_latency.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "serial/posix/low_latency.h"
#include "tests/serial/comm_fixture.h"

namespace stbup::testing {
namespace {

namespace fs = std::filesystem;

const std::string kAdvice =
    "install stbup's udev rule (/usr/lib/udev/rules.d/60-stbup-serial.rules, in the stbup "
    "package) and plug the adapter in again";

std::string FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST(AdapterLatencyWarning, SaysHowLongRepliesAreHeldAndWhatItCostsAtTheRate) {
  struct Case {
    int timer_ms;
    int baudrate;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {16, 115200,
       "/dev/ttyUSB0: the USB adapter holds each reply of the box up to 16 ms (its latency "
       "timer); at 115200 bit/s that makes each block up to 17 % slower. To lower it for good: " +
           kAdvice},
      {16, 921600,
       "/dev/ttyUSB0: the USB adapter holds each reply of the box up to 16 ms (its latency "
       "timer); at 921600 bit/s that makes each block up to 138 % slower. To lower it for good: " +
           kAdvice},
      {2, 115200,
       "/dev/ttyUSB0: the USB adapter holds each reply of the box up to 2 ms (its latency "
       "timer); at 115200 bit/s that makes each block up to 2 % slower. To lower it for good: " +
           kAdvice},
      {1, 115200, std::nullopt},
      {0, 115200, std::nullopt},
      {16, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.timer_ms) + " ms at " + std::to_string(c.baudrate));
    EXPECT_EQ(AdapterLatencyWarning("/dev/ttyUSB0", c.timer_ms, c.baudrate), c.text);
  }
}

// TIOCGSERIAL then TIOCSSERIAL with the flag added and all else as reported.
TEST(LowLatencyRequest, AddsTheFlagToWhatTheDriverReportedOrSaysWhyNot) {
  struct Case {
    std::string name;
    int flags;
    int get_error;
    int set_error;
    int result;
    bool set_called;
  };
  const Case cases[] = {
      {"taken", 0x1000, 0, 0, 0, true},
      {"already low", ASYNC_LOW_LATENCY | 0x40, 0, 0, 0, false},
      {"no serial info (a pty)", 0, ENOTTY, 0, ENOTTY, false},
      {"refused by the driver", 0, 0, EPERM, EPERM, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool set_called = false;
    serial_struct written{};
    SerialInfoCalls calls{[&](int fd, serial_struct& info) {
                            EXPECT_EQ(fd, 7);
                            info.flags = c.flags;
                            info.baud_base = 24000000;
                            info.custom_divisor = 208;
                            return c.get_error;
                          },
                          [&](int fd, const serial_struct& info) {
                            EXPECT_EQ(fd, 7);
                            set_called = true;
                            written = info;
                            return c.set_error;
                          }};
    EXPECT_EQ(AskLowLatency(7, calls), c.result);
    EXPECT_EQ(set_called, c.set_called);
    if (set_called) {
      EXPECT_EQ(written.flags, c.flags | ASYNC_LOW_LATENCY);
      EXPECT_EQ(written.baud_base, 24000000);
      EXPECT_EQ(written.custom_divisor, 208);
    }
  }
}

TEST(LowLatencyRequest, APseudoTerminalRefusesIt) {
  PtyPair pty;
  EXPECT_NE(RequestLowLatency(pty.slave()), 0);
}

TEST(LatencyTimer, ReadsOnlyAPlainNumberOfMilliseconds) {
  const fs::path root = fs::temp_directory_path() / ("stbup-latency-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path file = root / "class/tty/ttyUSB0/device/latency_timer";
  fs::create_directories(file.parent_path());
  const std::pair<std::string, std::optional<int>> cases[] = {
      {"16\n", 16},
      {"1\n", 1},
      {"0\n", 0},
      {"255", 255},
      {"256\n", std::nullopt},
      {"-1\n", std::nullopt},
      {"16ms\n", std::nullopt},
      {"\n", std::nullopt},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    std::ofstream(file, std::ios::trunc) << text;
    EXPECT_EQ(ReadLatencyTimer(root, "ttyUSB0"), value);
  }
  EXPECT_EQ(ReadLatencyTimer(root, "ttyUSB1"), std::nullopt);  // no such adapter
  EXPECT_EQ(ReadLatencyTimer(root, ""), std::nullopt);
  fs::remove_all(root);
}

// The pty stands in for an FTDI adapter: a fake sysfs tree links its device
// numbers to ttyUSB<n>, whose device has a latency_timer.
class AdapterOpenTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    root = fs::temp_directory_path() /
           ("stbup-sysfs-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    struct stat status {};
    ASSERT_EQ(::stat(pty.slave_path().c_str(), &status), 0);
    // A name of this test's own: the warning is said once per adapter and process.
    adapter = "ttyUSB" + std::to_string(minor(status.st_rdev)) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    timer = root / "class/tty" / adapter / "device/latency_timer";
    fs::create_directories(timer.parent_path());
    fs::create_directories(root / "dev/char");
    fs::create_symlink(
        "../../devices/usb1/1-1/1-1:1.0/" + adapter + "/tty/" + adapter,
        root / "dev/char" /
            (std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev))));
    comm.SetAdapterRoot(root);
    comm.SetAdapterNotice([this](const std::string& text) { notices.push_back(text); });
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path root, timer;
  std::string adapter;
  std::vector<std::string> notices;
};

TEST_F(AdapterOpenTest, ATimerAboveOneIsLoweredForTheSessionAndPutBackAtClose) {
  std::ofstream(timer) << "16\n";
  comm.Open();
  EXPECT_EQ(FirstLine(timer), "1");
  EXPECT_EQ(comm.Latency().adapter, adapter);
  EXPECT_EQ(comm.Latency().timer_ms, 1);
  EXPECT_EQ(comm.Latency().restore_ms, 16);
  EXPECT_TRUE(notices.empty());
  comm.Close();
  EXPECT_EQ(FirstLine(timer), "16");
  EXPECT_EQ(comm.Latency().timer_ms, std::nullopt);
}

TEST_F(AdapterOpenTest, ATimerOfOneIsLeftAsItIs) {
  std::ofstream(timer) << "1\n";
  comm.Open();
  EXPECT_EQ(comm.Latency().timer_ms, 1);
  EXPECT_EQ(comm.Latency().restore_ms, std::nullopt);
  comm.Close();
  EXPECT_EQ(FirstLine(timer), "1");
  EXPECT_TRUE(notices.empty());
}

// Changed by someone else during the session (the udev rule on a new plug-in,
// an operator): theirs to keep.
TEST_F(AdapterOpenTest, ATimerChangedDuringTheSessionIsNotOverwritten) {
  std::ofstream(timer) << "16\n";
  comm.Open();
  std::ofstream(timer, std::ios::trunc) << "4\n";
  comm.Close();
  EXPECT_EQ(FirstLine(timer), "4");
}

// A timer the tool may not write stays as it is, and the operator hears once
// per adapter what it costs, on the notice and not the memo.
TEST_F(AdapterOpenTest, ATimerThatCannotBeWrittenIsSaidOnce) {
  if (::geteuid() == 0) {
    // Root writes any file of its own; a read-only sysfs attribute refuses it.
    const fs::path refusing = "/sys/class/net/lo/addr_len";
    if (!fs::exists(refusing)) GTEST_SKIP() << "no read-only attribute to stand in";
    fs::create_symlink(refusing, timer);
  } else {
    std::ofstream(timer) << "16\n";
    fs::permissions(timer, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  const std::optional<int> held = ReadLatencyTimer(root, adapter);
  ASSERT_TRUE(held && *held > 1);
  comm.Open();
  EXPECT_EQ(comm.Latency().timer_ms, held);
  EXPECT_EQ(comm.Latency().restore_ms, std::nullopt);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], *AdapterLatencyWarning(pty.slave_path(), *held, 115200));
  comm.Close();
  comm.Open();
  comm.Close();
  EXPECT_EQ(notices.size(), 1u);
  EXPECT_EQ(ReadLatencyTimer(root, adapter), held);
}

// The request goes through the device seam with the open device; a driver
// that refuses it does not keep the port from opening.
TEST_F(CommTest, OpeningAsksTheDriverForLowLatencyAndARefusalIsNoFault) {
  for (const int answer : {0, ENOTTY, EINVAL, EPERM}) {
    SCOPED_TRACE(answer);
    std::vector<TVaDeviceHandle> asked;
    TVaDeviceQueries queries;
    queries.LowLatency = [&](TVaDeviceHandle device) {
      asked.push_back(device);
      return answer;
    };
    comm.SetDeviceQueries(queries);
    comm.Open();
    EXPECT_TRUE(comm.Active());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_GE(asked[0], 0);
    comm.Close();
  }
  EXPECT_TRUE(reported.empty());
}

}  // namespace
}  // namespace stbup::testing
