#include "loop/hand_over_watch.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loop/event_loop.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(HandOverWatchTest, SeesASetFlagAtOnceAndGivesUpOnAnUnsetOne) {
  const std::atomic<bool> set{true};
  EXPECT_TRUE(WatchBriefly(set));
  const std::atomic<bool> unset{false};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WatchBriefly(unset));
  // A watch is a short look before sleeping, never a wait of its own.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(HandOverWatchTest, FollowsTheCpusTheThreadMayRunOn) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  const bool several = CPU_COUNT(&allowed) > 1;
  EXPECT_EQ(RunsOnSeveralCpus(), several);
  // Kept to one CPU (as taskset does), a watcher would hold back the main
  // thread it waits for.
  std::thread pinned([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &allowed)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_FALSE(RunsOnSeveralCpus());
  });
  pinned.join();
}

// Calls shorter and longer than the watch: either way the caller returns only
// after its call has ended, with what it did.
TEST(HandOverWatchTest, ACallerReturnsAfterItsCallEndedWhateverItsLength) {
  EventLoop loop;
  std::atomic<bool> done{false};
  for (const auto length : {0us, 20us, 2000us, 20000us}) {
    int result = 0;
    std::thread worker([&] {
      loop.RunOnMainThread([&] {
        std::this_thread::sleep_for(length);
        result = 42;
      });
      EXPECT_EQ(result, 42) << length.count() << " us";
      done = true;
    });
    loop.RunUntil([&] { return done.load(); }, 5s);
    worker.join();
    done = false;
  }
}

}  // namespace
}  // namespace stbup
