#include "cli/signal_watch.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace stbup {

SignalWatch::SignalWatch() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

SignalWatch::~SignalWatch() {
  if (fd_ >= 0) ::close(fd_);
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool SignalWatch::Raised() {
  signalfd_siginfo info{};
  return fd_ >= 0 && ::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

}  // namespace stbup
