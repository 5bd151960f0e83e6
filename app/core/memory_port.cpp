#include "app/core/memory_port.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/core/main_window.h"
#include "seams/view.h"
#include "serial/va_comm_error.h"

namespace stbup {
namespace {

// A box that takes nothing for this long has stopped reading: the rest of
// the write is dropped, as a stalled serial write would be.
constexpr auto kWriteStall = std::chrono::seconds(5);

}  // namespace

// What an opening shares with its listening thread. The thread is not waited
// for by Close (it may be handing a batch to the main thread, which is the
// caller); it ends on its own and touches only this and the line.
struct MemoryPort::Listener {
  Listener(MainThreadQueue& main_queue, std::shared_ptr<MemoryLineEnd> line, MemoryPort* port)
      : queue(main_queue), end(std::move(line)), owner(port) {}

  MainThreadQueue& queue;
  const std::shared_ptr<MemoryLineEnd> end;
  MemoryPort* owner;  // main thread only; null once the opening is over
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable quiet;
  bool dispatching = false;
  bool ended = false;

  // Hands one batch to the main thread; false once stopped.
  bool HandOver(bool hung_up) {
    {
      std::lock_guard lock(mutex);
      if (stop) return false;
      dispatching = true;
    }
    quiet.notify_all();
    bool handed = true;
    try {
      queue.RunOnMainThread([this, hung_up] {
        if (owner != nullptr) owner->Dispatch(hung_up);
      });
    } catch (...) {
      handed = false;  // the main loop has ended
    }
    std::lock_guard lock(mutex);
    dispatching = false;
    return handed;
  }

  static void Run(const std::shared_ptr<Listener>& self) {
    // Input counts as new only when bytes arrived since the last batch, so
    // bytes a handler leaves wait for the next arrival.
    std::uint64_t seen = 0;
    for (;;) {
      const auto wait =
          self->end->WaitArrival(seen, MemoryLineEnd::Clock::time_point::max(), &self->stop);
      if (wait == MemoryLineEnd::Wait::kStopped) break;
      const bool hung_up = wait != MemoryLineEnd::Wait::kReady;
      if (!hung_up) seen = self->end->Arrived();
      if (!self->HandOver(hung_up) || hung_up) break;
    }
    {
      std::lock_guard lock(self->mutex);
      self->ended = true;
    }
    self->quiet.notify_all();
  }
};

MemoryPort::MemoryPort(MainThreadQueue& queue, std::shared_ptr<MemoryLineEnd> end, std::string name)
    : queue_(queue), end_(std::move(end)), name_(std::move(name)) {}

MemoryPort::~MemoryPort() {
  const std::weak_ptr<Listener> last = listener_;
  Close();
  // Gone or waiting for the main thread, where it will find no owner.
  if (const auto listener = last.lock()) {
    std::unique_lock lock(listener->mutex);
    listener->quiet.wait(lock, [&] { return listener->ended || listener->dispatching; });
  }
}

void MemoryPort::Open() {
  if (Active()) return;
  const char* why = end_->Closed()       ? "the line has been closed"
                    : end_->PeerClosed() ? "the simulated box has hung up"
                                         : nullptr;
  if (why != nullptr) {
    ++failed_opens_;
    last_open_error_ = "Can't open specified device " + name_ + " (" + why + ")";
    throw EVaCommError(last_open_error_);
  }
  listener_ = std::make_shared<Listener>(queue_, end_, this);
  std::thread([listener = listener_] { Listener::Run(listener); }).detach();
}

void MemoryPort::SetDeviceName(std::string_view name) {
  if (Active()) throw EVaCommError("Can't perform this operation while port is open");
  name_ = name;
}

void MemoryPort::Close() {
  if (!listener_) return;
  listener_->owner = nullptr;
  listener_->stop = true;
  listener_.reset();
  // Wakes the listener too.
  end_->Close();
}

int MemoryPort::WriteBuf(const void* data, int count) {
  if (!Active() || data == nullptr || count <= 0) return 0;
  const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(data),
                                            static_cast<std::size_t>(count));
  const auto deadline = MemoryLineEnd::Clock::now() + kWriteStall;
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t written = 0;
    if (end_->Write(bytes.subspan(done), deadline, written) != MemoryLineEnd::Wait::kReady) break;
    done += written;
  }
  return static_cast<int>(done);
}

bool MemoryPort::WriteText(std::string_view text) {
  return WriteBuf(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

bool MemoryPort::WriteChar(std::uint8_t byte) { return WriteBuf(&byte, 1) == 1; }

std::string MemoryPort::ReadText() {
  if (!Active()) return {};
  std::string text(end_->Waiting(), '\0');
  text.resize(end_->Read(
      std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size())));
  return text;
}

void MemoryPort::Dispatch(bool hung_up) {
  if (!hung_up) {
    if (end_->Waiting() > 0 && OnRxChar) Guarded(OnRxChar);
    return;
  }
  if (OnDeviceLost) Guarded(OnDeviceLost);
}

void MemoryPort::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    if (OnException) OnException(error);
  }
}

void ConnectMemoryPort(MemoryPort& port, MainWindow& window, View& view) {
  port.OnRxChar = [&window] { window.VaComm1RxChar(); };
  port.OnDeviceLost = [&window] { window.VaComm1DeviceLost(); };
  port.OnException = [&view](const std::exception& error) { view.ReportError(error.what()); };
}

}  // namespace stbup
