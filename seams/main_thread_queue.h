#pragma once

#include <functional>

namespace stbup {

// The serial link's worker threads run a call as the main thread's and block
// until it has run: alone with everything the main thread does, and seeing
// all it did before. The Windows window runs it on the main thread itself,
// posted to its message loop; the command line's event loop and the Qt
// window's loop also let a caller run it on its own thread while the main
// thread waits idle, holding the main thread off meanwhile (the Qt window
// then hands what it shows to the main thread, which owns the widgets). The
// main thread keeps running queued calls in modal loops.
class MainThreadQueue {
 public:
  virtual ~MainThreadQueue() = default;
  // Returns when call has run as the main thread's; an exception escaping
  // the call is rethrown here, on the waiting thread.
  virtual void RunOnMainThread(const std::function<void()>& call) = 0;
};

}  // namespace stbup
