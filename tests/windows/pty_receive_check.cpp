// The receive path of a port under Wine, where the line-event wait only polls
// and a pending read stands in for it. Each case opens COM1 and needs a far
// end on the Linux pty behind it: tests/windows/wine_receive_test.py is that
// far end and runs the cases one by one. The far end starts once the port
// writes 'R' (its read is pending); bytes it sends follow bytes_of.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "serial/va_device.h"
#include "serial/va_handle_object.h"
#include "serial/win32/win32_port.h"

namespace stbup {
namespace {

// The far end's bytes: the first 256 of them take every value once.
std::uint8_t ByteOf(std::size_t index) {
  return static_cast<std::uint8_t>((index * 167 + 13) & 0xFF);
}

class PtyReceiveCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    int error = 0;
    device = OpenDeviceExclusive(PlatformDevicePath("COM1", 1, std::nullopt), error);
    ASSERT_NE(device, kNoDevice) << "COM1: " << error;
    TVaLineSettings settings;
    settings.baudrate = 115200;
    ASSERT_EQ(ApplyLineSettings(device, settings), 0);
    ASSERT_EQ(ApplyNoWaitTimeouts(device), 0);
    ASSERT_EQ(ApplyDeviceEventMask(device, EV_RXCHAR), 0);
  }
  void TearDown() override {
    if (device != kNoDevice) CloseDevice(device);
  }

  // Waits until the line-event wait has been seen to give up and a read is
  // pending instead, then tells the far end to start.
  void StartFarEnd(char signal = 'R') {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(PortOf(device)->driver_polls && PortOf(device)->read_pending) &&
           std::chrono::steady_clock::now() < until) {
      ASSERT_EQ(WaitDevice(device, &stop, nullptr, kWaitReadable, 20), TVaDeviceWait::TimedOut);
    }
    ASSERT_TRUE(PortOf(device)->driver_polls) << "the line-event wait never gave up";
    ASSERT_TRUE(PortOf(device)->read_pending);
    ASSERT_EQ(WriteDevice(device, &signal, 1), 1);
  }

  // What the port hands out until count bytes came, each wait at most
  // wait_ms; the answers of the waits are kept.
  std::vector<std::uint8_t> Receive(std::size_t count, int wait_ms = 3000) {
    std::vector<std::uint8_t> got;
    while (got.size() < count) {
      const TVaDeviceWait answer = WaitDevice(device, &stop, nullptr, kWaitReadable, wait_ms);
      answers.push_back(answer);
      if (answer != TVaDeviceWait::Readable) break;
      const int waiting = BytesWaiting(device);
      if (waiting <= 0) continue;
      std::vector<std::uint8_t> part(static_cast<std::size_t>(waiting));
      const long read = ReadDevice(device, part.data(), waiting);
      if (read < 0) break;
      got.insert(got.end(), part.begin(), part.begin() + read);
    }
    return got;
  }

  static std::vector<std::uint8_t> Expected(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = ByteOf(i);
    return bytes;
  }

  TVaDeviceHandle device = kNoDevice;
  TVaWaitEvent stop;
  std::vector<TVaDeviceWait> answers;
};

// The far end sends 1025 bytes in one write.
TEST_F(PtyReceiveCheck, ABlockOfEveryValueArrivesIntact) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  EXPECT_EQ(Receive(1025), Expected(1025));
}

// The far end sends 600 bytes in pieces of 1 to 37 bytes, with gaps of up to
// 15 ms: the port waits (and its read stays pending) between them.
TEST_F(PtyReceiveCheck, PiecesWithGapsArriveInOrder) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  EXPECT_EQ(Receive(600), Expected(600));
  for (const TVaDeviceWait answer : answers) EXPECT_EQ(answer, TVaDeviceWait::Readable);
  // Idle again: the wait blocks on a pending read, and ends by its time-out.
  EXPECT_EQ(WaitDevice(device, &stop, nullptr, kWaitReadable, 50), TVaDeviceWait::TimedOut);
  EXPECT_TRUE(PortOf(device)->read_pending);
}

// The far end sends 5 bytes and, 200 ms later, hangs up while the port's
// read is pending: the wait answers Gone at once and again later, never
// Readable, and a read reports the loss.
TEST_F(PtyReceiveCheck, AHangUpWhileTheReadIsPendingIsGone) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  EXPECT_EQ(Receive(5), Expected(5));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitDevice(device, &stop, nullptr, kWaitReadable, 3000), TVaDeviceWait::Gone);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(WaitDevice(device, &stop, nullptr, kWaitReadable, 500), TVaDeviceWait::Gone);
  }
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadDevice(device, &byte, 1), kDeviceGone);
}

// Stopped while its read is pending, the port keeps the read: the bytes the
// far end sends after 'S' are handed out whole and in order by reads alone,
// with no wait to end the read.
TEST_F(PtyReceiveCheck, BytesAfterAStopArriveWithoutAWait) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.SetSignal();
  });
  const TVaDeviceWait answer = WaitDevice(device, &stop, nullptr, kWaitReadable, 3000);
  stopper.join();
  EXPECT_EQ(answer, TVaDeviceWait::Stopped);
  EXPECT_TRUE(PortOf(device)->read_pending);
  const char signal = 'S';
  ASSERT_EQ(WriteDevice(device, &signal, 1), 1);
  std::vector<std::uint8_t> got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.size() < 300 && std::chrono::steady_clock::now() < until) {
    std::uint8_t part[64];
    const long read = ReadDevice(device, part, sizeof part);
    ASSERT_GE(read, 0);
    got.insert(got.end(), part, part + read);
    if (read == 0) ::Sleep(2);
  }
  EXPECT_EQ(got, Expected(300));
  EXPECT_EQ(BytesWaiting(device), 0);
}

// As the component has it: one thread waits (and so starts and ends the
// reads), another reads. The far end sends 3000 bytes in pieces with short
// gaps; the reader must get them whole and in order, bytes a pending read
// took included.
TEST_F(PtyReceiveCheck, AWaiterAndAReaderInTwoThreadsKeepTheOrder) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  std::thread waiter([this] {
    while (WaitDevice(device, &stop, nullptr, kWaitReadable, 50) != TVaDeviceWait::Stopped) {
      ::Sleep(0);
    }
  });
  std::vector<std::uint8_t> got;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < 3000 && std::chrono::steady_clock::now() < until) {
    std::uint8_t part[64];
    const long read = ReadDevice(device, part, sizeof part);
    if (read < 0) break;
    got.insert(got.end(), part, part + read);
  }
  stop.SetSignal();
  waiter.join();
  EXPECT_EQ(got, Expected(3000));
}

// Closed with its read pending, the port cancels it and waits for its end;
// a port opened again receives from the start.
TEST_F(PtyReceiveCheck, ClosingWithAPendingReadLeavesTheNextOpeningWhole) {
  ASSERT_NO_FATAL_FAILURE(StartFarEnd());
  CloseDevice(device);
  device = kNoDevice;
  ASSERT_NO_FATAL_FAILURE(SetUp());
  ASSERT_NO_FATAL_FAILURE(StartFarEnd('T'));
  EXPECT_EQ(Receive(40), Expected(40));
}

}  // namespace
}  // namespace stbup
