#include "sim/box_line.h"

#include <algorithm>
#include <cstring>

namespace stbup {
namespace {

constexpr std::size_t kReadChunk = 16384;
// Pieces of a paced line; small enough that the reader sees a steady stream.
constexpr std::size_t kPacedPiece = 64;
// A write the tool does not drain for this long means it has stopped reading.
constexpr auto kWriteStall = std::chrono::seconds(10);
// Gap between chunked pieces, so that the reader really sees them one by one.
constexpr auto kChunkGap = std::chrono::microseconds(100);

}  // namespace

BoxLine::BoxLine(BoxChannel& channel, LinePacing pacing)
    : channel_(channel), pacing_(pacing), random_(pacing.seed), line_now_(SimClock::now()) {
  buffer_.reserve(kReadChunk);
}

SimClock::duration BoxLine::ByteTime(std::size_t count) const {
  if (pacing_.baud <= 0) return SimClock::duration::zero();
  return std::chrono::duration_cast<SimClock::duration>(
      std::chrono::nanoseconds(static_cast<long long>(count) * 10'000'000'000LL / pacing_.baud));
}

void BoxLine::PauseUntil(SimClock::time_point until) {
  SendJoined();
  if (!held_.empty() && held_until_ < until) {
    channel_.PauseUntil(held_until_);
    ReleaseDue();
  }
  if (until <= line_now_) return;
  if (SimClock::now() < until) channel_.PauseUntil(until);
  // The system wakes the box late: the line goes on from the moment asked
  // for, or each late wake-up would lengthen it.
  line_now_ = until;
}

bool BoxLine::ReleaseDue() {
  if (held_.empty() || SimClock::now() < held_until_) return false;
  FlushHeld();
  return true;
}

void BoxLine::FlushHeld() {
  if (held_.empty()) {
    SendJoined();
    return;
  }
  const std::vector<std::uint8_t> out = std::move(held_);
  held_.clear();
  WritePiece(out.data(), out.size());
}

void BoxLine::Hold(std::span<const std::uint8_t> bytes) {
  if (held_.empty()) {
    held_until_ = SimClock::now() + std::chrono::milliseconds(pacing_.adapter_latency_ms);
  }
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  while (held_.size() >= kAdapterPacket) {
    const std::vector<std::uint8_t> packet(held_.begin(), held_.begin() + kAdapterPacket);
    held_.erase(held_.begin(), held_.begin() + kAdapterPacket);
    WritePiece(packet.data(), packet.size());
    // The timer starts again with the next packet.
    held_until_ = SimClock::now() + std::chrono::milliseconds(pacing_.adapter_latency_ms);
  }
}

bool BoxLine::Fill(SimClock::time_point deadline) {
  SendJoined();
  if (read_pos_ == buffer_.size()) {
    buffer_.clear();
    read_pos_ = 0;
  }
  const std::size_t old = buffer_.size();
  buffer_.resize(old + kReadChunk);
  std::size_t n = 0;
  const auto waiting_since = SimClock::now();
  try {
    for (;;) {
      ReleaseDue();
      // While the adapter holds bytes, the wait ends when they are due.
      const bool holding = !held_.empty() && held_until_ < deadline;
      n = channel_.Read(std::span<std::uint8_t>(buffer_.data() + old, kReadChunk),
                        holding ? held_until_ : deadline);
      if (n > 0 || !holding) break;
    }
  } catch (...) {
    buffer_.resize(old);
    throw;
  }
  buffer_.resize(old + n);
  // Waiting for the tool is the line's time; the box's own work is not (a
  // loader answers at once, and the simulator's pace is not the tool's).
  line_now_ += SimClock::now() - waiting_since;
  if (n == 0) return false;
  received_ += n;
  if (pacing_.baud > 0) {
    // The bytes are only there once the line has had time to carry them.
    rx_clock_ = std::max(rx_clock_, line_now_) + ByteTime(n);
    PauseUntil(rx_clock_);
  }
  return true;
}

bool BoxLine::ReadByte(SimClock::time_point deadline, std::uint8_t& out) {
  if (read_pos_ == buffer_.size() && !Fill(deadline)) return false;
  out = buffer_[read_pos_++];
  return true;
}

bool BoxLine::PeekByte(SimClock::time_point deadline, std::uint8_t& out) {
  if (read_pos_ == buffer_.size() && !Fill(deadline)) return false;
  out = buffer_[read_pos_];
  return true;
}

bool BoxLine::ReadExact(std::span<std::uint8_t> out, SimClock::time_point deadline) {
  std::size_t done = 0;
  while (done < out.size()) {
    if (read_pos_ == buffer_.size() && !Fill(deadline)) return false;
    const std::size_t take = std::min(out.size() - done, buffer_.size() - read_pos_);
    std::memcpy(out.data() + done, buffer_.data() + read_pos_, take);
    read_pos_ += take;
    done += take;
  }
  return true;
}

bool BoxLine::MoreWithin(std::chrono::microseconds grace) {
  if (read_pos_ < buffer_.size()) return true;
  return Fill(SimClock::now() + grace);
}

void BoxLine::DiscardUntil(SimClock::time_point deadline) {
  read_pos_ = buffer_.size();
  while (Fill(deadline)) read_pos_ = buffer_.size();
}

void BoxLine::WritePiece(const std::uint8_t* data, std::size_t size) {
  if (joining_ || !joined_.empty()) {
    joined_.insert(joined_.end(), data, data + size);
    if (!joining_) SendJoined();
    return;
  }
  Send(data, size);
}

void BoxLine::SendJoined() {
  if (joined_.empty()) return;
  const std::vector<std::uint8_t> out = std::move(joined_);
  joined_.clear();
  Send(out.data(), out.size());
}

void BoxLine::Send(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t n =
        channel_.Write(std::span<const std::uint8_t>(data, size), SimClock::now() + kWriteStall);
    data += n;
    size -= n;
    sent_ += n;
  }
}

void BoxLine::Write(std::string_view bytes) {
  Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      bytes.size()));
}

void BoxLine::WriteWithNext(std::string_view bytes) {
  joining_ = true;
  try {
    Write(bytes);
  } catch (...) {
    joining_ = false;
    throw;
  }
  joining_ = false;
}

void BoxLine::Write(std::span<const std::uint8_t> bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t piece = bytes.size() - pos;
    if (pacing_.chunked) {
      piece =
          std::min<std::size_t>(piece, std::uniform_int_distribution<std::size_t>(1, 7)(random_));
    }
    if (pacing_.baud > 0) {
      // A piece reaches the far end when its last byte has crossed the line,
      // so that the tool's answer starts from there.
      piece = std::min(piece, kPacedPiece);
      tx_clock_ = std::max(tx_clock_, line_now_) + ByteTime(piece);
      PauseUntil(tx_clock_);
    }
    // Through an adapter, each piece reaches it as it leaves the box's UART.
    if (pacing_.adapter_latency_ms > 0) {
      Hold(bytes.subspan(pos, piece));
    } else {
      WritePiece(bytes.data() + pos, piece);
    }
    pos += piece;
    if (pacing_.chunked && pos < bytes.size()) PauseUntil(SimClock::now() + kChunkGap);
  }
}

}  // namespace stbup
