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
  // A USB adapter between box and tool: what the box sends is held until
  // kAdapterPacket bytes have gathered or this many milliseconds have passed
  // since the first of them came; 0 = no adapter.
  int adapter_latency_ms = 0;
};

// The payload of one full USB packet of a common adapter chip.
inline constexpr std::size_t kAdapterPacket = 62;

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

  // One message of the box; on a paced line each piece leaves once the line
  // would have carried it.
  void Write(std::string_view bytes);
  void Write(std::span<const std::uint8_t> bytes);
  // The same, but the bytes leave with the box's next write, or before it
  // next waits or reads: on a fast line a reply the box follows at once with
  // its next message then costs both ends one wake-up fewer. The line's
  // timing is the same as with Write.
  void WriteWithNext(std::string_view bytes);

  // Waits (interruptibly) until the time point; a plain pause of the box.
  // Bytes an adapter holds leave when their time comes meanwhile.
  void PauseUntil(SimClock::time_point until);
  // What an adapter still holds, and what waits to go with the next write,
  // leaves now (the box's last words).
  void FlushHeld();

  // How long count bytes take on the paced line; zero on an unpaced one.
  SimClock::duration ByteTime(std::size_t count) const;

  std::uint64_t received_bytes() const { return received_; }
  // Every byte the box has put on the line.
  std::uint64_t sent_bytes() const { return sent_; }

 private:
  bool Fill(SimClock::time_point deadline);
  // Bytes leaving the UART (or the adapter): after what waits to go with
  // them, or into that while the box says something it follows at once.
  void WritePiece(const std::uint8_t* data, std::size_t size);
  // Hands bytes to the channel until it has taken all.
  void Send(const std::uint8_t* data, std::size_t size);
  // What waits to go with the next write leaves now.
  void SendJoined();
  // Takes bytes into the adapter; full packets leave at once.
  void Hold(std::span<const std::uint8_t> bytes);
  // Sends what is held once its time has come; true when it did.
  bool ReleaseDue();

  BoxChannel& channel_;
  LinePacing pacing_;
  std::mt19937 random_;
  std::vector<std::uint8_t> buffer_;
  std::size_t read_pos_ = 0;
  std::uint64_t received_ = 0;
  std::uint64_t sent_ = 0;
  // The line's own time: it moves on with the line's pacing, the box's
  // pauses and the waits for the tool, never with late wake-ups or the
  // simulator's own work, so that neither is charged to the tool.
  SimClock::time_point line_now_;
  SimClock::time_point rx_clock_{};
  SimClock::time_point tx_clock_{};
  std::vector<std::uint8_t> held_;     // in the adapter, not yet sent on
  std::vector<std::uint8_t> joined_;   // left the box, goes out with its next write
  bool joining_ = false;               // WritePiece keeps what it is given in joined_
  SimClock::time_point held_until_{};  // when the adapter sends it anyway
};

}  // namespace stbup
