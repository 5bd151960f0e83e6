#include "loop/loop_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "loop/event_loop.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(LoopTimerTest, StartStopAndRestartDriveTheTick) {
  EventLoop loop;
  LoopTimer timer(loop);
  int ticks = 0;
  timer.SetTick([&] { ++ticks; });
  EXPECT_EQ(timer.Interval(), 0);

  timer.Start(5);
  EXPECT_EQ(timer.Interval(), 5);
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= 3; }, 1s));

  timer.Stop();
  EXPECT_EQ(timer.Interval(), 0);
  const int stopped = ticks;
  loop.RunUntil([] { return false; }, 40ms);
  EXPECT_EQ(ticks, stopped);

  // Started again: the same timer, running at once at its new interval.
  timer.Start(5);
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= stopped + 3; }, 1s));

  // A negative interval stops it, as 0 does.
  timer.Start(-1);
  EXPECT_EQ(timer.Interval(), 0);
  const int paused = ticks;
  loop.RunUntil([] { return false; }, 40ms);
  EXPECT_EQ(ticks, paused);
}

TEST(LoopTimerTest, ADestroyedTimerTicksNoMore) {
  EventLoop loop;
  int ticks = 0;
  auto timer = std::make_unique<LoopTimer>(loop);
  timer->SetTick([&] { ++ticks; });
  timer->Start(5);
  EXPECT_TRUE(loop.RunUntil([&] { return ticks >= 1; }, 1s));
  timer.reset();
  const int last = ticks;
  loop.RunUntil([] { return false; }, 40ms);
  EXPECT_EQ(ticks, last);
}

TEST(LoopTimerTest, APostedCallRunsOnceAfterTheCurrentHandler) {
  EventLoop loop;
  std::vector<int> order;
  PostToLoop(loop, [&] {
    PostToLoop(loop, [&] { order.push_back(2); });
    order.push_back(1);
  });
  EXPECT_TRUE(loop.RunUntil([&] { return order.size() >= 2; }, 1s));
  loop.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace stbup
