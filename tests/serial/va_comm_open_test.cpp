#include <dirent.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <thread>

#include "serial/posix/va_termbits.h"
#include "serial/va_comm_write_thread.h"
#include "tests/serial/comm_fixture.h"

namespace stbup::testing {
namespace {

termios SlaveSettings(const PtyPair& pty) {
  termios mode{};
  EXPECT_EQ(::tcgetattr(pty.slave(), &mode), 0);
  return mode;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

TEST_F(CommTest, OpenAppliesTheFormsLineSettingsAndCloseReleasesTheDevice) {
  int opened = 0, closed = 0;
  comm.OnOpen = [&](TVaComm& sender) {
    EXPECT_EQ(&sender, &comm);
    ++opened;
  };
  comm.OnClose = [&](TVaComm&) { ++closed; };
  comm.Open();
  ASSERT_TRUE(comm.Active());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(comm.EventMask(), EV_ERR | EV_RXCHAR);

  const termios mode = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&mode), B115200);
  EXPECT_EQ(mode.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(mode.c_cflag & (HUPCL | CRTSCTS | CSTOPB), 0u);
  EXPECT_EQ(mode.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(mode.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(mode.c_oflag & OPOST, 0u);
  EXPECT_EQ(mode.c_cc[VMIN], 1);
  EXPECT_EQ(mode.c_cc[VTIME], 0);

  comm.Close();
  comm.Close();  // the second does nothing and raises no event
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(closed, 1);

  // Released: another component can have it at once.
  TVaComm other(loop);
  other.SetDeviceName(pty.slave_path());
  EXPECT_NO_THROW(other.Open());
}

TEST_F(CommTest, SettersWhileOpenReachTheLineAtOnce) {
  comm.Open();
  comm.SetUserBaudrate(250000);  // not a standard rate
  EXPECT_EQ(comm.Baudrate(), TVaBaudrate::brUser);
  EXPECT_EQ(ReadBackBaudrate(pty.slave()), 250000);
  comm.SetBaudrate(TVaBaudrate::br14400);  // not standard here either
  EXPECT_EQ(ReadBackBaudrate(pty.slave()), 14400);
  comm.SetBaudrate(TVaBaudrate::br115200);
  EXPECT_EQ(comm.UserBaudrate(), 0);
  EXPECT_EQ(ReadBackBaudrate(pty.slave()), 115200);

  comm.SetStopbits(TVaStopbits::sb2);
  EXPECT_NE(SlaveSettings(pty).c_cflag & CSTOPB, 0u);
  comm.FlowControl().SetOutCtsFlow(true);
  EXPECT_NE(SlaveSettings(pty).c_cflag & CRTSCTS, 0u);
  comm.FlowControl().SetXonXoffOut(true);
  comm.FlowControl().SetXonXoffIn(true);
  comm.EventChars().SetXonChar(0x11);
  comm.EventChars().SetXoffChar(0x13);
  termios mode = SlaveSettings(pty);
  EXPECT_EQ(mode.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
  EXPECT_EQ(mode.c_cc[VSTART], 0x11);
  EXPECT_EQ(mode.c_cc[VSTOP], 0x13);

  TVaFlowControl none;
  comm.SetFlowControl(none);
  mode = SlaveSettings(pty);
  EXPECT_EQ(mode.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(mode.c_iflag & (IXON | IXOFF), 0u);

  // A rate no line can run at is refused, the new value stays stored.
  EXPECT_THROW(comm.SetUserBaudrate(-1), EVaCommError);
  EXPECT_EQ(comm.UserBaudrate(), -1);
  EXPECT_TRUE(comm.Active());
}

TEST_F(CommTest, UpdateDcbFalseLeavesTheDevicesOwnSettings) {
  termios mode = SlaveSettings(pty);
  cfsetspeed(&mode, B9600);
  mode.c_cflag |= HUPCL;
  ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &mode), 0);
  comm.SetUpdateDCB(false);
  comm.Open();
  comm.SetStopbits(TVaStopbits::sb2);
  const termios after = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&after), B9600);
  EXPECT_NE(after.c_cflag & HUPCL, 0u);
  EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
}

TEST_F(CommTest, SettingsThatNeedAClosedPortAreRefusedWhileOpen) {
  const std::pair<const char*, std::function<void()>> refused[] = {
      {"Open", [&] { comm.Open(); }},
      {"PortNum", [&] { comm.SetPortNum(2); }},
      {"DeviceName", [&] { comm.SetDeviceName("COM2"); }},
      {"MonitorEvents", [&] { comm.SetMonitorEvents({}); }},
      {"DirectWrite", [&] { comm.SetDirectWrite(true); }},
      {"UpdateDCB", [&] { comm.SetUpdateDCB(false); }},
      {"Buffers", [&] { comm.SetBuffers(TVaBuffers{}); }},
      {"ReadSize", [&] { comm.Buffers().SetReadSize(100); }},
      {"WriteSize", [&] { comm.Buffers().SetWriteSize(100); }},
      {"XonLimit", [&] { comm.Buffers().SetXonLimit(100); }},
      {"XoffLimit", [&] { comm.Buffers().SetXoffLimit(100); }},
  };
  comm.Open();
  for (const auto& [name, change] : refused) {
    SCOPED_TRACE(name);
    try {
      change();
      ADD_FAILURE() << "not refused";
    } catch (const EVaCommError& error) {
      EXPECT_STREQ(error.what(), "Can't perform this operation while port is open");
    }
  }
  EXPECT_EQ(comm.DeviceName(), pty.slave_path());
  EXPECT_EQ(comm.PortNum(), 0);
  EXPECT_FALSE(comm.DirectWrite());
  // Time-outs may change while open.
  EXPECT_NO_THROW(comm.Buffers().SetReadTimeout(5));
  EXPECT_NO_THROW(comm.Buffers().SetWriteTimeout(500));

  // Still open and working.
  ASSERT_TRUE(comm.Active());
  EXPECT_TRUE(comm.WriteText("ok"));
  EXPECT_EQ(Receive(2, 2s), "ok");

  // The sizes stored meanwhile are in force at the next opening.
  comm.Close();
  comm.Open();
  EXPECT_EQ(comm.Buffers().ReadSize(), 100);
  EXPECT_EQ(comm.Buffers().WriteSize(), 100);
  EXPECT_TRUE(comm.WriteText(std::string(100, 'a')));
  EXPECT_THROW(comm.WriteText(std::string(101, 'a')), EVaCommError);
}

TEST_F(CommTest, OpenFailuresNameTheDeviceAndLeaveThePortClosed) {
  struct Case {
    const char* name;
    std::optional<std::string> mapped;
    std::string message;
  };
  char plain_file[] = "/tmp/stbup-not-a-tty-XXXXXX";
  const int plain = ::mkstemp(plain_file);
  ASSERT_GE(plain, 0);
  ::close(plain);
  const Case cases[] = {
      {"/dev/no-such-stbup-port", std::nullopt,
       "Specified device not found (/dev/no-such-stbup-port)."},
      {"COM9", "/dev/no-such-stbup-port", "Specified device not found (COM9)."},
      {plain_file, std::nullopt, "Error writing dcb (25), Inappropriate ioctl for device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVaComm port(loop);
    port.SetDeviceName(c.name);
    port.SetPortResolver([&](std::string_view) { return c.mapped; });
    int opened = 0;
    port.OnOpen = [&](TVaComm&) { ++opened; };
    try {
      port.Open();
      ADD_FAILURE() << "opened";
    } catch (const EVaCommError& error) {
      EXPECT_EQ(error.what(), c.message);
    }
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(opened, 0);
  }
  ::unlink(plain_file);
}

TEST_F(CommTest, ABusyDeviceFailsLikeABusyPort) {
  comm.Open();
  TVaComm second(loop);
  second.SetDeviceName(pty.slave_path());
  try {
    second.Open();
    FAIL() << "second open succeeded";
  } catch (const EVaCommError& error) {
    EXPECT_EQ(error.what(), "Can't open specified device " + pty.slave_path() +
                                " (Error 16, Device or resource busy)");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_TRUE(comm.Active());
}

TEST_F(CommTest, OnOpenRaisingIsReportedAndThePortStaysOpen) {
  comm.OnOpen = [](TVaComm&) { throw EVaCommError("handler failed"); };
  comm.Open();
  EXPECT_TRUE(comm.Active());
  EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
}

// A port whose write thread cannot be created.
class NoWriteThreadComm : public TVaComm {
 public:
  using TVaComm::TVaComm;

 protected:
  std::shared_ptr<TVaCommWriteThread> CreateWriteThread() override {
    throw EVaCommError("no write thread");
  }
};

TEST_F(CommTest, AFailedStartStopsTheEventThreadAndClosesTheDevice) {
  NoWriteThreadComm port(loop);
  port.SetDeviceName(pty.slave_path());
  EXPECT_THROW(port.Open(), EVaCommError);
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(AllThreadsEnded());
  comm.Open();  // the device was released
  EXPECT_TRUE(comm.Active());
}

TEST_F(CommTest, RepeatedOpenAndCloseLeaveNothingBehind) {
  comm.Open();
  comm.Close();
  ASSERT_TRUE(AllThreadsEnded());
  const int descriptors = OpenDescriptors();
  for (int round = 0; round < 40; ++round) {
    comm.Open();
    ASSERT_TRUE(comm.WriteText("x"));
    comm.Close();
  }
  EXPECT_TRUE(AllThreadsEnded());
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(CommTest, DestroyingTheComponentWithABatchQueuedNeverRunsIt) {
  auto port = std::make_unique<TVaComm>(loop);
  port->SetDeviceName(pty.slave_path());
  int calls = 0;
  port->OnRxChar = [&](TVaComm&, int) { ++calls; };
  port->Open();
  pty.Write("abc");
  // Give the event thread time to queue its batch, but do not run the loop.
  std::this_thread::sleep_for(200ms);
  port.reset();
  RunFor(100ms);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(AllThreadsEnded());
}

}  // namespace
}  // namespace stbup::testing
