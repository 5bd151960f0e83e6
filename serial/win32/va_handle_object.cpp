// Waitable objects on Win32 events.
#include <iterator>

#include "serial/va_comm_error.h"
#include "serial/va_handle_object.h"

#include <windows.h>

namespace stbup {

namespace {

std::intptr_t CreateManualResetEvent() {
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    RaiseCommError("Error creating event (%d), %s", static_cast<int>(::GetLastError()));
  }
  return reinterpret_cast<std::intptr_t>(event);
}

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

TVaHandleObject::~TVaHandleObject() {
  if (handle_ != 0 && handle_ != -1) ::CloseHandle(AsHandle(handle_));
}

TVaWaitResult TVaHandleObject::WaitFor(std::uint32_t ms) {
  switch (::WaitForSingleObject(AsHandle(handle_), ms == kInfinite ? INFINITE : ms)) {
    case WAIT_OBJECT_0:
      return TVaWaitResult::Signaled;
    case WAIT_TIMEOUT:
      return TVaWaitResult::TimedOut;
    case WAIT_ABANDONED:
      return TVaWaitResult::Abandoned;
    default:
      last_error_ = static_cast<int>(::GetLastError());
      return TVaWaitResult::Failed;
  }
}

int TVaHandleObject::WaitForAny(std::initializer_list<TVaHandleObject*> objects, std::uint32_t ms) {
  HANDLE handles[8] = {};
  DWORD n = 0;
  for (TVaHandleObject* object : objects) {
    if (n == std::size(handles)) break;
    handles[n++] = AsHandle(object->handle_);
  }
  const DWORD result = ::WaitForMultipleObjects(n, handles, FALSE, ms == kInfinite ? INFINITE : ms);
  if (result < WAIT_OBJECT_0 + n) return static_cast<int>(result - WAIT_OBJECT_0);
  return -1;
}

TVaEvent::TVaEvent() : TVaHandleObject(CreateManualResetEvent()) {}

void TVaEvent::SetSignal() { ::SetEvent(AsHandle(handle_)); }

void TVaEvent::ResetSignal() { ::ResetEvent(AsHandle(handle_)); }

bool TVaWaitEvent::Signalled() { return WaitFor(0) == TVaWaitResult::Signaled; }

}  // namespace stbup
