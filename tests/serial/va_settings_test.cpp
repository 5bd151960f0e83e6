#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>

#include "loop/event_loop.h"
#include "serial/va_comm.h"
#include "serial/va_prst.h"

namespace stbup {
namespace {

TEST(VaPersistentTest, UpdatesReachTheOwnerOnceAndOnlyWhenSomethingChanged) {
  TVaFlowControl flow;
  int changes = 0;
  flow.OnChange = [&](TVaPersistent& sender) {
    EXPECT_EQ(&sender, &flow);
    ++changes;
  };
  flow.SetOutCtsFlow(false);  // unchanged value
  EXPECT_EQ(changes, 0);
  flow.SetOutCtsFlow(true);
  EXPECT_EQ(changes, 1);

  flow.BeginUpdate();
  flow.BeginUpdate();
  flow.SetXonXoffIn(true);
  flow.SetControlDtr(TVaControlDtr::dtrEnabled);
  flow.EndUpdate();
  EXPECT_EQ(changes, 1);  // still inside the outer update
  flow.EndUpdate();
  EXPECT_EQ(changes, 2);
  flow.EndUpdate();  // an unmatched EndUpdate stays at depth 0 and notifies
  EXPECT_EQ(flow.UpdateDepth, 0);
  EXPECT_EQ(changes, 3);
}

TEST(VaPersistentTest, AssignCopiesEverySettingAsOneChange) {
  TVaFlowControl source_flow;
  source_flow.SetOutDsrFlow(true);
  source_flow.SetControlRts(TVaControlRts::rtsToggle);
  source_flow.SetTxContinueOnXoff(true);
  TVaFlowControl flow;
  int changes = 0;
  flow.OnChange = [&](TVaPersistent&) { ++changes; };
  flow.Assign(source_flow);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(flow.OutDsrFlow());
  EXPECT_EQ(flow.ControlRts(), TVaControlRts::rtsToggle);
  EXPECT_TRUE(flow.TxContinueOnXoff());
  EXPECT_FALSE(flow.XonXoffOut());

  TVaBuffers source_buffers;
  source_buffers.SetReadSize(100);
  source_buffers.SetWriteSize(200);
  source_buffers.SetReadTimeout(5);
  source_buffers.SetWriteTimeout(6);
  source_buffers.SetXonLimit(7);
  source_buffers.SetXoffLimit(8);
  TVaBuffers buffers;
  changes = 0;
  buffers.OnChange = [&](TVaPersistent&) { ++changes; };
  buffers.Assign(source_buffers);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(buffers.ReadSize(), 100);
  EXPECT_EQ(buffers.WriteSize(), 200);
  EXPECT_EQ(buffers.ReadTimeout(), 5);
  EXPECT_EQ(buffers.WriteTimeout(), 6);
  EXPECT_EQ(buffers.XonLimit(), 7);
  EXPECT_EQ(buffers.XoffLimit(), 8);

  EXPECT_THROW(buffers.Assign(source_flow), EVaCommError);
}

TEST(VaPersistentTest, EventCharsAndBuffersFollowTheirOwnRules) {
  TVaEventChars chars;
  EXPECT_EQ(chars.XonChar(), 17);
  EXPECT_EQ(chars.XoffChar(), 19);
  int changes = 0;
  chars.OnChange = [&](TVaPersistent&) { ++changes; };
  chars.SetXonChar(17);  // stored and told without comparing
  chars.SetEofChar(26);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(chars.EofChar(), 26);
  EXPECT_EQ(chars.EventChar(), 0);

  TVaBuffers buffers;
  EXPECT_EQ(buffers.ReadSize(), 4096);
  EXPECT_EQ(buffers.WriteSize(), 2048);
  EXPECT_EQ(buffers.ReadTimeout(), 1000);
  EXPECT_EQ(buffers.WriteTimeout(), 1000);
  EXPECT_EQ(buffers.XonLimit(), 1024);
  EXPECT_EQ(buffers.XoffLimit(), 1024);
  changes = 0;
  buffers.OnChange = [&](TVaPersistent&) { ++changes; };
  buffers.SetReadTimeout(10);  // time-outs tell nobody
  buffers.SetWriteSize(2048);  // unchanged
  EXPECT_EQ(changes, 0);
  buffers.SetWriteSize(-5);  // the range starts at 0
  EXPECT_EQ(buffers.WriteSize(), 0);
  EXPECT_EQ(changes, 1);
}

TEST(CommErrorTest, PatternsTakeTheCodeAndTheSystemText) {
  EXPECT_EQ(FormatCommError("Error writing dcb (%d), %s", EINVAL),
            "Error writing dcb (22), Invalid argument");
  EXPECT_EQ(FormatCommError(" Error setting EventMask (%d), %s", EIO),
            " Error setting EventMask (5), Input/output error");
  EXPECT_EQ(FormatCommError("Output buffer is full. Please check comm status.", EIO),
            "Output buffer is full. Please check comm status.");
  EXPECT_EQ(
      FormatCommError(
          "Can't open specified device " + EscapePattern("/dev/odd%d") + " (Error %d, %s)", EBUSY),
      "Can't open specified device /dev/odd%d (Error 16, Device or resource busy)");
}

struct PathCase {
  const char* name;
  int port_num;
  std::optional<std::string> mapped;
  const char* text;
  const char* path;
};

TEST(CommNamingTest, DeviceTextAndPath) {
  const PathCase cases[] = {
      {"COM%d", 3, std::nullopt, "COM3", "/dev/ttyS2"},
      {"COM10", 0, std::nullopt, "COM10", "/dev/ttyS9"},
      {"COM1", 0, "/dev/ttyUSB0", "COM1", "/dev/ttyUSB0"},
      {"COM%d", 4, "/dev/ttyACM1", "COM4", "/dev/ttyACM1"},
      {"\\\\.\\COM%d", 2, std::nullopt, "\\\\.\\COM2", "/dev/ttyS1"},
      {"/dev/pts/3", 7, "/never/used", "/dev/pts/3", "/dev/pts/3"},
      {"COMx", 0, std::nullopt, "COMx", "COMx"},
  };
  EventLoop loop;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVaComm comm(loop);
    comm.SetDeviceName(c.name);
    comm.SetPortNum(c.port_num);
    std::string asked;
    comm.SetPortResolver([&](std::string_view name) {
      asked = name;
      return c.mapped;
    });
    EXPECT_EQ(comm.DeviceText(), c.text);
    EXPECT_EQ(comm.DevicePath(), c.path);
    EXPECT_EQ(comm.DeviceName(), c.name);
  }
}

TEST(CommDefaultsTest, ConstructorValuesAndBaudrateRules) {
  EventLoop loop;
  TVaComm comm(loop);
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(comm.Baudrate(), TVaBaudrate::br1200);
  EXPECT_EQ(comm.Parity(), TVaParity::paNone);
  EXPECT_EQ(comm.Databits(), TVaDatabits::db8);
  EXPECT_EQ(comm.Stopbits(), TVaStopbits::sb1);
  EXPECT_EQ(comm.DeviceName(), "\\\\.\\COM%d");
  EXPECT_EQ(comm.MonitorEvents(), (TVaCommEvents{TVaCommEvent::ceError, TVaCommEvent::ceRxChar,
                                                 TVaCommEvent::ceTxEmpty}));
  EXPECT_EQ(comm.EventPriority(), TThreadPriority::tpNormal);
  EXPECT_EQ(comm.WritePriority(), TThreadPriority::tpHighest);
  EXPECT_FALSE(comm.DirectWrite());
  EXPECT_TRUE(comm.UpdateDCB());

  comm.SetUserBaudrate(250000);
  EXPECT_EQ(comm.Baudrate(), TVaBaudrate::brUser);
  comm.SetBaudrate(TVaBaudrate::br115200);
  EXPECT_EQ(comm.UserBaudrate(), 0);
  comm.SetBaudrate(TVaBaudrate::brUser);  // keeps what UserBaudrate holds
  EXPECT_EQ(comm.UserBaudrate(), 0);

  // On a closed port nothing is read or written, and nothing is raised.
  EXPECT_EQ(comm.ReadText(), "");
  char byte;
  EXPECT_EQ(comm.ReadBuf(&byte, 1), 0);
  EXPECT_EQ(comm.ReadBufUsed(), 0);
  EXPECT_EQ(comm.WriteBuf("x", 1), 0);
  EXPECT_FALSE(comm.WriteChar('x'));
  EXPECT_FALSE(comm.WriteText("x"));
  EXPECT_TRUE(comm.WriteText(""));
  comm.Close();
}

}  // namespace
}  // namespace stbup
