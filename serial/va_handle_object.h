#pragma once

#include <cstdint>

namespace stbup {

enum class TVaWaitResult { Signaled, TimedOut, Abandoned, Failed };

// A waitable object over a file descriptor that poll(2) reports readable while
// the object is signalled; the descriptor is closed with the object.
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

  int Handle() const { return handle_; }
  int LastError() const { return last_error_; }

 protected:
  explicit TVaHandleObject(int handle) : handle_(handle) {}

  int handle_;
  int last_error_ = 0;
};

// An event object on eventfd.
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
