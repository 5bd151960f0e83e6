#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include <QObject>

#include "seams/main_thread_queue.h"

namespace stbup {

class GuiTurn;

// The serial link's calls run as the user-interface thread's. A worker that
// finds that thread's turn free (it waits for events) runs its call itself,
// in the turn; otherwise the call is posted through Qt's queued invocation
// and the worker waits for its end (watching briefly first,
// loop/hand_over_watch.h); the event loop of a modal box serves them too.
// Shutdown releases any worker still waiting, so the link's threads can be
// stopped after the message loop has ended.
class QtMainThreadQueue : public MainThreadQueue {
 public:
  // Construct on the user-interface thread. turn: the thread's turn, for
  // calls run by their workers; none to post every call.
  explicit QtMainThreadQueue(GuiTurn* turn = nullptr);
  ~QtMainThreadQueue() override;

  void RunOnMainThread(const std::function<void()>& call) override;

  // From now on calls are dropped: a waiting worker returns without its call
  // having run, and new calls return at once. Run on the user-interface thread.
  void Shutdown();

 private:
  struct Call;
  struct Release;
  // The posted call has ended, run or dropped: its worker may go.
  void Finish(Call& call);

  GuiTurn* const turn_;
  const bool watch_hand_over_;
  QObject context_;
  std::mutex mutex_;
  // A call finished or a worker left.
  std::condition_variable changed_;
  int in_flight_ = 0;
  bool closed_ = false;
};

}  // namespace stbup
