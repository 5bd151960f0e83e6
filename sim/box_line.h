#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "sim/box_channel.h"

namespace stbup {

struct LinePacing {
  int baud = 0;          // 10 bits a byte in both directions; 0 = unpaced
  bool chunked = false;  // each message in random small writes
  std::uint32_t seed = 1;
};

// The box's UART over its channel: buffered reads with deadlines, paced or
// chunked writes; the channel's stop interrupts every wait. Not thread-safe.
class BoxLine {
 public:
  BoxLine(BoxChannel& channel, LinePacing pacing);

  // One byte, or false when the deadline passed first.
  bool ReadByte(SimClock::time_point deadline, std::uint8_t& out);
  // The next byte without taking it, or false at the deadline.
  bool PeekByte(SimClock::time_point deadline, std::uint8_t& out);
  // Exactly out.size() bytes, or false at the deadline (what arrived stays read).
  bool ReadExact(std::span<std::uint8_t> out, SimClock::time_point deadline);
  // True when a byte is buffered or arrives within the grace period.
  bool MoreWithin(std::chrono::microseconds grace);
  // Drops whatever arrives until the deadline.
  void DiscardUntil(SimClock::time_point deadline);

  // One message of the box; returns once the paced line would have sent it.
  void Write(std::string_view bytes);
  void Write(std::span<const std::uint8_t> bytes);

  // Waits (interruptibly) until the time point; a plain pause of the box.
  void PauseUntil(SimClock::time_point until);

  std::uint64_t received_bytes() const { return received_; }
  // Every byte the box has put on the line.
  std::uint64_t sent_bytes() const { return sent_; }

 private:
  bool Fill(SimClock::time_point deadline);
  void WritePiece(const std::uint8_t* data, std::size_t size);
  SimClock::duration ByteTime(std::size_t count) const;

  BoxChannel& channel_;
  LinePacing pacing_;
  std::mt19937 random_;
  std::vector<std::uint8_t> buffer_;
  std::size_t read_pos_ = 0;
  std::uint64_t received_ = 0;
  std::uint64_t sent_ = 0;
  SimClock::time_point rx_clock_{};
  SimClock::time_point tx_clock_{};
};

}  // namespace stbup
