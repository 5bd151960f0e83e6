#include "app/win32/window_main_thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string_view>
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
  // The box is this thread's dialog window: it is pressed OK (a title search
  // or WM_CLOSE does not always reach it under Wine), and again at every tick
  // until the box is gone.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (!*seen) return;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
          wchar_t name[16] = {};
          ::GetClassNameW(window, name, 16);
          if (std::wstring_view(name) == L"#32770") ::PostMessageW(window, WM_COMMAND, IDOK, 0);
          return TRUE;
        },
        0);
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
