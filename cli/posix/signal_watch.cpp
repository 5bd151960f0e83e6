#include "cli/signal_watch.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace stbup {

struct SignalWatch::Saved {
  sigset_t set{};
  sigset_t previous{};
};

SignalWatch::SignalWatch() : saved_(std::make_unique<Saved>()) {
  sigemptyset(&saved_->set);
  sigaddset(&saved_->set, SIGINT);
  sigaddset(&saved_->set, SIGTERM);
  sigaddset(&saved_->set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &saved_->set, &saved_->previous);
  fd_ = ::signalfd(-1, &saved_->set, SFD_NONBLOCK | SFD_CLOEXEC);
}

SignalWatch::~SignalWatch() {
  if (fd_ >= 0) ::close(static_cast<int>(fd_));
  pthread_sigmask(SIG_SETMASK, &saved_->previous, nullptr);
}

bool SignalWatch::Raised() {
  signalfd_siginfo info{};
  if (fd_ < 0 ||
      ::read(static_cast<int>(fd_), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
    return false;
  }
  urgent_ = info.ssi_signo != SIGINT;
  return true;
}

void KeepInterruptionsFromThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string_view EndAtOnceWords() { return "SIGTERM and SIGHUP"; }

}  // namespace stbup
