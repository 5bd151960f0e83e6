#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

#include "seams/main_thread_queue.h"
#include "serial/va_comm_types.h"
#include "serial/va_device.h"
#include "serial/va_handle_object.h"

namespace stbup {

class TVaCustomComm;

// What one opening of the port shares with its worker threads. Close does not
// wait for the threads, so they may outlive it (briefly) and even the
// component; the descriptor closes when the last of them lets go.
struct TVaCommSession {
  TVaCommSession(TVaDeviceHandle device, MainThreadQueue& main_queue,
                 std::shared_ptr<TVaCustomComm*> alive, TVaDeviceQueries device_queries = {});
  TVaCommSession(const TVaCommSession&) = delete;
  TVaCommSession& operator=(const TVaCommSession&) = delete;
  ~TVaCommSession();

  const TVaDeviceHandle fd;
  MainThreadQueue& queue;
  // The component, or null once it has been destroyed. Read and written on
  // the main thread only, so a queued call checks it where it runs.
  const std::shared_ptr<TVaCustomComm*> owner;
  const TVaDeviceQueries queries;

  std::atomic<std::uint64_t> bytes_read{0};  // by ReadBuf, to tell new input from old
  std::atomic<bool> tx_pending{false};       // a direct write awaits its transmit-empty event
  std::atomic<bool> device_lost{false};
  std::atomic<bool> lost_reported{false};

  // Every write to the device, whichever thread or path makes it: as
  // WriteDevice, and when some bytes went, the time is kept for LastWrite.
  long Write(const void* data, long count);
  // When bytes last went to the device, for the event thread's watch for the
  // answer; none before the first.
  std::optional<std::chrono::steady_clock::time_point> LastWrite() const {
    const auto ticks = last_write_.load(std::memory_order_relaxed);
    if (ticks == kNeverWritten) return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
  }

  // The line-error counters now; last where the device keeps none or the
  // query failed, so no change is seen. A device without counters (a pty) is
  // not asked again this opening: the receive path asks several times a block.
  TVaLineCounters LineCounters(const TVaLineCounters& last);

 private:
  std::atomic<bool> counters_unsupported_{false};
  static constexpr std::chrono::steady_clock::rep kNeverWritten =
      std::numeric_limits<std::chrono::steady_clock::rep>::min();
  std::atomic<std::chrono::steady_clock::rep> last_write_{kNeverWritten};
};

// What the event thread saw of the input when it reported a batch: the bytes
// waiting then, and how many the port had read before it looked.
struct TVaRxSighting {
  const TVaCommSession* session = nullptr;
  std::uint64_t read_before = 0;
  int waiting = 0;
};

// A worker thread of the port: started once, stopped without being waited
// for, and owned jointly by the component and the running thread itself.
class TVaCommThread : public std::enable_shared_from_this<TVaCommThread> {
 public:
  TVaCommThread(const TVaCommThread&) = delete;
  TVaCommThread& operator=(const TVaCommThread&) = delete;
  virtual ~TVaCommThread() = default;

  void Start(TThreadPriority priority);
  // Marks the thread terminated and wakes it; does not wait.
  void Stop();
  void SetPriority(TThreadPriority priority);
  bool Terminated() const;
  // Returns once the thread has ended or is waiting for the main thread (it
  // then touches nothing but its queue and its own state until it ends).
  void WaitUntilQuiet();

  // Worker threads of any port that have not yet ended.
  static int LiveCount();

 protected:
  explicit TVaCommThread(std::shared_ptr<TVaCommSession> session);

  virtual void Execute() = 0;
  virtual TVaWaitEvent& StopEvent() = 0;

  // Runs call against the component on the main thread and waits for it.
  // False, without running it, once the thread is terminated. An exception
  // escaping call is rethrown here.
  bool RunOnOwner(const std::function<void(TVaCustomComm&)>& call);
  // Waits ms milliseconds or until stopped; false when stopped.
  bool Pause(int ms);
  // Marks the device gone and tells the component once per opening.
  void ReportDeviceLost();

  const std::shared_ptr<TVaCommSession> session_;

 private:
  mutable std::mutex mutex_;
  std::condition_variable quiet_;
  bool terminated_ = false;
  bool dispatching_ = false;
  bool ended_ = false;
  std::atomic<std::intptr_t> thread_id_{0};
  std::atomic<TThreadPriority> priority_{TThreadPriority::tpNormal};
};

}  // namespace stbup
