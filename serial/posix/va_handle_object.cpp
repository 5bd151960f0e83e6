#include "serial/va_handle_object.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iterator>

#include "serial/va_comm_error.h"

namespace stbup {

namespace {

int CreateEventFd() {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) RaiseCommError("Error creating event (%d), %s", errno);
  return fd;
}

}  // namespace

TVaHandleObject::~TVaHandleObject() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

int TVaHandleObject::WaitForAny(std::initializer_list<TVaHandleObject*> objects, std::uint32_t ms) {
  pollfd entries[8];
  std::size_t n = 0;
  for (TVaHandleObject* object : objects) {
    if (n == std::size(entries)) break;
    entries[n++] = {static_cast<int>(object->handle_), POLLIN, 0};
  }
  const int timeout = ms == kInfinite ? -1 : static_cast<int>(ms);
  int ready;
  while ((ready = ::poll(entries, n, timeout)) < 0 && errno == EINTR) {
  }
  if (ready <= 0) return -1;
  for (std::size_t i = 0; i < n; ++i) {
    if (entries[i].revents & POLLIN) return static_cast<int>(i);
  }
  return -1;
}

TVaWaitResult TVaHandleObject::WaitFor(std::uint32_t ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int timeout = -1;
    if (ms != kInfinite) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = left < 0 ? 0 : static_cast<int>(left);
    }
    pollfd entry{static_cast<int>(handle_), POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeout);
    if (ready > 0) {
      if (entry.revents & POLLIN) return TVaWaitResult::Signaled;
      last_error_ = EBADF;
      return TVaWaitResult::Failed;
    }
    if (ready == 0) return TVaWaitResult::TimedOut;
    if (errno == EINTR) continue;
    last_error_ = errno;
    return TVaWaitResult::Failed;
  }
}

TVaEvent::TVaEvent() : TVaHandleObject(CreateEventFd()) {}

void TVaEvent::SetSignal() {
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) is signalled already.
  while (::write(static_cast<int>(handle_), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TVaEvent::ResetSignal() {
  std::uint64_t value = 0;
  while (::read(static_cast<int>(handle_), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TVaWaitEvent::Signalled() { return WaitFor(0) == TVaWaitResult::Signaled; }

}  // namespace stbup
