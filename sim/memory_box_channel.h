#pragma once

#include <atomic>
#include <memory>

#include "seams/memory_line.h"
#include "sim/box_channel.h"

namespace stbup {

// The box's end of an in-memory line (the demo, where there is no
// pseudo-terminal). Its stop is a flag and a wake-up of the line: safe from
// any thread, though not from a signal handler.
class MemoryBoxChannel : public BoxChannel {
 public:
  explicit MemoryBoxChannel(std::shared_ptr<MemoryLineEnd> end) : end_(std::move(end)) {}

  std::size_t Read(std::span<std::uint8_t> out, SimClock::time_point deadline) override;
  std::size_t Write(std::span<const std::uint8_t> bytes, SimClock::time_point deadline) override;
  void PauseUntil(SimClock::time_point until) override;
  void Stop() noexcept override;
  void HangUp() override { end_->Close(); }

 private:
  std::shared_ptr<MemoryLineEnd> end_;
  std::atomic<bool> stop_{false};
};

}  // namespace stbup
