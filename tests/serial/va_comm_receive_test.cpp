#include <time.h>

#include <numeric>
#include <stdexcept>

#include "tests/serial/comm_fixture.h"

namespace stbup::testing {
namespace {

double ProcessCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

class ReceiveTest : public CommTest {
 protected:
  std::vector<int> counts;
  std::string received;
};

TEST_F(ReceiveTest, ABurstIsReportedAndReadWhole) {
  comm.OnRxChar = [&](TVaComm& sender, int count) {
    EXPECT_EQ(&sender, &comm);
    counts.push_back(count);
    received += sender.ReadText();
  };
  comm.Open();
  pty.Write("0123456789");
  ASSERT_TRUE(WaitFor([&] { return received.size() >= 10; }));
  EXPECT_EQ(received, "0123456789");
  EXPECT_LE(std::accumulate(counts.begin(), counts.end(), 0), 10);
  EXPECT_GE(counts.front(), 1);
}

TEST_F(ReceiveTest, ReadTextIsByteClean) {
  const std::string bytes("\x00\r\nA\xff\x1f\n\x00", 8);
  comm.OnRxChar = [&](TVaComm& sender, int) { received += sender.ReadText(); };
  comm.Open();
  pty.Write(bytes);
  ASSERT_TRUE(WaitFor([&] { return received.size() >= bytes.size(); }));
  EXPECT_EQ(received, bytes);
}

TEST_F(ReceiveTest, BytesAHandlerLeavesAreCountedWithTheNextArrival) {
  comm.OnRxChar = [&](TVaComm&, int count) { counts.push_back(count); };
  comm.Open();
  pty.Write("0123456789");
  ASSERT_TRUE(WaitFor([&] { return !counts.empty(); }));
  ASSERT_TRUE(WaitFor([&] { return counts.back() == 10; }));
  const std::size_t calls = counts.size();
  RunFor(200ms);
  EXPECT_EQ(counts.size(), calls) << "the same bytes were reported again";
  pty.Write("X");
  ASSERT_TRUE(WaitFor([&] { return counts.size() > calls; }));
  EXPECT_EQ(counts.back(), 11);
  EXPECT_EQ(comm.ReadText(), "0123456789X");
}

TEST_F(ReceiveTest, SplitReadsTakeTheRestOnLaterBatches) {
  // The handler takes three bytes a call; the rest stays queued, and what
  // arrives later is reported with it.
  comm.OnRxChar = [&](TVaComm& sender, int count) {
    counts.push_back(count);
    char part[3];
    received.append(part, static_cast<std::size_t>(sender.ReadBuf(part, 3)));
  };
  comm.Open();
  pty.Write("abcdefg");
  ASSERT_TRUE(WaitFor([&] { return received.size() == 3; }));
  pty.Write("h");
  ASSERT_TRUE(WaitFor([&] { return received.size() == 6; }));
  EXPECT_EQ(counts.back(), 5);
  pty.Write("i");
  ASSERT_TRUE(WaitFor([&] { return received.size() == 9; }));
  EXPECT_EQ(received, "abcdefghi");
}

TEST_F(ReceiveTest, AHandlerThatClosesThePortEndsTheBatchQuietly) {
  int errors = 0, closed = 0;
  comm.OnError = [&](TVaComm&, int) { ++errors; };
  comm.OnClose = [&](TVaComm&) { ++closed; };
  comm.OnRxChar = [&](TVaComm& sender, int count) {
    counts.push_back(count);
    sender.Close();
    received = sender.ReadText();  // closed: nothing
  };
  comm.Open();
  pty.Write("abc");
  ASSERT_TRUE(WaitFor([&] { return !counts.empty(); }));
  EXPECT_FALSE(comm.Active());
  EXPECT_EQ(received, "");
  EXPECT_TRUE(AllThreadsEnded());
  pty.Write("more");
  RunFor(100ms);
  EXPECT_EQ(counts.size(), 1u);
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(reported.empty());
}

TEST_F(ReceiveTest, AnExceptionInTheHandlerIsReportedAndLaterDataStillArrives) {
  bool thrown = false;
  comm.OnRxChar = [&](TVaComm& sender, int) {
    received += sender.ReadText();
    if (!thrown) {
      thrown = true;
      throw std::runtime_error("'12x' is not a valid integer value");
    }
  };
  comm.Open();
  pty.Write("first");
  ASSERT_TRUE(WaitFor([&] { return thrown; }));
  ASSERT_TRUE(WaitFor([&] { return !reported.empty(); }));
  EXPECT_EQ(reported, std::vector<std::string>{"'12x' is not a valid integer value"});
  pty.Write("second");
  ASSERT_TRUE(WaitFor([&] { return received.size() >= 11; }));
  EXPECT_EQ(received, "firstsecond");
}

TEST_F(ReceiveTest, WithoutRxCharMonitoredNoHandlerRunsButTheDataWaits) {
  for (const TVaCommEvents events : {TVaCommEvents{TVaCommEvent::ceError}, TVaCommEvents{}}) {
    SCOPED_TRACE(events.Raw());
    comm.SetMonitorEvents(events);
    comm.OnRxChar = [&](TVaComm&, int count) { counts.push_back(count); };
    comm.Open();
    EXPECT_EQ(TVaCommThread::LiveCount(), events.Empty() ? 1 : 2);  // the write thread
    pty.Write("data");
    RunFor(150ms);
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(comm.ReadText(), "data");
    EXPECT_TRUE(comm.WriteText("out"));
    EXPECT_EQ(Receive(3, 2s), "out");
    comm.Close();
    ASSERT_TRUE(AllThreadsEnded());
  }
}

TEST_F(ReceiveTest, EventsOfOneBatchAreRaisedInTheirFixedOrder) {
  std::vector<std::string> order;
  const auto note = [&order](const char* name) {
    return [&order, name](TVaComm&) { order.push_back(name); };
  };
  comm.OnRxFlag = note("RxFlag");
  comm.OnCts = note("Cts");
  comm.OnDsr = note("Dsr");
  comm.OnRing = note("Ring");
  comm.OnRlsd = note("Rlsd");
  comm.OnTxEmpty = note("TxEmpty");
  comm.OnBreak = note("Break");
  comm.OnPErr = note("PErr");
  comm.OnRx80Full = note("Rx80Full");
  comm.OnEvent1 = note("Event1");
  comm.OnEvent2 = note("Event2");
  comm.DoEvent(0x1FFF & ~EV_RXCHAR);
  EXPECT_EQ(order, (std::vector<std::string>{"RxFlag", "Cts", "Dsr", "Ring", "Rlsd", "TxEmpty",
                                             "Break", "PErr", "Rx80Full", "Event1", "Event2"}));
  order.clear();
  comm.DoEvent(EV_BREAK | EV_CTS);
  EXPECT_EQ(order, (std::vector<std::string>{"Cts", "Break"}));
}

TEST_F(ReceiveTest, TheFarEndHangingUpIsReportedOnceAndDoesNotSpin) {
  int lost = 0;
  comm.OnDeviceLost = [&](TVaComm& sender) {
    EXPECT_EQ(&sender, &comm);
    ++lost;
  };
  comm.OnRxChar = [&](TVaComm& sender, int) { received += sender.ReadText(); };
  comm.Open();
  pty.Write("last words");
  ASSERT_TRUE(WaitFor([&] { return received.size() == 10; }));
  pty.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return lost == 1; }));
  EXPECT_TRUE(comm.DeviceLost());

  // The main thread sleeps in poll meanwhile, so the process's CPU time is
  // the worker threads'.
  const double before = ProcessCpuMs();
  RunFor(2500ms);
  const double used = ProcessCpuMs() - before;
  EXPECT_LT(used, 150.0) << "worker threads kept the processor busy";
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(comm.Active());

  comm.Close();
  EXPECT_TRUE(loop.RunUntil([] { return TVaCommThread::LiveCount() == 0; }, 300ms));
  EXPECT_FALSE(comm.DeviceLost());
}

}  // namespace
}  // namespace stbup::testing
