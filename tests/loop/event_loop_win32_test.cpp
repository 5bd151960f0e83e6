// The loop watching a waitable handle of the caller's, as the command line
// watches its interrupt event (Windows).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loop/event_loop.h"

#include <windows.h>

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(EventLoopWin32Test, AWatchedEventWakesTheLoopUntilItIsNoLongerWatched) {
  EventLoop loop;
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  int calls = 0;
  const int id = loop.WatchReadable(reinterpret_cast<std::intptr_t>(event), [&] {
    ++calls;
    ::ResetEvent(event);
  });
  // Set from another thread: the loop wakes for it, not at a poll interval.
  const auto start = std::chrono::steady_clock::now();
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    ::SetEvent(event);
  });
  EXPECT_TRUE(loop.RunUntil([&] { return calls == 1; }, 2s));
  setter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

  loop.StopWatching(id);
  ::SetEvent(event);
  loop.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(calls, 1);
  ::CloseHandle(event);
}

TEST(EventLoopWin32Test, ATimerKeepsItsPeriodWhileCallsAreQueued) {
  EventLoop loop;
  int ticks = 0;
  loop.AddTimer(20, [&] { ++ticks; });
  std::atomic<int> served{0};
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      loop.RunOnMainThread([&] { ++served; });
      std::this_thread::sleep_for(5ms);
    }
  });
  loop.RunUntil([&] { return served == 20; }, 2s);
  worker.join();
  loop.RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(served, 20);
  // About 200 ms passed: some ten ticks, none lost to the queued calls and
  // none fired early.
  EXPECT_GE(ticks, 6);
  EXPECT_LE(ticks, 16);
}

}  // namespace
}  // namespace stbup
