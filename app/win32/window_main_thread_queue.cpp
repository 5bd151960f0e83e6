#include "app/win32/window_main_thread_queue.h"

#include <atomic>
#include <exception>

#include "loop/hand_over_watch.h"

namespace stbup {

namespace {

constexpr wchar_t kWindowClass[] = L"StbupMainThreadQueue";

}  // namespace

struct WindowMainThreadQueue::Call {
  const std::function<void()>* function = nullptr;
  std::exception_ptr failure;
  // Set under the queue's lock once the call has ended; the worker may go.
  std::atomic<bool> settled{false};
};

WindowMainThreadQueue::WindowMainThreadQueue()
    : thread_id_(::GetCurrentThreadId()), watch_hand_over_(RunsOnSeveralCpus()) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!::GetClassInfoExW(instance, kWindowClass, &existing)) {
    WNDCLASSEXW queue_class{};
    queue_class.cbSize = sizeof queue_class;
    queue_class.lpfnWndProc = &WindowMainThreadQueue::WindowProc;
    queue_class.hInstance = instance;
    queue_class.lpszClassName = kWindowClass;
    ::RegisterClassExW(&queue_class);
  }
  window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                              nullptr);
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WindowMainThreadQueue::~WindowMainThreadQueue() {
  Shutdown();
  ::DestroyWindow(window_);
}

void WindowMainThreadQueue::RunOnMainThread(const std::function<void()>& call) {
  if (::GetCurrentThreadId() == thread_id_) {
    // A call posted to the own thread would wait for itself.
    if (!closed_) call();
    return;
  }
  Call entry;
  entry.function = &call;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (!::PostMessageW(window_, kRunMessage, 0, reinterpret_cast<LPARAM>(&entry))) return;
  }
  AwaitSettled(entry.settled, watch_hand_over_, mutex_, done_);
  if (entry.failure) std::rethrow_exception(entry.failure);
}

void WindowMainThreadQueue::Run(Call& call) {
  // closed_ changes only on this thread, so reading it here is safe.
  if (!closed_) {
    try {
      (*call.function)();
    } catch (...) {
      call.failure = std::current_exception();
    }
  }
  {
    std::lock_guard lock(mutex_);
    call.settled.store(true, std::memory_order_release);
  }
  done_.notify_all();
}

void WindowMainThreadQueue::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  // Calls already posted are delivered now; closed, they only let their
  // workers go. A worker that comes later finds the queue closed.
  MSG message;
  while (::PeekMessageW(&message, window_, kRunMessage, kRunMessage, PM_REMOVE)) {
    Run(*reinterpret_cast<Call*>(message.lParam));
  }
}

LRESULT CALLBACK WindowMainThreadQueue::WindowProc(HWND window, UINT message, WPARAM wparam,
                                                   LPARAM lparam) {
  if (message == kRunMessage) {
    auto* self =
        reinterpret_cast<WindowMainThreadQueue*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) self->Run(*reinterpret_cast<Call*>(lparam));
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace stbup
