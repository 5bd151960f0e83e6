#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

namespace stbup {

// A serial line inside one process: two ends, each reading what the other
// writes through a bounded buffer per direction. Either end closing is a
// hang-up the other sees: what was written before it can still be read, then
// reads end; writes towards a closed end fail at once. Every end may be used
// from several threads; each wait also ends when the caller's own stop flag
// is set and the end woken.
class MemoryLineEnd {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Wait { kReady, kTimedOut, kClosed, kStopped };

  struct Shared;
  MemoryLineEnd(std::shared_ptr<Shared> shared, int side);
  ~MemoryLineEnd();  // closes this end
  MemoryLineEnd(const MemoryLineEnd&) = delete;
  MemoryLineEnd& operator=(const MemoryLineEnd&) = delete;

  // Until a byte is waiting (kReady), the other end has closed and every
  // byte it wrote has been read (kClosed; also when this end is closed), the
  // deadline (kTimedOut) or *stop (kStopped).
  Wait WaitReadable(Clock::time_point deadline, const std::atomic<bool>* stop = nullptr);
  // Until the arrival count differs from seen (kReady), or as above. A reader
  // that leaves bytes waiting is not woken again for them.
  Wait WaitArrival(std::uint64_t seen, Clock::time_point deadline,
                   const std::atomic<bool>* stop = nullptr);
  // Takes up to out.size() waiting bytes without waiting.
  std::size_t Read(std::span<std::uint8_t> out);
  std::size_t Waiting() const;
  // Every byte that has arrived at this end so far.
  std::uint64_t Arrived() const;

  // Puts as many bytes as there is room for, waiting for room until the
  // deadline; kReady with written > 0, or kClosed, kTimedOut, kStopped with
  // written 0.
  Wait Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline, std::size_t& written,
             const std::atomic<bool>* stop = nullptr);

  // Sleeps until the time point (kTimedOut) or *stop (kStopped).
  Wait SleepUntil(Clock::time_point until, const std::atomic<bool>& stop);

  // Hangs up this end; idempotent.
  void Close();
  bool Closed() const;
  // The other end has hung up.
  bool PeerClosed() const;
  // Wakes every wait on this end, so that each looks at its stop flag again.
  void Wake();

 private:
  std::shared_ptr<Shared> shared_;
  int side_;
};

// A fresh line: the first end is the tool's, the second the box's (the names
// only tell them apart). capacity: bytes buffered in each direction.
std::pair<std::shared_ptr<MemoryLineEnd>, std::shared_ptr<MemoryLineEnd>> OpenMemoryLine(
    std::size_t capacity = 64 * 1024);

}  // namespace stbup
