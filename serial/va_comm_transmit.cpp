// The transmit path of the port: queued writes through the write thread, or
// direct writes that wait for the device.
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
    const long done = session_->Write(bytes + written, count - written);
    if (done > 0) {
      written += static_cast<int>(done);
      continue;
    }
    if (done < 0) {
      const int error = LastDeviceError();
      if (IsDeviceGone(error)) session_->device_lost = true;
      RaiseCommError("Write error (%d), %s", error);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    const TVaDeviceWait ready =
        WaitDevice(handle_, nullptr, nullptr, kWaitWritable, static_cast<int>(left));
    if (ready == TVaDeviceWait::TimedOut) return 0;
    if (ready == TVaDeviceWait::Gone) {
      session_->device_lost = true;
      const long retry = session_->Write(bytes + written, count - written);
      if (retry > 0) {
        written += static_cast<int>(retry);
        continue;
      }
      RaiseCommError("Write error (%d), %s", retry < 0 ? LastDeviceError() : DeviceGoneError());
    }
  }
  if ((event_mask_ & EV_TXEMPTY) && event_thread_) {
    session_->tx_pending = true;
    event_thread_->WatchTransmit();
  }
  return written;
}

}  // namespace stbup
