#pragma once

#include "sim/box_channel.h"

namespace stbup {

// The box's end as a descriptor (a pseudo-terminal's master), made
// non-blocking; poll(2) waits on it and on an eventfd of the channel's own,
// which Stop writes once, so that a signal handler may stop the box. The
// descriptor stays the caller's; HangUp closes it.
class FdBoxChannel : public BoxChannel {
 public:
  explicit FdBoxChannel(int fd);  // throws std::runtime_error without an eventfd
  ~FdBoxChannel() override;
  FdBoxChannel(const FdBoxChannel&) = delete;
  FdBoxChannel& operator=(const FdBoxChannel&) = delete;

  std::size_t Read(std::span<std::uint8_t> out, SimClock::time_point deadline) override;
  std::size_t Write(std::span<const std::uint8_t> bytes, SimClock::time_point deadline) override;
  void PauseUntil(SimClock::time_point until) override;
  void Stop() noexcept override;
  void HangUp() override;

 private:
  void WaitWritable(SimClock::time_point deadline);

  int fd_;
  int stop_fd_ = -1;
};

}  // namespace stbup
