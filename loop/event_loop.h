#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "seams/main_thread_queue.h"

namespace stbup {

// A small main loop: calls queued by other threads, repeating timers and
// waitable objects watched for input. Timers are kept as due times, and a
// pass waits no longer than the nearest one; the waiting is the platform's:
// on Linux poll(2) over an eventfd and descriptors (loop/posix/), on Windows
// WaitForMultipleObjects over an event and handles (loop/win32/).
// Every wait, nested ones included, runs the queued calls, so a caller
// waiting for a condition, or a modal message on the command line, keeps
// serving the serial threads. The thread that creates the loop is its main
// thread.
//
// The main thread's turn: whatever the loop runs, it runs holding the turn,
// and the main thread holds it at all times but while it waits in a pass.
// A caller that finds the turn free (the main thread idle) takes it and runs
// its call on its own thread: the call is still alone with everything the
// main thread does, and the main thread need not be woken for it, nor the
// caller woken back; on a busy line that is two wake-ups a reply fewer.
// Otherwise the call is queued for the main thread.
class EventLoop : public MainThreadQueue {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;
  // Callers still waiting in RunOnMainThread are released with an exception
  // and waited for.
  ~EventLoop() override;

  // From another thread: run in the main thread's turn, on this thread when
  // the turn is free, else queued and the loop woken; returns when it has run
  // (an exception it raised is rethrown here). In the turn (on the main
  // thread, or inside such a call): runs at once.
  void RunOnMainThread(const std::function<void()>& call) override;

  // Whether the calling thread holds the main thread's turn: the main
  // thread, or a caller running its call in the turn.
  bool HoldsTurn() const;

  // A timer that fires every interval_ms on the main thread; returns its id.
  int AddTimer(int interval_ms, std::function<void()> callback);
  // A new interval, counted from now; 0 or less pauses the timer.
  void SetTimerInterval(int id, int interval_ms);
  void CancelTimer(int id);

  // A descriptor of the caller's (a signalfd, say; on Windows a waitable
  // HANDLE such as an event) watched for input: the callback runs on the main
  // thread in every pass that finds it readable (signalled), so it must take
  // what it was woken for. Returns an id for StopWatching; the descriptor
  // stays the caller's to close, after StopWatching. One that hangs up or
  // fails is handed to its callback once, then no longer watched.
  int WatchReadable(std::intptr_t fd, std::function<void()> callback);
  void StopWatching(int id);

  // Runs until Quit.
  void Run();
  void Quit();
  // Runs until predicate holds (true), the time-out passes or Quit (false),
  // looking at the predicate at least every 10 ms. May be called from inside
  // a callback.
  bool RunUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
  // One pass: waits at most timeout_ms (-1: no limit) for something to do,
  // then does it.
  void RunOnce(int timeout_ms);

 private:
  struct Call {
    const std::function<void()>* function;
    bool done = false;
    bool abandoned = false;
    std::exception_ptr error;
    // Set once done or abandoned is, read without the lock by the caller's
    // short watch before it sleeps.
    std::atomic<bool> settled{false};
  };
  // What a pass waits on besides the wake-up: a timer (its interval and due
  // time) or a watched descriptor or handle (the caller's).
  struct Source {
    std::intptr_t fd;
    bool timer;
    std::function<void()> callback;
    int interval_ms = 0;
    Clock::time_point due{};
  };

  // A caller's call, run in the turn it has just taken.
  void RunInTurn(const std::function<void()>& call);
  // Around a pass's wait: the main thread lends its turn for it (callers
  // keep the turn through the waits of their calls; then nothing is lent),
  // then takes it back. False when a caller ran a call meanwhile, as what
  // the wait found may then be out of date (the next pass looks again).
  std::optional<std::uint64_t> LendTurn(int wait_ms);
  bool TakeTurnBack(std::optional<std::uint64_t> calls_before);
  // From a caller in the turn: the lending pass waits on sources or a time
  // that changed, so it is woken when the call ends.
  void NoteChangedSources(Clock::time_point due);

  void RunQueuedCalls();
  int AddSource(Source source);
  void RemoveSource(int id);
  // How long a pass may wait: timeout_ms (-1: no limit) cut to the nearest
  // running timer's due time.
  int WaitLimit(int timeout_ms) const;
  // A watched source found readable (or failed: then watched no more).
  void FireWatched(int id, bool failed);
  void FireDueTimers();

  // The platform's side (loop/posix/, loop/win32/): the wake-up the queue
  // signals, and one wait over it and the watched sources, which runs the
  // queued calls when woken and hands what it found to FireWatched.
  static std::intptr_t CreateWake();
  void SignalWake();
  void TakeWake();
  void ReleaseWake();
  void Wait(int wait_ms);

  const std::thread::id main_thread_;
  const std::intptr_t wake_fd_;
  // Whether a caller watches for its call's end before it sleeps
  // (loop/hand_over_watch.h).
  const bool watch_hand_over_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::deque<Call*> queue_;
  int waiting_callers_ = 0;
  bool closing_ = false;

  std::map<int, Source> sources_;
  int next_source_id_ = 1;
  bool quit_ = false;

  // Held by the main thread but while it waits in a pass, or by a caller
  // running its call; the fields below are the turn's.
  std::mutex turn_;
  std::uint64_t calls_in_turn_ = 0;  // calls run by their callers, ever
  Clock::time_point lent_until_{};   // when the lending pass ends by itself
  bool pass_outdated_ = false;       // the lending pass must look again
};

}  // namespace stbup
