#pragma once

#include <cstdint>
#include <initializer_list>

namespace stbup {

enum class TVaWaitResult { Signaled, TimedOut, Abandoned, Failed };

// A waitable object: an eventfd that poll(2) reports readable while the object
// is signalled (serial/posix/), or a Win32 event (serial/win32/). The handle is
// closed with the object.
class TVaHandleObject {
 public:
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

  TVaHandleObject(const TVaHandleObject&) = delete;
  TVaHandleObject& operator=(const TVaHandleObject&) = delete;
  virtual ~TVaHandleObject();

  // Waits at most ms milliseconds (kInfinite: no limit) for the signal.
  TVaWaitResult WaitFor(std::uint32_t ms);
  virtual void SetSignal() = 0;
  virtual void ResetSignal() = 0;

  std::intptr_t Handle() const { return handle_; }
  int LastError() const { return last_error_; }

  // Waits at most ms milliseconds (kInfinite: no limit) until one of the
  // objects is signalled: its index in the list, or -1 when the time ran out
  // or the wait failed.
  static int WaitForAny(std::initializer_list<TVaHandleObject*> objects, std::uint32_t ms);

 protected:
  explicit TVaHandleObject(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_;
  int last_error_ = 0;
};

// An event object (eventfd, or a Win32 manual-reset event).
class TVaEvent : public TVaHandleObject {
 public:
  void SetSignal() override;
  void ResetSignal() override;

 protected:
  TVaEvent();
};

// The unnamed, manual-reset event every part of the serial link uses: created
// non-signalled, signalled until ResetSignal. Raises EVaCommError when the
// platform cannot create it.
class TVaWaitEvent : public TVaEvent {
 public:
  TVaWaitEvent() = default;
  // True when signalled, without waiting.
  bool Signalled();
};

}  // namespace stbup
