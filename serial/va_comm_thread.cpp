#include "serial/va_comm_thread.h"

#include "serial/line_thread_starter.h"
#include "serial/va_comm.h"
#include "serial/va_device.h"

namespace stbup {

namespace {
std::atomic<int> live_threads{0};
}  // namespace

TVaCommSession::TVaCommSession(TVaDeviceHandle device, MainThreadQueue& main_queue,
                               std::shared_ptr<TVaCustomComm*> alive,
                               TVaDeviceQueries device_queries)
    : fd(device), queue(main_queue), owner(std::move(alive)), queries(std::move(device_queries)) {}

TVaCommSession::~TVaCommSession() {
  if (fd != kNoDevice) CloseDevice(fd);
}

long TVaCommSession::Write(const void* data, long count) {
  const long written = WriteDevice(fd, data, count);
  if (written > 0) {
    last_write_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                      std::memory_order_relaxed);
  }
  return written;
}

TVaLineCounters TVaCommSession::LineCounters(const TVaLineCounters& last) {
  if (counters_unsupported_.load(std::memory_order_relaxed)) return last;
  const std::optional<TVaLineCounters> now = queries.LineCounters(fd);
  if (now) return *now;
  if (IsUnsupported(LastDeviceError())) {
    counters_unsupported_.store(true, std::memory_order_relaxed);
  }
  return last;
}

TVaCommThread::TVaCommThread(std::shared_ptr<TVaCommSession> session)
    : session_(std::move(session)) {}

void TVaCommThread::Start(TThreadPriority priority) {
  priority_ = priority;
  ++live_threads;
  try {
    StartLineThread([self = shared_from_this()]() mutable {
      self->thread_id_ = CurrentThreadId();
      SetThreadPriorityOf(self->thread_id_, self->priority_);
      try {
        self->Execute();
      } catch (...) {
        // Execute reports what it can; nothing may escape a thread.
      }
      {
        std::lock_guard lock(self->mutex_);
        self->ended_ = true;
      }
      self->quiet_.notify_all();
      self.reset();
      --live_threads;
    });
  } catch (...) {
    --live_threads;
    throw;
  }
}

void TVaCommThread::Stop() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  StopEvent().SetSignal();
}

void TVaCommThread::SetPriority(TThreadPriority priority) {
  priority_ = priority;
  SetThreadPriorityOf(thread_id_, priority);
}

bool TVaCommThread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

void TVaCommThread::WaitUntilQuiet() {
  std::unique_lock lock(mutex_);
  quiet_.wait(lock, [this] { return ended_ || dispatching_; });
}

int TVaCommThread::LiveCount() { return live_threads; }

bool TVaCommThread::RunOnOwner(const std::function<void(TVaCustomComm&)>& call) {
  {
    std::lock_guard lock(mutex_);
    if (terminated_) return false;
    dispatching_ = true;
  }
  quiet_.notify_all();
  struct Done {
    TVaCommThread& thread;
    ~Done() {
      std::lock_guard lock(thread.mutex_);
      thread.dispatching_ = false;
    }
  } done{*this};
  const auto& session = session_;
  session->queue.RunOnMainThread([&session, &call] {
    if (TVaCustomComm* owner = *session->owner) call(*owner);
  });
  return true;
}

bool TVaCommThread::Pause(int ms) {
  return StopEvent().WaitFor(static_cast<std::uint32_t>(ms)) != TVaWaitResult::Signaled;
}

void TVaCommThread::ReportDeviceLost() {
  session_->device_lost = true;
  if (session_->lost_reported.exchange(true)) return;
  const TVaCommSession* session = session_.get();
  RunOnOwner([session](TVaCustomComm& owner) { owner.DoDeviceLost(session); });
}

}  // namespace stbup
