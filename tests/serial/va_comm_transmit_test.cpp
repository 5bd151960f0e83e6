#include "tests/serial/comm_fixture.h"

#include <thread>

namespace stbup::testing {
namespace {

using Clock = std::chrono::steady_clock;

TEST_F(CommTest, TokenAndLineFeedGoOutInOrderAsOneStream) {
  comm.Open();
  for (int round = 0; round < 50; ++round) {
    ASSERT_TRUE(comm.WriteText("BL___"));
    ASSERT_TRUE(comm.WriteChar(10));
  }
  std::string expected;
  for (int round = 0; round < 50; ++round) expected += "BL___\n";
  EXPECT_EQ(Receive(expected.size(), 2s), expected);
}

TEST_F(CommTest, TwoBlocksOfTheDownloadFitTheQueueAtOnce) {
  std::string block(1024, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  std::string second = block;
  second[0] = 'S';
  comm.Open();
  const auto start = Clock::now();
  EXPECT_EQ(comm.WriteBuf(block.data(), 1024), 1024);
  EXPECT_EQ(comm.WriteBuf(second.data(), 1024), 1024);
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_EQ(Receive(2048, 2s), block + second);
}

TEST_F(CommTest, WritesThatOutrunASlowReaderArriveWholeAndInOrder) {
  // A write with nothing queued goes to the device at once; what the device
  // cannot take yet is queued, and later writes queue behind it.
  comm.Open();
  std::string expected;
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(100ms);  // until the device and the queue are full
    while (received.size() < 300 * 1000) {
      received += pty.ReadAvailable();
      std::this_thread::sleep_for(1ms);
    }
  });
  for (int i = 0; i < 300; ++i) {
    std::string chunk(1000, static_cast<char>('A' + i % 26));
    chunk.replace(0, 3, std::to_string(100 + i));
    expected += chunk;
    ASSERT_EQ(comm.WriteBuf(chunk.data(), 1000), 1000);
  }
  reader.join();
  EXPECT_TRUE(received == expected) << "the stream was reordered or lost bytes";
}

TEST_F(CommTest, RepliesWrittenWhileHandlingReceivedDataLeaveTogetherWhenItIsDone) {
  // A block and its sum are two writes; the box should get them in one piece.
  comm.Open();
  std::string seen_during;
  comm.OnRxChar = [&](TVaComm& sender, int) {
    sender.ReadText();
    const std::string block(1024, '\x5A');
    sender.WriteBuf(block.data(), 1024);
    sender.WriteText(std::string(1, '\x40'));
    seen_during = pty.ReadAvailable();
  };
  pty.Write("REQUEST_1024DOWN:0000\n");
  const std::string answer = Receive(1025, 2s);
  EXPECT_EQ(seen_during, "");
  EXPECT_EQ(answer, std::string(1024, '\x5A') + '\x40');
}

TEST_F(CommTest, AHandlerThatClosesThePortAfterWritingSendsWhatItWroteFirst) {
  // The reset after "NO_ACKNOWLEDGE with PC." ends with 0x07, then the port
  // closes: the box must get the byte.
  comm.Open();
  bool handled = false;
  comm.OnRxChar = [&](TVaComm& sender, int) {
    sender.ReadText();
    sender.WriteText("[reset]");
    sender.WriteChar(0x07);
    sender.Close();
    handled = true;
  };
  pty.Write("NO_ACKNOWLEDGE with PC.\n");
  ASSERT_TRUE(WaitFor([&] { return handled; }));
  EXPECT_EQ(ReceiveUntilQuiet(100ms), "[reset]\x07");
}

TEST_F(CommTest, RepliesBeforeAnErrorOfTheHandlerReachTheBoxBeforeTheErrorIsShown) {
  // The error box waits for the operator; the box must not wait with it.
  comm.Open();
  std::string seen_when_reported;
  comm.OnException = [&](const std::exception& error) {
    seen_when_reported = pty.Read(17, 1s);
    reported.push_back(error.what());
  };
  comm.OnRxChar = [&](TVaComm& sender, int) {
    sender.ReadText();
    sender.WriteText("REQUEST_DOWNLOAD");
    sender.WriteChar(10);
    throw std::runtime_error("Cannot create file");
  };
  pty.Write("ack\n");
  ASSERT_TRUE(WaitFor([&] { return !reported.empty(); }));
  EXPECT_EQ(seen_when_reported, "REQUEST_DOWNLOAD\n");
  EXPECT_EQ(ReceiveUntilQuiet(100ms), "");
}

TEST_F(CommTest, AHandlerWaitingForTheOperatorHoldsNothingBack) {
  // A modal box inside the handler: what was written goes out before it, and
  // the poll bytes of the timer running inside the box go out one by one.
  comm.Open();
  std::vector<std::string> seen;
  comm.OnRxChar = [&](TVaComm& sender, int) {
    sender.ReadText();
    sender.WriteText("REQUEST_DOWNLOAD\n");
    sender.SendHeldWrites();  // what the window does before its box
    seen.push_back(pty.Read(17, 1s));
    for (int tick = 0; tick < 3; ++tick) {
      sender.WriteChar(0x1F);
      seen.push_back(pty.Read(1, 1s));
    }
  };
  pty.Write("ack\n");
  ASSERT_TRUE(WaitFor([&] { return seen.size() == 4; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"REQUEST_DOWNLOAD\n", "\x1f", "\x1f", "\x1f"}));
  // The next batch holds its replies again, and they leave together.
  std::string seen_during = "unset";
  comm.OnRxChar = [&](TVaComm& sender, int) {
    sender.ReadText();
    sender.WriteText("0001");
    sender.WriteChar(10);
    seen_during = pty.ReadAvailable();
  };
  pty.Write("REQUEST_BLOCK\n");
  EXPECT_EQ(Receive(5, 2s), "0001\n");
  EXPECT_EQ(seen_during, "");
}

TEST_F(CommTest, AWriteLargerThanTheQueueFailsAfterTheTimeOutWithNothingSent) {
  comm.Open();
  const std::string big(4096, 'z');
  const auto start = Clock::now();
  try {
    comm.WriteText(big);
    FAIL() << "accepted";
  } catch (const EVaCommError& error) {
    EXPECT_STREQ(error.what(), "Output buffer is full. Please check comm status.");
  }
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 950ms);
  EXPECT_LT(waited, 1500ms);
  EXPECT_EQ(ReceiveUntilQuiet(100ms), "");
  EXPECT_TRUE(comm.WriteText("after"));  // the queue is unchanged and works
  EXPECT_EQ(Receive(5, 2s), "after");
}

