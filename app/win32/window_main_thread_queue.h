#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/win32/windows_api.h"
#include "seams/main_thread_queue.h"

namespace stbup {

// The serial link's calls run on the user-interface thread through its
// message queue: a worker posts the call to a message-only window of that
// thread and blocks until it has run. Every message loop of the thread
// dispatches it, so the calls keep running inside a modal box or the open
// dialog. Shutdown releases any worker still waiting, so the link's threads
// can be stopped after the message loop has ended.
class WindowMainThreadQueue : public MainThreadQueue {
 public:
  // Construct on the user-interface thread.
  WindowMainThreadQueue();
  ~WindowMainThreadQueue() override;
  WindowMainThreadQueue(const WindowMainThreadQueue&) = delete;
  WindowMainThreadQueue& operator=(const WindowMainThreadQueue&) = delete;

  void RunOnMainThread(const std::function<void()>& call) override;

  // From now on calls are dropped: a waiting worker returns without its call
  // having run, and new calls return at once. Run on the user-interface thread.
  void Shutdown();

 private:
  struct Call;
  static constexpr UINT kRunMessage = WM_APP + 1;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Run(Call& call);

  DWORD thread_id_;
  // Whether a worker watches for its call's end before it sleeps
  // (loop/hand_over_watch.h).
  const bool watch_hand_over_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::condition_variable done_;
  bool closed_ = false;
};

}  // namespace stbup
