#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace stbup {

// An interruption of the command as something the loop watches. Linux: SIGINT,
// SIGTERM and SIGHUP as a signalfd, blocked in every thread (the serial threads
// inherit the mask) for the life of the watch (cli/posix/). Windows: Ctrl-C,
// Ctrl-Break and the console window closing, as an event a console control
// handler sets (cli/win32/).
class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // What EventLoop::WatchReadable takes: the descriptor, or the event's
  // HANDLE; negative when the watch could not be set up.
  std::intptr_t Fd() const { return fd_; }
  // Takes one pending interruption; false when none was pending.
  bool Raised();
  // The interruption last taken was not the operator's Ctrl-C but the
  // terminal going away (SIGHUP) or a request to end (SIGTERM): nothing is
  // left to finish for.
  bool Urgent() const { return urgent_; }

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;  // what the watch replaced, restored at its end
  std::intptr_t fd_ = -1;
  bool urgent_ = false;
};

// For a thread started before a watch exists that must not take the watch's
// interruptions (the demo's simulated box): on Linux SIGINT and SIGTERM are
// blocked in the calling thread, else one arriving there would end the
// process at once. On Windows the console's handler runs on a thread of its
// own: nothing to do.
void KeepInterruptionsFromThisThread();

// What ends a command at once, as the operator's help names it: "SIGTERM and
// SIGHUP" on Linux, Ctrl-Break and the console closing on Windows.
std::string_view EndAtOnceWords();

}  // namespace stbup
