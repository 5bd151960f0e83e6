#include <signal.h>

#include "records/signal_free_thread.h"

namespace stbup {

std::thread StartSignalFreeThread(std::function<void()> body) {
  // A new thread inherits the creating thread's mask.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  std::thread thread(std::move(body));
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

}  // namespace stbup
