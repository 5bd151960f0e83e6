// The settings file is read only when a COMn name needs it, only when it is a
// small regular INI file, and a file that cannot serve is reported; the port
// messages say what is true of the device named.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>
#include <string>

#include "cli/ini_ports.h"
#include "cli/upgrade_command.h"
#include "image/image_writer.h"
#include "serial/port_diagnosis.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

std::string Image(const TempDir& dir, const std::string& name = "box.bin") {
  ImageSpec recipe;
  recipe.type_letter = 'D';
  recipe.model_name = "ABC";
  recipe.start_block = 16;
  const std::string path = dir.PathOf(name);
  WriteImageFile(path, recipe, std::vector<std::uint8_t>(2048, 0x11));
  return path;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// The upgrade in a thread of its own, so a start-up that hangs fails the test
// instead of hanging it.
Outcome Upgrade(UpgradeOptions options, std::chrono::seconds limit = 10s) {
  options.out_is_terminal = false;
  options.err_is_terminal = false;
  options.timeout_seconds = 0.3;
  auto run = std::async(std::launch::async, [options] {
    std::ostringstream out;
    std::ostringstream err;
    Outcome result;
    result.status = RunUpgrade(options, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  });
  if (run.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "the upgrade did not end";
    std::abort();  // a hung start-up cannot be joined
  }
  return run.get();
}

TEST(SettingsFileTest, UnusableFilesAreReportedWhenACOMnNameNeedsThem) {
  TempDir dir;
  const std::string big = dir.WriteFile(
      "big.ini", "[Ports]\nCOM1=/dev/null\n" + std::string(2 * 1024 * 1024, ';') + "\n");
  const std::string binary = dir.WriteFile("binary.ini", std::string("[Ports]\nCOM1=\0x\n", 17));
  const std::string garbage = dir.WriteFile("garbage.ini", "[Ports]\nCOM1 /dev/ttyUSB0\n");
  const std::string fifo = dir.PathOf("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  struct Case {
    std::string path;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"/dev/zero", "not a regular file"},
      {fifo, "not a regular file"},
      {dir.path(), "not a regular file"},
      {big, "larger than 1024 KiB"},
      {binary, "not an INI file (binary data)"},
      {garbage, "line 2 is neither [group] nor key=value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      ReadPortMap(c.path);
      ADD_FAILURE() << "no error";
    } catch (const SettingsFileError& error) {
      EXPECT_EQ(std::string(error.what()), "settings file " + c.path + ": " + c.why);
    }
    UpgradeOptions options;
    options.image = Image(dir);
    options.port = "COM3";
    options.settings_file = c.path;
    const Outcome run = Upgrade(options);
    EXPECT_EQ(run.status, kExitPortNotOpened);
    EXPECT_EQ(run.err, "stbup: settings file " + c.path + ": " + c.why + "\n");
  }
  // A missing file is no error: nothing has been configured yet.
  EXPECT_TRUE(ReadPortMap(dir.PathOf("missing.ini")).empty());
  const std::string good =
      dir.WriteFile("good.ini", "[General]\nx=1\n\n; note\n[Ports]\nCOM3=\"/dev/ttyUSB9\"\n");
  EXPECT_EQ(ReadPortMap(good).at("COM3"), "/dev/ttyUSB9");
}

TEST(SettingsFileTest, APortPathNeverReadsTheSettingsFile) {
  TempDir dir;
  testing::PtyPair pty;
  for (const std::string& settings : {std::string("/dev/zero"), dir.PathOf("fifo.ini")}) {
    SCOPED_TRACE(settings);
    ::mkfifo(dir.PathOf("fifo.ini").c_str(), 0644);
    UpgradeOptions options;
    options.image = Image(dir);
    options.port = pty.slave_path();
    options.settings_file = settings;
    const Outcome run = Upgrade(options);
    EXPECT_EQ(run.status, kExitTimeout) << run.err;  // opened the port and waited for a box
    EXPECT_EQ(run.err.find("settings file"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(PortNameNeedsMap("/dev/ttyUSB0"));
  EXPECT_TRUE(PortNameNeedsMap("COM1"));
}

TEST(PortMessagesTest, SayWhatIsTrueOfTheDevice) {
  TempDir dir;
  const std::string file = dir.WriteFile("notaport", "plain text");
  struct Case {
    std::string path;
    std::string message;
  };
  std::vector<Case> cases = {
      {file, file + " is not a serial device (a regular file): give the serial device's path "
                    "(stbup ports lists the serial devices found)"},
      {dir.path(), dir.path() + ": Is a directory"},
      {dir.PathOf("missing"), dir.PathOf("missing") +
                                  " does not exist: check the cable or adapter and the name "
                                  "given to --port (stbup ports lists the serial devices found)"},
  };
  // Only without a controlling terminal does /dev/tty fail to open.
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY);
  if (tty < 0) {
    cases.push_back({"/dev/tty",
                     "/dev/tty stands for this process's controlling terminal, and it has none: "
                     "give the serial device's own path (stbup ports lists the serial devices "
                     "found)"});
  } else {
    ::close(tty);
  }
  for (const Case& c : cases) EXPECT_EQ(DiagnosePort(c.path), c.message);
}

TEST(PortMessagesTest, PermissionAdviceNeverNamesRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to hand a device to root";
  // A terminal device only root may open: run the diagnosis as nobody.
  testing::PtyPair pty;
  ASSERT_EQ(::chown(pty.slave_path().c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(pty.slave_path().c_str(), 0600), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string message = DiagnosePort(pty.slave_path());
    const bool root_advised = message.find("adduser $USER root") != std::string::npos;
    const bool honest = message.find("ask an administrator") != std::string::npos;
    ::_exit(!root_advised && honest ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PortMessagesTest, ARelativePortPathIsTakenWhereItWasGiven) {
  EXPECT_EQ(AnchorPortName("pty", "/home/op"), "/home/op/pty");
  EXPECT_EQ(AnchorPortName("dev/ttyUSB0", "/"), "/dev/ttyUSB0");
  EXPECT_EQ(AnchorPortName("/dev/ttyUSB0", "/home/op"), "/dev/ttyUSB0");
  EXPECT_EQ(AnchorPortName("COM3", "/home/op"), "COM3");

  // Given relative to where stbup started, the device is found although the
  // image's folder becomes the current directory.
  TempDir dir;
  testing::PtyPair pty;
  const std::string link = dir.PathOf("box-port");
  ASSERT_EQ(::symlink(pty.slave_path().c_str(), link.c_str()), 0);
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  ASSERT_EQ(::mkdir(dir.PathOf("images").c_str(), 0755), 0);
  UpgradeOptions options;
  options.image = Image(dir, "images/box.bin");
  options.port = "box-port";
  options.settings_file = dir.PathOf("none.ini");
  options.process_wide = true;  // the image's folder becomes the current directory
  const Outcome run = Upgrade(options);
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(run.status, kExitTimeout) << run.err;
}

}  // namespace
}  // namespace stbup
