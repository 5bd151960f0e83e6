#include <sys/ioctl.h>

#include <atomic>
#include <memory>

#include "tests/serial/comm_fixture.h"

namespace stbup::testing {
namespace {

// Modem lines and line counters the test sets, as the event thread sees them.
struct FakeDevice {
  std::atomic<int> lines{0};
  std::atomic<int> modem_error{0};
  std::atomic<int> modem_queries{0};
  std::atomic<int> counter_queries{0};
  std::atomic<std::uint64_t> frame{0}, overrun{0}, parity{0}, brk{0};
};

TVaDeviceQueries QueriesOf(const std::shared_ptr<FakeDevice>& fake) {
  // The worker threads may outlive the test briefly: they share the fake.
  TVaDeviceQueries queries;
  queries.ModemLines = [fake](int, int& lines) {
    ++fake->modem_queries;
    lines = fake->lines;
    return fake->modem_error.load();
  };
  queries.LineCounters = [fake](int) {
    ++fake->counter_queries;
    TVaLineCounters counters;
    counters.frame = fake->frame;
    counters.overrun = fake->overrun;
    counters.parity = fake->parity;
    counters.brk = fake->brk;
    return counters;
  };
  return queries;
}

constexpr int kAllLines = kModemCts | kModemDsr | kModemRing | kModemRlsd;

class LineEventsTest : public CommTest {
 protected:
  void SetUp() override {
    CommTest::SetUp();
    comm.SetDeviceQueries(QueriesOf(fake));
    const auto note = [this](const char* name) {
      return [this, name](TVaComm& sender) {
        EXPECT_EQ(&sender, &comm);
        raised.push_back(name);
      };
    };
    comm.OnCts = note("Cts");
    comm.OnDsr = note("Dsr");
    comm.OnRing = note("Ring");
    comm.OnRlsd = note("Rlsd");
    comm.OnBreak = note("Break");
    comm.OnRx80Full = note("Rx80Full");
    comm.OnError = [this](TVaComm&, int errors) {
      raised.push_back("Error " + std::to_string(errors));
    };
  }
  // The event thread has taken its first sample, so what changes next is news.
  void OpenAndWaitForFirstSample() {
    fake->modem_queries = 0;
    comm.Open();
    ASSERT_TRUE(WaitFor([&] { return fake->modem_queries > 0; }));
  }
  // Open has looked at the counters, and so has the event thread.
  void OpenAndWaitForCounterBaseline() {
    fake->counter_queries = 0;
    comm.Open();
    ASSERT_TRUE(WaitFor([&] { return fake->counter_queries >= 2; }));
  }
  using Names = std::vector<std::string>;

