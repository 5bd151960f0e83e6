#pragma once

#include <functional>

namespace stbup {

// The serial link's worker threads run a call as the main thread's and block
// until it has run: alone with everything the main thread does, and seeing
// all it did before. The windows run it on the main thread itself, posted to
// their message loops; the command line's own event loop also lets a caller
// run it on its own thread while the main thread waits idle, holding the
// main thread off meanwhile. The main thread keeps running queued calls in
// modal loops.
class MainThreadQueue {
 public:
  virtual ~MainThreadQueue() = default;
  // Returns when call has run as the main thread's; an exception escaping
  // the call is rethrown here, on the waiting thread.
  virtual void RunOnMainThread(const std::function<void()>& call) = 0;
};

}  // namespace stbup
