#pragma once

#include <string>
#include <thread>
#include <vector>

#include "sim/box_channel.h"

namespace stbup {

// Nothing ever comes from the tool; every write is taken whole and timed.
class TimedChannel : public BoxChannel {
 public:
  struct Piece {
    std::string bytes;
    SimClock::time_point at;
  };
  std::size_t Read(std::span<std::uint8_t>, SimClock::time_point deadline) override {
    std::this_thread::sleep_until(deadline);
    return 0;
  }
  std::size_t Write(std::span<const std::uint8_t> bytes, SimClock::time_point) override {
    pieces.push_back({std::string(bytes.begin(), bytes.end()), SimClock::now()});
    return bytes.size();
  }
  void PauseUntil(SimClock::time_point until) override { std::this_thread::sleep_until(until); }
  void Stop() noexcept override {}
  void HangUp() override {}

  std::vector<Piece> pieces;
};

}  // namespace stbup
