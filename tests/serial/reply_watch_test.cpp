// When the event thread watches the line: only where a paced box has shown
// when it answers, and around that moment.
#include "serial/reply_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace stbup {
namespace {

using namespace std::chrono_literals;
using Clock = ReplyWatch::Clock;

const Clock::time_point kStart = Clock::time_point(1h);

// A block goes out every `period`; the box answers it with arrivals at the
// given times after it, the `late` ones of each write later by `delay`.
struct Rounds {
  std::vector<Clock::duration> after;
  int writes;
  Clock::duration period = 100ms;
  std::vector<int> late_writes = {};
  Clock::duration delay = 0ms;
};

// Plays the rounds and returns the windows Next offers for the arrivals of
// one more write, relative to it.
std::vector<std::optional<std::pair<Clock::duration, Clock::duration>>> WindowsAfter(
    const Rounds& rounds) {
  ReplyWatch watch;
  Clock::time_point write = kStart;
  for (int w = 0; w < rounds.writes; ++w, write += rounds.period) {
    const bool late = std::find(rounds.late_writes.begin(), rounds.late_writes.end(), w) !=
                      rounds.late_writes.end();
    for (const auto after : rounds.after) {
      watch.Next(write);
      watch.Arrived(write, write + after + (late ? rounds.delay : 0ms));
    }
  }
  std::vector<std::optional<std::pair<Clock::duration, Clock::duration>>> windows;
  for (const auto after : rounds.after) {
    const auto window = watch.Next(write);
    if (window) {
      windows.emplace_back(std::pair{window->from - write, window->until - write});
    } else {
      windows.emplace_back(std::nullopt);
    }
    watch.Arrived(write, write + after);
  }
  return windows;
}

std::pair<Clock::duration, Clock::duration> Around(Clock::duration moment) {
  return {moment - ReplyWatch::kLead, moment + ReplyWatch::kTail};
}

TEST(ReplyWatch, WatchesWhereAPacedBoxHasShownItAnswers) {
  const auto verdict = 90900us;
  const auto request = 92850us;
  struct Case {
    const char* what;
    Rounds rounds;
    std::vector<std::optional<std::pair<Clock::duration, Clock::duration>>> windows;
  };
  const Case cases[] = {
      {"a verdict, then a request, at steady times: each is watched for at its own",
       {{verdict, request}, 8},
       {Around(verdict), Around(request)}},
      {"half the memory of answers is a pace",
       {{verdict, request}, 4},
       {Around(verdict), Around(request)}},
      {"fewer are not yet", {{verdict, request}, 3}, {std::nullopt, std::nullopt}},
      {"answers late now and then (a busy machine) do not move the moment",
       {{verdict, request}, 8, 100ms, {1, 4, 6}, 3ms},
       {Around(verdict), Around(request)}},
      {"nor do early ones (a box catching up after a stall)",
       {{verdict, request}, 8, 100ms, {0, 5, 7}, -3ms},
       {Around(verdict), Around(request)}},
      {"a fast line is left to the sleeping wait",
       {{150us, 1900us}, 8},
       {std::nullopt, std::nullopt}},
      {"a fast first answer and a paced second one",
       {{150us, request}, 8},
       {std::nullopt, Around(request)}},
      {"an answer seconds later is not a paced one", {{3s}, 8, 4s}, {std::nullopt}},
      {"only the first arrivals after a write are learnt",
       {{10ms, 20ms, 30ms, 40ms, 50ms, 60ms}, 8},
       {Around(10ms), Around(20ms), Around(30ms), Around(40ms), std::nullopt, std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(WindowsAfter(c.rounds), c.windows);
  }
}

TEST(ReplyWatch, NothingIsWatchedBeforeTheFirstWrite) {
  ReplyWatch watch;
  for (int i = 0; i < 8; ++i) {
    EXPECT_FALSE(watch.Next(std::nullopt));
    watch.Arrived(std::nullopt, kStart + i * 100ms);
  }
  EXPECT_FALSE(watch.Next(std::nullopt));
}

TEST(ReplyWatch, AWriteBetweenArrivalsStartsTheCountAgain) {
  ReplyWatch watch;
  Clock::time_point write = kStart;
  for (int w = 0; w < 8; ++w, write += 100ms) {
    watch.Arrived(write, write + 10ms);
    watch.Arrived(write, write + 30ms);
  }
  // The first answer came, then the tool wrote again at once: the next
  // arrival is the first after that write, due 10 ms after it.
  watch.Arrived(write, write + 10ms);
  const auto again = write + 11ms;
  const auto window = watch.Next(again);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->from, again + 10ms - ReplyWatch::kLead);
}

}  // namespace
}  // namespace stbup
