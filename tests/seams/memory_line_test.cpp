#include "seams/memory_line.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace stbup {
namespace {

using Wait = MemoryLineEnd::Wait;
using Clock = MemoryLineEnd::Clock;
using namespace std::chrono_literals;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string ReadAll(MemoryLineEnd& end) {
  std::string text(end.Waiting(), '\0');
  text.resize(end.Read({reinterpret_cast<std::uint8_t*>(text.data()), text.size()}));
  return text;
}

std::size_t WriteNow(MemoryLineEnd& end, std::string_view text) {
  std::size_t written = 0;
  end.Write(Bytes(text), Clock::now(), written);
  return written;
}

TEST(MemoryLineTest, EachEndReadsWhatTheOtherWroteInOrder) {
  auto [tool, box] = OpenMemoryLine(16);
  EXPECT_EQ(WriteNow(*tool, "REQ"), 3u);
  EXPECT_EQ(WriteNow(*box, "ANSWER"), 6u);
  EXPECT_EQ(WriteNow(*tool, "UEST"), 4u);
  EXPECT_EQ(ReadAll(*box), "REQUEST");
  EXPECT_EQ(ReadAll(*tool), "ANSWER");
  EXPECT_EQ(box->Arrived(), 7u);
  EXPECT_EQ(tool->Arrived(), 6u);
  EXPECT_EQ(box->WaitReadable(Clock::now() + 1ms), Wait::kTimedOut);
}

TEST(MemoryLineTest, AFullDirectionTakesWhatFitsAndWrapsAroundIntact) {
  auto [tool, box] = OpenMemoryLine(8);
  std::vector<std::uint8_t> sent(256);
  std::iota(sent.begin(), sent.end(), 0);
  std::vector<std::uint8_t> got;
  std::size_t pos = 0;
  // Uneven pieces, so the ring wraps at every place.
  for (std::size_t step = 1; pos < sent.size(); step = step % 7 + 1) {
    std::size_t written = 0;
    const auto piece = std::span(sent).subspan(pos, std::min(step, sent.size() - pos));
    ASSERT_EQ(tool->Write(piece, Clock::now(), written), Wait::kReady);
    EXPECT_LE(written, 8u);
    pos += written;
    std::uint8_t buffer[5];
    const std::size_t n = box->Read(buffer);
    got.insert(got.end(), buffer, buffer + n);
  }
  const std::string rest = ReadAll(*box);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, sent);
}

TEST(MemoryLineTest, AWriteIntoAFullDirectionWaitsForRoomUntilItsDeadline) {
  auto [tool, box] = OpenMemoryLine(4);
  EXPECT_EQ(WriteNow(*tool, "abcdef"), 4u);
  std::size_t written = 99;
  EXPECT_EQ(tool->Write(Bytes("ef"), Clock::now() + 20ms, written), Wait::kTimedOut);
  EXPECT_EQ(written, 0u);

  std::thread reader([&box] {
    std::this_thread::sleep_for(20ms);
    std::uint8_t two[2];
    box->Read(two);
  });
  EXPECT_EQ(tool->Write(Bytes("ef"), Clock::now() + 5s, written), Wait::kReady);
  reader.join();
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(ReadAll(*box), "cdef");
}

TEST(MemoryLineTest, AHangUpLetsThePeerReadWhatCameBeforeItThenEndsEveryWait) {
  auto [tool, box] = OpenMemoryLine();
  WriteNow(*box, "last words");
  box->Close();
  EXPECT_TRUE(tool->PeerClosed());
  EXPECT_EQ(tool->WaitReadable(Clock::time_point::max()), Wait::kReady);
  EXPECT_EQ(ReadAll(*tool), "last words");
  EXPECT_EQ(tool->WaitReadable(Clock::time_point::max()), Wait::kClosed);
  EXPECT_EQ(tool->WaitArrival(tool->Arrived(), Clock::time_point::max()), Wait::kClosed);
  std::size_t written = 0;
  EXPECT_EQ(tool->Write(Bytes("x"), Clock::time_point::max(), written), Wait::kClosed);
  EXPECT_EQ(box->WaitReadable(Clock::time_point::max()), Wait::kClosed);
}

TEST(MemoryLineTest, AHangUpWakesAPeerWaitingToReadOrToWrite) {
  auto [tool, box] = OpenMemoryLine(1);
  WriteNow(*tool, "x");
  Wait read_result = Wait::kReady;
  Wait write_result = Wait::kReady;
  std::thread reader([&] { read_result = tool->WaitReadable(Clock::time_point::max()); });
  std::thread writer([&] {
    std::size_t written = 0;
    write_result = tool->Write(Bytes("y"), Clock::time_point::max(), written);
  });
  std::this_thread::sleep_for(20ms);
  box->Close();
  reader.join();
  writer.join();
  EXPECT_EQ(read_result, Wait::kClosed);
  EXPECT_EQ(write_result, Wait::kClosed);
}

TEST(MemoryLineTest, AStopFlagEndsEachKindOfWaitOnceTheEndIsWoken) {
  auto [tool, box] = OpenMemoryLine(1);
  WriteNow(*box, "z");  // the box's direction is full
  std::atomic<bool> stop{false};
  Wait results[4] = {};
  std::vector<std::thread> waiters;
  waiters.emplace_back([&] { results[0] = box->WaitReadable(Clock::time_point::max(), &stop); });
  waiters.emplace_back([&] { results[1] = box->WaitArrival(0, Clock::time_point::max(), &stop); });
  waiters.emplace_back([&] {
    std::size_t written = 0;
    results[2] = box->Write(Bytes("w"), Clock::time_point::max(), written, &stop);
  });
  waiters.emplace_back([&] { results[3] = box->SleepUntil(Clock::time_point::max(), stop); });
  std::this_thread::sleep_for(20ms);
  stop = true;
  box->Wake();
  for (auto& waiter : waiters) waiter.join();
  for (const Wait result : results) EXPECT_EQ(result, Wait::kStopped);
  // The line itself is untouched by a stop.
  EXPECT_FALSE(tool->PeerClosed());
  EXPECT_EQ(ReadAll(*tool), "z");
}

TEST(MemoryLineTest, WaitArrivalReportsOnlyBytesNewerThanTheCountSeen) {
  auto [tool, box] = OpenMemoryLine();
  WriteNow(*box, "ab");
  const std::uint64_t seen = tool->Arrived();
  // Bytes left waiting are no news.
  EXPECT_EQ(tool->WaitArrival(seen, Clock::now() + 5ms), Wait::kTimedOut);
  std::thread writer([&box] {
    std::this_thread::sleep_for(10ms);
    WriteNow(*box, "c");
  });
  EXPECT_EQ(tool->WaitArrival(seen, Clock::now() + 5s), Wait::kReady);
  writer.join();
  EXPECT_EQ(ReadAll(*tool), "abc");
}

TEST(MemoryLineTest, AnEndLetGoOfHangsUp) {
  auto [tool, box] = OpenMemoryLine();
  box.reset();
  EXPECT_TRUE(tool->PeerClosed());
  EXPECT_EQ(tool->WaitReadable(Clock::time_point::max()), Wait::kClosed);
}

}  // namespace
}  // namespace stbup