  std::shared_ptr<FakeDevice> fake = std::make_shared<FakeDevice>();
  Names raised;
};

TEST_F(LineEventsTest, EachModemLineChangeIsRaisedOnceInTheFixedOrder) {
  comm.SetMonitorEvents(
      {TVaCommEvent::ceCts, TVaCommEvent::ceDsr, TVaCommEvent::ceRing, TVaCommEvent::ceRlsd});
  OpenAndWaitForFirstSample();

  // Ring rising is not an event: a ring is reported when it ends.
  fake->lines = kAllLines;
  ASSERT_TRUE(WaitFor([&] { return raised.size() >= 3; }));
  RunFor(100ms);
  EXPECT_EQ(raised, (Names{"Cts", "Dsr", "Rlsd"}));

  raised.clear();
  fake->lines = 0;
  ASSERT_TRUE(WaitFor([&] { return raised.size() >= 4; }));
  RunFor(100ms);
  EXPECT_EQ(raised, (Names{"Cts", "Dsr", "Ring", "Rlsd"}));

  raised.clear();
  fake->lines = kModemDsr;
  ASSERT_TRUE(WaitFor([&] { return !raised.empty(); }));
  RunFor(100ms);
  EXPECT_EQ(raised, Names{"Dsr"});
  EXPECT_TRUE(reported.empty());
}

TEST_F(LineEventsTest, OnlyTheMonitoredLineIsReported) {
  const struct {
    TVaCommEvent event;
    Names expected;  // all four lines on, then off
  } cases[] = {
      {TVaCommEvent::ceCts, {"Cts", "Cts"}},
      {TVaCommEvent::ceDsr, {"Dsr", "Dsr"}},
      {TVaCommEvent::ceRing, {"Ring"}},
      {TVaCommEvent::ceRlsd, {"Rlsd", "Rlsd"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.expected.front());
    raised.clear();
    fake->lines = 0;
    comm.SetMonitorEvents({test.event});
    OpenAndWaitForFirstSample();
    fake->lines = kAllLines;
    const int seen = fake->modem_queries;
    ASSERT_TRUE(WaitFor([&] { return fake->modem_queries > seen + 1; }));
    fake->lines = 0;
    RunFor(100ms);
    EXPECT_EQ(raised, test.expected);
    comm.Close();
    ASSERT_TRUE(AllThreadsEnded());
  }
}

TEST_F(LineEventsTest, WithoutModemEventsTheThreadSleepsUntilDataComes) {
  // The form's events: error and received data only.
  comm.OnRxChar = [](TVaComm& sender, int) { sender.ReadText(); };
  comm.Open();
  pty.Write("wake");
  ASSERT_TRUE(WaitFor([&] { return comm.ReadBufUsed() == 0 && fake->counter_queries >= 3; }));
  RunFor(50ms);
  const int looks = fake->counter_queries;
  fake->lines = kAllLines;
  RunFor(300ms);
  EXPECT_EQ(fake->modem_queries, 0);
  EXPECT_EQ(fake->counter_queries, looks) << "the event thread woke without cause";
  EXPECT_TRUE(raised.empty());
}

TEST_F(LineEventsTest, MonitoredModemLinesAreSampledAtAModestPeriod) {
  comm.SetMonitorEvents({TVaCommEvent::ceRlsd});
  OpenAndWaitForFirstSample();
  const int before = fake->modem_queries;
  RunFor(400ms);
  const int samples = fake->modem_queries - before;
  EXPECT_GE(samples, 5);
  EXPECT_LE(samples, 25);
}

TEST_F(LineEventsTest, ADeviceWithoutModemLinesStopsTheSamplingQuietly) {
  TVaDeviceQueries queries;
  queries.ModemLines = [fake = fake](int fd, int& lines) {
    ++fake->modem_queries;
    return ReadModemLines(fd, lines);  // the pty refuses
  };
  queries.LineCounters = [fake = fake](int fd) {
    ++fake->counter_queries;
    return ReadLineCounters(fd);
  };
  comm.SetDeviceQueries(queries);
  comm.SetMonitorEvents(
      {TVaCommEvent::ceCts, TVaCommEvent::ceRing, TVaCommEvent::ceRxChar, TVaCommEvent::ceError});
  std::string received;
  comm.OnRxChar = [&](TVaComm& sender, int) { received += sender.ReadText(); };
  OpenAndWaitForFirstSample();
  pty.Write("still heard");
  ASSERT_TRUE(WaitFor([&] { return received == "still heard"; }));
  RunFor(50ms);
  const int looks = fake->counter_queries;
  RunFor(300ms);
  EXPECT_EQ(fake->modem_queries, 1);
  EXPECT_EQ(fake->counter_queries, looks) << "the event thread kept waking";
  // A pty keeps no line counters either: asked once, at the opening, not per batch.
  EXPECT_EQ(looks, 1);
  EXPECT_TRUE(raised.empty());
  EXPECT_TRUE(reported.empty());
}

TEST_F(LineEventsTest, CounterGrowthRaisesBreakAndLineErrors) {
  // A break or a bad character reaches the input as a zero byte, which wakes
  // the thread; received data is not monitored, so no count query clears the
  // error bits before OnError.
  const struct {
    const char* name;
    std::atomic<std::uint64_t> FakeDevice::*counter;
    Names expected;
  } cases[] = {
      {"break", &FakeDevice::brk, {"Break"}},
      {"frame", &FakeDevice::frame, {"Error 8"}},
      {"overrun", &FakeDevice::overrun, {"Error 2"}},
      {"parity", &FakeDevice::parity, {"Error 4"}},
  };
  comm.SetMonitorEvents({TVaCommEvent::ceBreak, TVaCommEvent::ceError});
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    raised.clear();
    OpenAndWaitForCounterBaseline();
    ++(*fake.*test.counter);
    pty.Write(std::string(1, '\0'));
    ASSERT_TRUE(WaitFor([&] { return !raised.empty(); }));
    RunFor(100ms);
    EXPECT_EQ(raised, test.expected);
    EXPECT_EQ(comm.ReadText(), std::string(1, '\0'));
    comm.Close();
    ASSERT_TRUE(AllThreadsEnded());
  }

  // Both in one batch: the error first, and the status query reports the
  // break among the error bits.
  raised.clear();
  OpenAndWaitForCounterBaseline();
  ++fake->frame;
  ++fake->brk;
  pty.Write(std::string(1, '\0'));
  ASSERT_TRUE(WaitFor([&] { return raised.size() >= 2; }));
  EXPECT_EQ(raised, (Names{"Error 24", "Break"}));
}

TEST_F(LineEventsTest, ReceivedDataOfTheSameBatchClearsItsLineErrors) {
  // The count of DoRxChar is a status query, and so is ReadText: either
  // clears the error bits before the batch's error event looks for them,
  // though the count now comes from the event thread's own look.
  const struct {
    const char* name;
    bool read_in_handler;
  } cases[] = {{"the handler reads", true}, {"the handler leaves the bytes", false}};
  comm.SetMonitorEvents({TVaCommEvent::ceRxChar, TVaCommEvent::ceError});
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    raised.clear();
    std::vector<int> counts;
    comm.OnRxChar = [&](TVaComm& sender, int count) {
      counts.push_back(count);
      if (test.read_in_handler) {
        EXPECT_EQ(sender.ReadText(), std::string(3, '\0'));
      }
    };
    OpenAndWaitForCounterBaseline();
    ++fake->frame;
    pty.Write(std::string(3, '\0'));
    ASSERT_TRUE(WaitFor([&] { return !counts.empty(); }));
    RunFor(100ms);
    EXPECT_EQ(counts, std::vector<int>{3});
    EXPECT_TRUE(raised.empty());
    comm.OnRxChar = nullptr;
    comm.Close();
    ASSERT_TRUE(AllThreadsEnded());
  }
}

TEST_F(LineEventsTest, Rx80FullWhenTheWaitingBytesReachFourFifthsOfTheReadSize) {
  comm.Buffers().SetReadSize(100);
  comm.SetMonitorEvents({TVaCommEvent::ceRxChar, TVaCommEvent::ceRx80Full});
  int last_count = 0;
  comm.OnRxChar = [&](TVaComm&, int count) { last_count = count; };  // leaves the bytes
  comm.Open();
  pty.Write(std::string(79, 'a'));
  ASSERT_TRUE(WaitFor([&] { return last_count == 79; }));
  RunFor(50ms);
  EXPECT_TRUE(raised.empty());
  pty.Write("b");
  ASSERT_TRUE(WaitFor([&] { return !raised.empty(); }));
  RunFor(50ms);
  EXPECT_EQ(raised, Names{"Rx80Full"});
  EXPECT_EQ(last_count, 80);
}

}  // namespace
}  // namespace stbup::testing