TEST_F(CommTest, CloseGivesADeviceThatTakesNothingLittleTimeAndTheNextOpeningStartsEmpty) {
  comm.Buffers().SetWriteTimeout(30);
  comm.Open();
  // Nobody reads the far end: the pty fills, then the queue does.
  const std::string chunk(2048, 'q');
  std::size_t accepted = 0;
  try {
    for (int i = 0; i < 1000; ++i) {
      comm.WriteBuf(chunk.data(), 2048);
      accepted += 2048;
    }
    FAIL() << "the queue never filled";
  } catch (const EVaCommError&) {
  }
  // What the device takes meanwhile is handed over; the rest is dropped.
  const auto closing = Clock::now();
  comm.Close();
  EXPECT_LT(Clock::now() - closing, 400ms);
  ASSERT_TRUE(AllThreadsEnded());
  const std::string sent = ReceiveUntilQuiet(200ms);
  EXPECT_LE(sent.size(), accepted);
  EXPECT_EQ(sent, std::string(sent.size(), 'q'));

  comm.Open();
  EXPECT_TRUE(comm.WriteText("NEW"));
  EXPECT_EQ(Receive(3, 2s), "NEW");
  EXPECT_EQ(ReceiveUntilQuiet(100ms), "");
}

TEST_F(CommTest, TxEmptyIsRaisedInTheMainThreadsTurnOncePerDrain) {
  int drained = 0;
  comm.OnTxEmpty = [&](TVaComm& sender) {
    EXPECT_EQ(&sender, &comm);
    EXPECT_TRUE(loop.HoldsTurn());
    ++drained;
  };
  comm.Open();
  for (int round = 1; round <= 3; ++round) {
    ASSERT_TRUE(comm.WriteText("chunk"));
    ASSERT_TRUE(WaitFor([&] { return drained == round; }));
    RunFor(50ms);
    EXPECT_EQ(drained, round);
  }
  // An empty write wakes the thread, which finds nothing and reports a drain.
  EXPECT_TRUE(comm.WriteText(""));
  EXPECT_TRUE(WaitFor([&] { return drained == 4; }));
  EXPECT_EQ(Receive(15, 2s), "chunkchunkchunk");
}

TEST_F(CommTest, ADrainNobodyListensForDoesNotHoldTheWriteThread) {
  comm.Open();
  // No turn of the main loop: a write thread waiting there to report the
  // first drain would never send the second write.
  ASSERT_TRUE(comm.WriteText("one"));
  EXPECT_EQ(pty.Read(3, 1s), "one");
  ASSERT_TRUE(comm.WriteText("two"));
  EXPECT_EQ(pty.Read(3, 1s), "two");
  // A listener assigned later hears the drains of the writes after it.
  int drained = 0;
  comm.OnTxEmpty = [&](TVaComm&) { ++drained; };
  ASSERT_TRUE(comm.WriteText("three"));
  EXPECT_TRUE(WaitFor([&] { return drained == 1; }));
  EXPECT_EQ(Receive(5, 2s), "three");
}

TEST_F(CommTest, DirectWritesReturnWhenTheDeviceHasTheBytes) {
  comm.SetDirectWrite(true);
  comm.SetMonitorEvents({TVaCommEvent::ceRxChar, TVaCommEvent::ceTxEmpty});
  int drained = 0;
  comm.OnTxEmpty = [&](TVaComm&) { ++drained; };
  comm.Open();
  EXPECT_EQ(comm.EventMask(), EV_RXCHAR | EV_TXEMPTY);
  EXPECT_EQ(TVaCommThread::LiveCount(), 1);  // the event thread only
  EXPECT_TRUE(comm.WriteText("direct"));
  EXPECT_EQ(pty.Read(6, 1s), "direct");  // without a turn of the main loop
  EXPECT_TRUE(WaitFor([&] { return drained == 1; }));
  EXPECT_EQ(comm.WriteBuf(std::string(4096, 'd').data(), 4096), 4096);  // no queue limit
  EXPECT_EQ(Receive(4096, 2s).size(), 4096u);
}

TEST_F(CommTest, ADirectWriteTheDeviceCannotTakeGivesUpAfterTheTimeOut) {
  comm.SetDirectWrite(true);
  comm.Buffers().SetWriteTimeout(100);
  comm.Open();
  const std::string big(1 << 20, 'w');  // more than the pty holds, nobody reading
  const auto start = Clock::now();
  EXPECT_FALSE(comm.WriteText(big));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 90ms);
  EXPECT_LT(waited, 1000ms);
}

}  // namespace
}  // namespace stbup::testing
