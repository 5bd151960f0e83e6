#include "sim/memory_box_channel.h"

namespace stbup {

std::size_t MemoryBoxChannel::Read(std::span<std::uint8_t> out, SimClock::time_point deadline) {
  for (;;) {
    switch (end_->WaitReadable(deadline, &stop_)) {
      case MemoryLineEnd::Wait::kStopped:
        throw SimulatorStopped();
      case MemoryLineEnd::Wait::kClosed:
        throw LineClosed("the tool closed its end of the line");
      case MemoryLineEnd::Wait::kTimedOut:
        return 0;
      case MemoryLineEnd::Wait::kReady:
        if (const std::size_t n = end_->Read(out); n > 0) return n;
        break;  // taken by no one else, but looked at again all the same
    }
  }
}

std::size_t MemoryBoxChannel::Write(std::span<const std::uint8_t> bytes,
                                    SimClock::time_point deadline) {
  std::size_t written = 0;
  switch (end_->Write(bytes, deadline, written, &stop_)) {
    case MemoryLineEnd::Wait::kStopped:
      throw SimulatorStopped();
    case MemoryLineEnd::Wait::kClosed:
      throw LineClosed("hang-up on write");
    case MemoryLineEnd::Wait::kTimedOut:
      throw LineClosed("the tool stopped reading");
    case MemoryLineEnd::Wait::kReady:
      break;
  }
  return written;
}

void MemoryBoxChannel::PauseUntil(SimClock::time_point until) {
  if (end_->SleepUntil(until, stop_) == MemoryLineEnd::Wait::kStopped) throw SimulatorStopped();
}

void MemoryBoxChannel::Stop() noexcept {
  stop_.store(true);
  end_->Wake();
}

}  // namespace stbup
