#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include <QObject>

#include "seams/main_thread_queue.h"

namespace stbup {

// The serial link's calls run on the user-interface thread through Qt's
// blocking queued invocation; the event loop of a modal box serves them too.
// Shutdown releases any worker still waiting, so the link's threads can be
// stopped after the message loop has ended.
class QtMainThreadQueue : public MainThreadQueue {
 public:
  // Construct on the user-interface thread.
  QtMainThreadQueue();
  ~QtMainThreadQueue() override;

  void RunOnMainThread(const std::function<void()>& call) override;

  // From now on calls are dropped: a waiting worker returns without its call
  // having run, and new calls return at once. Run on the user-interface thread.
  void Shutdown();

 private:
  QObject context_;
  std::mutex mutex_;
  std::condition_variable idle_;
  int in_flight_ = 0;
  bool closed_ = false;
};

}  // namespace stbup
