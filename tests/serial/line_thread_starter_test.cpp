#include "serial/line_thread_starter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace stbup {
namespace {

int OwnNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); }

// The nice value a line thread started now from this thread runs at.
int NiceOfLineThread() {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<int> nice;
  StartLineThread([&] {
    const int own = OwnNice();
    std::lock_guard lock(mutex);
    nice = own;
    done.notify_all();
  });
  std::unique_lock lock(mutex);
  done.wait(lock, [&] { return nice.has_value(); });
  return *nice;
}

// Counts bodies run and lets a test wait for all of them.
struct Tally {
  std::mutex mutex;
  std::condition_variable changed;
  int ran = 0;

  std::function<void()> Body() {
    return [this] {
      std::lock_guard lock(mutex);
      ++ran;
      changed.notify_all();
    };
  }
  void WaitFor(int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return ran == count; });
  }
};

TEST(LineThreadStarterTest, APortsThreadStartsAtThePriorityTheStarterKept) {
  // In a thread of its own: a lowered priority is never raised again.
  std::thread([] {
    const int began = OwnNice();
    if (began >= 19) GTEST_SKIP() << "already at the lowest priority";
    std::optional<LineThreadStarter> starter;
    starter.emplace();
    ASSERT_EQ(0, ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), began + 5));
    EXPECT_EQ(began, NiceOfLineThread()) << "started by the starter";
    starter.reset();
    EXPECT_EQ(began + 5, NiceOfLineThread()) << "started here, once the starter is gone";
  }).join();
}

TEST(LineThreadStarterTest, EveryBodyRunsWhileStartersComeAndGo) {
  // Threads started from several threads at once, while starters are made
  // and closed: each body runs once and no start waits for ever.
  constexpr int kThreads = 4;
  constexpr int kEach = 40;
  Tally tally;
  std::atomic<bool> asking{true};
  std::thread churn([&asking] {
    while (asking) LineThreadStarter starter;
  });
  std::vector<std::thread> askers;
  for (int t = 0; t < kThreads; ++t) {
    askers.emplace_back([&tally] {
      for (int i = 0; i < kEach; ++i) StartLineThread(tally.Body());
    });
  }
  for (std::thread& asker : askers) asker.join();
  asking = false;
  churn.join();
  tally.WaitFor(kThreads * kEach);
  EXPECT_EQ(kThreads * kEach, tally.ran);
}

}  // namespace
}  // namespace stbup
