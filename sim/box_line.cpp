#include "sim/box_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace stbup {
namespace {

constexpr std::size_t kReadChunk = 16384;
// Pieces of a paced line; small enough that the reader sees a steady stream.
constexpr std::size_t kPacedPiece = 64;
// A write the tool does not drain for this long means it has stopped reading.
constexpr auto kWriteStall = std::chrono::seconds(10);
// Gap between chunked pieces, so that the reader really sees them one by one.
constexpr auto kChunkGap = std::chrono::microseconds(100);

int PollTimeout(SimClock::time_point deadline) {
  if (deadline == SimClock::time_point::max()) return -1;
  const auto left = deadline - SimClock::now();
  if (left <= SimClock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

}  // namespace

BoxLine::BoxLine(int fd, int stop_fd, LinePacing pacing)
    : fd_(fd), stop_fd_(stop_fd), pacing_(pacing), random_(pacing.seed) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  buffer_.reserve(kReadChunk);
}

SimClock::duration BoxLine::ByteTime(std::size_t count) const {
  if (pacing_.baud <= 0) return SimClock::duration::zero();
  return std::chrono::duration_cast<SimClock::duration>(
      std::chrono::nanoseconds(static_cast<long long>(count) * 10'000'000'000LL / pacing_.baud));
}

void BoxLine::PauseUntil(SimClock::time_point until) {
  for (;;) {
    const auto left = until - SimClock::now();
    if (left <= SimClock::duration::zero()) return;
    if (left >= std::chrono::milliseconds(1)) {
      pollfd p{stop_fd_, POLLIN, 0};
      const auto ms = std::chrono::floor<std::chrono::milliseconds>(left).count();
      if (::poll(&p, 1, static_cast<int>(std::min<long long>(ms, 1 << 30))) > 0) {
        throw SimulatorStopped();
      }
    } else {
      // poll cannot wait finer than a millisecond; a paced line needs it.
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timespec ts{0, static_cast<long>(ns)};
      ::nanosleep(&ts, nullptr);
    }
  }
}

bool BoxLine::Fill(SimClock::time_point deadline) {
  for (;;) {
    pollfd polls[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int r = ::poll(polls, 2, PollTimeout(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw LineClosed(std::string("poll: ") + std::strerror(errno));
    }
    if (polls[1].revents & POLLIN) throw SimulatorStopped();
    if (r == 0) return false;
    if (polls[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (read_pos_ == buffer_.size()) {
        buffer_.clear();
        read_pos_ = 0;
      }
      const std::size_t old = buffer_.size();
      buffer_.resize(old + kReadChunk);
      const ssize_t n = ::read(fd_, buffer_.data() + old, kReadChunk);
      if (n > 0) {
        buffer_.resize(old + static_cast<std::size_t>(n));
        received_ += static_cast<std::uint64_t>(n);
        if (pacing_.baud > 0) {
          // The bytes are only there once the line has had time to carry them.
          rx_clock_ = std::max(rx_clock_, SimClock::now()) + ByteTime(static_cast<std::size_t>(n));
          PauseUntil(rx_clock_);
        }
        return true;
      }
      buffer_.resize(old);
      if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(polls[0].revents & POLLHUP)) continue;
      throw LineClosed(n == 0 ? "end of file" : std::string("read: ") + std::strerror(errno));
    }
    if (polls[0].revents & POLLNVAL) throw LineClosed("descriptor closed");
  }
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

void BoxLine::WaitWritable() {
  const auto deadline = SimClock::now() + kWriteStall;
  for (;;) {
    pollfd polls[2] = {{fd_, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
    const int r = ::poll(polls, 2, PollTimeout(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw LineClosed(std::string("poll: ") + std::strerror(errno));
    }
    if (polls[1].revents & POLLIN) throw SimulatorStopped();
    if (r == 0) throw LineClosed("the tool stopped reading");
    if (polls[0].revents & (POLLHUP | POLLERR | POLLNVAL)) throw LineClosed("hang-up on write");
    if (polls[0].revents & POLLOUT) return;
  }
}

void BoxLine::WritePiece(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      sent_ += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      WaitWritable();
      continue;
    }
    throw LineClosed(std::string("write: ") + std::strerror(errno));
  }
}

void BoxLine::Write(std::string_view bytes) {
  Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      bytes.size()));
}

void BoxLine::Write(std::span<const std::uint8_t> bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t piece = bytes.size() - pos;
    if (pacing_.chunked) {
      piece =
          std::min<std::size_t>(piece, std::uniform_int_distribution<std::size_t>(1, 7)(random_));
    }
    if (pacing_.baud > 0) piece = std::min(piece, kPacedPiece);
    if (pacing_.baud > 0) PauseUntil(tx_clock_);
    WritePiece(bytes.data() + pos, piece);
    pos += piece;
    if (pacing_.baud > 0) tx_clock_ = std::max(tx_clock_, SimClock::now()) + ByteTime(piece);
    if (pacing_.chunked && pos < bytes.size()) PauseUntil(SimClock::now() + kChunkGap);
  }
  if (pacing_.baud > 0) PauseUntil(tx_clock_);
}

}  // namespace stbup
