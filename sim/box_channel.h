#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace stbup {

using SimClock = std::chrono::steady_clock;

// The tool's end of the line went away (EOF, EIO, POLLHUP) or stalled a write.
class LineClosed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Someone asked the simulator to stop.
class SimulatorStopped : public std::runtime_error {
 public:
  SimulatorStopped() : std::runtime_error("stopped") {}
};

// The wire under the box's UART: raw reads and writes with deadlines, and a
// stop that ends every wait. A pseudo-terminal's descriptor on Linux
// (sim/posix/fd_box_channel.h), or the box's end of an in-memory line
// (sim/memory_box_channel.h). Every call but Stop comes from the box's thread.
class BoxChannel {
 public:
  virtual ~BoxChannel() = default;

  // Some bytes into out (at least one), or 0 when the deadline passed first.
  // Throws LineClosed when the tool's end has gone, SimulatorStopped once
  // stopped.
  virtual std::size_t Read(std::span<std::uint8_t> out, SimClock::time_point deadline) = 0;
  // Some of bytes (at least one) taken by the line, waiting for room until
  // the deadline; throws LineClosed when the tool's end has gone or has
  // taken nothing by the deadline, SimulatorStopped once stopped.
  virtual std::size_t Write(std::span<const std::uint8_t> bytes, SimClock::time_point deadline) = 0;
  // Waits until the time point; throws SimulatorStopped once stopped.
  virtual void PauseUntil(SimClock::time_point until) = 0;
  // Ends every wait, now and later, with SimulatorStopped. From any thread;
  // the descriptor's channel also from a signal handler.
  virtual void Stop() noexcept = 0;
  // The hang-up fault: the box's end closes now.
  virtual void HangUp() = 0;
};

}  // namespace stbup
