#pragma once

#include <functional>

namespace stbup {

// The serial link's worker threads run a call on the main thread and block
// until it has run. Qt: a blocking queued invocation; the command line: its
// own event loop. The main thread keeps running queued calls in modal loops.
class MainThreadQueue {
 public:
  virtual ~MainThreadQueue() = default;
  // Returns when call has run on the main thread; an exception escaping the
  // call is rethrown here, on the waiting thread.
  virtual void RunOnMainThread(const std::function<void()>& call) = 0;
};

}  // namespace stbup
