// The loop watching a descriptor of the caller's (Linux).
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "loop/event_loop.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

TEST(EventLoopTest, AWatchedDescriptorWakesTheLoopUntilItIsNoLongerWatched) {
  EventLoop loop;
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  std::string got;
  int calls = 0;
  const int id = loop.WatchReadable(pipe_fds[0], [&] {
    ++calls;
    char buffer[16];
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  });
  // Written from another thread: the loop wakes for it, not at a poll interval.
  std::thread writer([&] { ASSERT_EQ(::write(pipe_fds[1], "ab", 2), 2); });
  EXPECT_TRUE(loop.RunUntil([&] { return got == "ab"; }, 2s));
  writer.join();

  loop.StopWatching(id);
  ASSERT_EQ(::write(pipe_fds[1], "c", 1), 1);
  loop.RunUntil([] { return false; }, 30ms);
  EXPECT_EQ(got, "ab");

  // A hang-up reaches the callback once; the loop then stops watching rather
  // than waking on it without end.
  loop.WatchReadable(pipe_fds[0], [&] {
    ++calls;
    char buffer[16];
    while (::read(pipe_fds[0], buffer, sizeof buffer) > 0) {
    }
  });
  ::close(pipe_fds[1]);
  calls = 0;
  loop.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(calls, 1);
  ::close(pipe_fds[0]);
}

}  // namespace
}  // namespace stbup
