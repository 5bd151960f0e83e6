// The serial component on Win32, where no line is needed: names, the missing
// port, the system's texts in the messages.
#include <gtest/gtest.h>

#include "loop/event_loop.h"
#include "serial/va_comm.h"
#include "serial/va_device.h"

#include <windows.h>

namespace stbup {
namespace {

TEST(VaCommWin32Test, PortNamesOpenInTheDeviceSpace) {
  EventLoop loop;
  TVaComm comm(loop);
  struct Case {
    const char* pattern;
    int number;
    const char* path;
  } cases[] = {{"COM%d", 3, "\\\\.\\COM3"},
               {"COM10", 0, "\\\\.\\COM10"},
               {"\\\\.\\COM%d", 2, "\\\\.\\COM2"},
               {"CNCA0", 0, "\\\\.\\CNCA0"}};
  for (const auto& c : cases) {
    comm.SetDeviceName(c.pattern);
    comm.SetPortNum(c.number);
    EXPECT_EQ(comm.DevicePath(), c.path) << c.pattern;
  }
}

TEST(VaCommWin32Test, AMissingPortIsNotFoundByItsName) {
  EventLoop loop;
  TVaComm comm(loop);
  comm.SetDeviceName("COM%d");
  comm.SetPortNum(97);
  try {
    comm.Open();
    FAIL() << "opened";
  } catch (const EVaCommError& error) {
    EXPECT_STREQ(error.what(), "Specified device not found (COM97).");
  }
  EXPECT_FALSE(comm.Active());
}

TEST(VaCommWin32Test, MessagesCarryTheCodeAndTheSystemsTextTrimmed) {
  const std::string text = DeviceErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(FormatCommError("Error writing dcb (%d), %s", ERROR_ACCESS_DENIED),
            "Error writing dcb (5), " + text);
  EXPECT_TRUE(IsDeviceGone(ERROR_NOT_READY));
  EXPECT_TRUE(IsDeviceGone(ERROR_BROKEN_PIPE));
  EXPECT_FALSE(IsDeviceGone(ERROR_OPERATION_ABORTED));  // Wine's abandoned wait: wait again
}

}  // namespace
}  // namespace stbup
