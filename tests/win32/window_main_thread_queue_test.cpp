#include "app/win32/window_main_thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace stbup {
namespace {

// Runs the thread's messages until done is set, as any message loop does
// (the window's own, a modal box's, the open dialog's).
void PumpUntil(const std::atomic<bool>& done) {
  while (!done) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

TEST(WindowMainThreadQueue, CallRunsOnTheMainThreadAndTheWorkerWaitsForIt) {
  WindowMainThreadQueue queue;
  const DWORD main_thread = ::GetCurrentThreadId();
  DWORD ran_on = 0;
  bool ran_before_return = false;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    queue.RunOnMainThread([&] { ran_on = ::GetCurrentThreadId(); });
    ran_before_return = ran_on != 0;
    done = true;
  });
  PumpUntil(done);
  worker.join();
  EXPECT_EQ(ran_on, main_thread);
  EXPECT_TRUE(ran_before_return);
}

TEST(WindowMainThreadQueue, ErrorOfTheCallReachesTheWaitingWorker) {
  WindowMainThreadQueue queue;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      queue.RunOnMainThread([] { throw std::runtime_error("Output buffer is full"); });
    } catch (const std::runtime_error& error) {
      caught = error.what();
    }
    done = true;
  });
  PumpUntil(done);
  worker.join();
  EXPECT_EQ(caught, "Output buffer is full");
}

TEST(WindowMainThreadQueue, CallsKeepRunningInsideAModalBox) {
  WindowMainThreadQueue queue;
  std::atomic<bool> ran{false};
  std::thread worker([&] { queue.RunOnMainThread([&] { ran = true; }); });
  // A box that its own timer closes once the worker's call has run: its
  // modal loop is all that serves the queue meanwhile.
  static std::atomic<bool>* seen = nullptr;
  seen = &ran;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (!*seen) return;
    HWND box = ::FindWindowW(nullptr, L"stbup modal test");
    if (box != nullptr) ::PostMessageW(box, WM_CLOSE, 0, 0);
  });
  ::MessageBoxW(nullptr, L"waiting", L"stbup modal test", MB_OK);
  ::KillTimer(nullptr, timer);
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(WindowMainThreadQueue, ShutdownReleasesWaitingWorkersWithoutRunningTheirCalls) {
  WindowMainThreadQueue queue;
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    queue.RunOnMainThread([&] { ran = true; });
    returned = true;
  });
  // The worker has posted its call; nothing serves the queue any more.
  while (::GetQueueStatus(QS_POSTMESSAGE) == 0) ::Sleep(1);
  queue.Shutdown();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_FALSE(ran);
  // Later calls return at once.
  std::thread late([&] { queue.RunOnMainThread([&] { ran = true; }); });
  late.join();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace stbup
