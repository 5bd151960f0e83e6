#pragma once

#include <signal.h>

namespace stbup {

// SIGINT and SIGTERM as a descriptor the loop watches, blocked in every
// thread (the serial threads inherit the mask) for the life of the watch.
class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  int Fd() const { return fd_; }
  // Takes one pending signal; false when none was pending.
  bool Raised();

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

}  // namespace stbup
