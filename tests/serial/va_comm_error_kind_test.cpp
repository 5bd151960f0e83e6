#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "serial/port_diagnosis.h"
#include "tests/serial/comm_fixture.h"

namespace stbup::testing {
namespace {

// A failed open carries its kind and the system's code from where it
// happened, the message unchanged; the advice comes from them alone.
TEST_F(CommTest, AFailedOpenTellsItsKindCodeAndAdvice) {
  char plain_file[] = "/tmp/stbup-not-a-tty-XXXXXX";
  const int plain = ::mkstemp(plain_file);
  ASSERT_GE(plain, 0);
  ::close(plain);
  comm.Open();  // holds the pty: a second component finds it busy
  const struct {
    std::string device;
    CommErrorKind kind;
    int code;
    std::string message;
    std::string advice_starts;
  } cases[] = {
      {"/dev/no-such-stbup-port", CommErrorKind::kNotFound, ENOENT,
       "Specified device not found (/dev/no-such-stbup-port).",
       "/dev/no-such-stbup-port does not exist: "},
      {plain_file, CommErrorKind::kNotSerialDevice, ENOTTY,
       "Error writing dcb (25), Inappropriate ioctl for device",
       std::string(plain_file) + " is not a serial device (a regular file): "},
      // The message shows a busy port; the code is the lock's own.
      {pty.slave_path(), CommErrorKind::kBusy, EWOULDBLOCK,
       "Can't open specified device " + pty.slave_path() + " (Error 16, Device or resource busy)",
       pty.slave_path() + " is in use by another program: "},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.device);
    TVaComm port(loop);
    port.SetDeviceName(test.device);
    try {
      port.Open();
      ADD_FAILURE() << "opened";
    } catch (const EVaCommError& error) {
      EXPECT_EQ(error.what(), test.message);
      EXPECT_EQ(error.Kind(), test.kind);
      EXPECT_EQ(error.Code(), test.code);
      const std::string advice = AdviseOnOpenFailure(error.Kind(), error.Code(), test.device);
      EXPECT_TRUE(advice.starts_with(test.advice_starts)) << advice;
    }
  }
  ::unlink(plain_file);
}

TEST(CommErrorKindTest, EverySystemCodeHasItsKind) {
  const struct {
    int code;
    CommErrorKind kind;
  } cases[] = {
      {ENOENT, CommErrorKind::kNotFound},    {EBUSY, CommErrorKind::kBusy},
      {EWOULDBLOCK, CommErrorKind::kBusy},   {EACCES, CommErrorKind::kDenied},
      {EPERM, CommErrorKind::kDenied},       {ENXIO, CommErrorKind::kGone},
      {EIO, CommErrorKind::kGone},           {ENOTTY, CommErrorKind::kNotSerialDevice},
      {EINVAL, CommErrorKind::kUnsupported}, {ENOSPC, CommErrorKind::kOther},
  };
  for (const auto& test : cases) EXPECT_EQ(CommErrorKindOf(test.code), test.kind) << test.code;
  // An error raised without a code keeps its text and says nothing more.
  const EVaCommError plain("Output buffer is full. Please check comm status.");
  EXPECT_EQ(plain.Kind(), CommErrorKind::kOther);
  EXPECT_EQ(plain.Code(), 0);
  EXPECT_EQ(AdviseOnOpenFailure(plain.Kind(), plain.Code(), "/dev/ttyUSB0"), "");
}

}  // namespace
}  // namespace stbup::testing
