#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace stbup {

// A Linux thread begins at the priority of the thread that starts it. A front
// end that lowers its own thread's priority (the window, so that its painting
// never keeps a box waiting) makes one of these first: while it lives, the
// port's threads are started from its thread, at the priority the process
// began with. Without one they start where they are asked for.
class LineThreadStarter {
 public:
  LineThreadStarter();
  ~LineThreadStarter();
  LineThreadStarter(const LineThreadStarter&) = delete;
  LineThreadStarter& operator=(const LineThreadStarter&) = delete;

  struct Queue;

 private:
  std::shared_ptr<Queue> queue_;
  std::thread thread_;
};

// Runs body on a detached thread of its own, started by the LineThreadStarter
// made last while it lives, else by this thread. Throws std::system_error, as
// std::thread does, when no thread can be made.
void StartLineThread(std::function<void()> body);

}  // namespace stbup
