// The transmit path of the port: queued writes through the write thread, or
// direct writes that wait for the device.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "serial/va_comm.h"
#include "serial/va_comm_event_thread.h"
#include "serial/va_comm_thread.h"
#include "serial/va_comm_write_thread.h"

namespace stbup {

std::shared_ptr<TVaCommWriteThread> TVaCustomComm::HoldWrites() {
  if (write_thread_) write_thread_->Hold();
  return write_thread_;
}

void TVaCustomComm::SendHeldWrites() {
  if (write_thread_) write_thread_->EndHold();
}

int TVaCustomComm::WriteBuf(const void* data, int count) {
  if (!Active() || count < 0) return 0;
  if (direct_write_) return DirectWriteBuf(data, count);
  if (!write_thread_) return 0;
  if (!write_thread_->Enqueue(data, count, buffers_->WriteTimeout(),
                              static_cast<bool>(OnTxEmpty))) {
    throw EVaCommError("Output buffer is full. Please check comm status.");
  }
  return count;
}

bool TVaCustomComm::WriteText(std::string_view text) {
  return WriteBuf(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

bool TVaCustomComm::WriteChar(std::uint8_t byte) { return WriteBuf(&byte, 1) == 1; }

// Returns once the device has taken every byte, or 0 when that did not happen
// within Buffers.WriteTimeout (the bytes taken by then stay sent).
int TVaCustomComm::DirectWriteBuf(const void* data, int count) {
  std::lock_guard lock(*WriteLock);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(buffers_->WriteTimeout());
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  int written = 0;
  while (written < count) {
    const ssize_t done =
        ::write(handle_, bytes + written, static_cast<std::size_t>(count - written));
    if (done > 0) {
      written += static_cast<int>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (errno == EIO) session_->device_lost = true;
      RaiseCommError("Write error (%d), %s", errno);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    pollfd entry{handle_, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready == 0) return 0;
    if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
        !(entry.revents & POLLOUT)) {
      session_->device_lost = true;
      RaiseCommError("Write error (%d), %s", EIO);
    }
  }
  if ((event_mask_ & EV_TXEMPTY) && event_thread_) {
    session_->tx_pending = true;
    event_thread_->WatchTransmit();
  }
  return written;
}

}  // namespace stbup
