#include "app/core/memory_port.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "loop/event_loop.h"
#include "serial/va_comm_error.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void BoxWrites(MemoryLineEnd& box, std::string_view text) {
  std::size_t written = 0;
  ASSERT_EQ(box.Write(Bytes(text), MemoryLineEnd::Clock::now() + 1s, written),
            MemoryLineEnd::Wait::kReady);
  ASSERT_EQ(written, text.size());
}

std::string BoxReads(MemoryLineEnd& box) {
  std::string text(box.Waiting(), '\0');
  text.resize(box.Read({reinterpret_cast<std::uint8_t*>(text.data()), text.size()}));
  return text;
}

std::string OpenError(MemoryPort& port) {
  try {
    port.Open();
  } catch (const EVaCommError& error) {
    return error.what();
  }
  return "opened";
}

class MemoryPortTest : public ::testing::Test {
 protected:
  MemoryPortTest() {
    auto [tool, box_end] = OpenMemoryLine();
    port = std::make_unique<MemoryPort>(loop, tool, "MEMORY");
    box = box_end;
    port->OnRxChar = [this] {
      EXPECT_TRUE(loop.HoldsTurn());
      ++batches;
      received += port->ReadText();
    };
    port->OnDeviceLost = [this] {
      EXPECT_TRUE(loop.HoldsTurn());
      ++losses;
    };
  }

  EventLoop loop;
  std::shared_ptr<MemoryLineEnd> box;
  std::unique_ptr<MemoryPort> port;
  int batches = 0;
  int losses = 0;
  std::string received;
};

TEST_F(MemoryPortTest, BytesCrossBothWaysAndArrivalsAreHandledInTheMainThreadsTurn) {
  port->Open();
  EXPECT_TRUE(port->Active());
  EXPECT_EQ(port->DeviceName(), "MEMORY");
  EXPECT_TRUE(port->WriteChar(0x07));
  EXPECT_TRUE(port->WriteText("PC___"));
  const std::uint8_t block[3] = {0x00, 0xFF, 0x0A};
  EXPECT_EQ(port->WriteBuf(block, 3), 3);
  EXPECT_EQ(BoxReads(*box), std::string("\x07PC___\x00\xFF\x0A", 9));

  BoxWrites(*box, "REQUEST_V217\n");
  ASSERT_TRUE(loop.RunUntil([&] { return received.size() == 13; }, 5s));
  BoxWrites(*box, std::string("\x00\r\nACK\n", 6));
  ASSERT_TRUE(loop.RunUntil([&] { return received.size() == 19; }, 5s));
  EXPECT_EQ(received, std::string("REQUEST_V217\n\x00\r\nACK\n", 19));
  EXPECT_GE(batches, 2);
  EXPECT_EQ(losses, 0);
}

TEST_F(MemoryPortTest, ABoxHangingUpIsOneLossAndThePortDoesNotOpenAgain) {
  port->Open();
  BoxWrites(*box, "NO_ACKNOWLEDGE with PC.\n");
  box->Close();
  ASSERT_TRUE(loop.RunUntil([&] { return losses > 0; }, 5s));
  loop.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(losses, 1);
  // What the box said before it went is handed over first.
  EXPECT_EQ(received, "NO_ACKNOWLEDGE with PC.\n");
  EXPECT_TRUE(port->Active());  // until the window closes it
  EXPECT_FALSE(port->WriteText("ack"));
  port->Close();
  EXPECT_FALSE(port->Active());
  EXPECT_EQ(OpenError(*port), "Can't open specified device MEMORY (the line has been closed)");
  EXPECT_EQ(port->FailedOpens(), 1);
  EXPECT_EQ(port->OpenFailureReason(), port->LastOpenError());
}

TEST_F(MemoryPortTest, ALineTheBoxHasLeftIsNotOpened) {
  box->Close();
  EXPECT_EQ(OpenError(*port), "Can't open specified device MEMORY (the simulated box has hung up)");
  EXPECT_FALSE(port->Active());
  EXPECT_EQ(port->ReadText(), "");
  EXPECT_EQ(port->WriteBuf("x", 1), 0);
}

TEST_F(MemoryPortTest, ClosingHangsTheLineUpForTheBoxAndEndsTheHandOvers) {
  port->Open();
  port->Close();
  EXPECT_EQ(box->WaitReadable(MemoryLineEnd::Clock::now() + 1s), MemoryLineEnd::Wait::kClosed);
  std::size_t written = 0;
  EXPECT_EQ(box->Write(Bytes("late"), MemoryLineEnd::Clock::now() + 1s, written),
            MemoryLineEnd::Wait::kClosed);
  loop.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(batches, 0);
  EXPECT_EQ(losses, 0);
}

TEST_F(MemoryPortTest, TheNameIsFixedWhileOpenAsTheSerialComponentKeepsIt) {
  port->SetDeviceName("THE BOX");
  EXPECT_EQ(port->DeviceName(), "THE BOX");
  port->Open();
  try {
    port->SetDeviceName("OTHER");
    FAIL() << "renamed while open";
  } catch (const EVaCommError& error) {
    EXPECT_STREQ(error.what(), "Can't perform this operation while port is open");
  }
  EXPECT_EQ(port->DeviceName(), "THE BOX");
}

TEST_F(MemoryPortTest, AnExceptionFromAHandlerGoesToTheErrorReportAndReceptionGoesOn) {
  std::vector<std::string> reported;
  port->OnException = [&](const std::exception& error) { reported.emplace_back(error.what()); };
  port->OnRxChar = [this] {
    received += port->ReadText();
    if (received == "a") throw std::runtime_error("handler failed");
  };
  port->Open();
  BoxWrites(*box, "a");
  ASSERT_TRUE(loop.RunUntil([&] { return !reported.empty(); }, 5s));
  BoxWrites(*box, "b");
  ASSERT_TRUE(loop.RunUntil([&] { return received == "ab"; }, 5s));
  EXPECT_EQ(reported, std::vector<std::string>{"handler failed"});
}

TEST_F(MemoryPortTest, APortDestroyedWhileItsListenerWaitsForTheMainThreadLeavesNoHandOver) {
  port->Open();
  BoxWrites(*box, "pending");
  // The listener is now waiting for the main thread, which never ran it.
  std::this_thread::sleep_for(20ms);
  port.reset();
  loop.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(batches, 0);
  EXPECT_EQ(box->WaitReadable(MemoryLineEnd::Clock::now() + 1s), MemoryLineEnd::Wait::kClosed);
}

}  // namespace
}  // namespace stbup
