#include "serial/va_comm_buffer.h"

#include <cstring>

namespace stbup {

TVaCommBuffer::TVaCommBuffer(std::int32_t capacity)
    : capacity_(capacity < 0 ? 0 : capacity),
      data_(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(capacity_))) {}

void TVaCommBuffer::Append(const void* bytes, std::int32_t n) {
  if (n <= 0) return;
  std::memcpy(data_.get() + size_, bytes, static_cast<std::size_t>(n));
  size_ += n;
}

void TVaCommBuffer::Consume(std::int32_t n) {
  if (n <= 0) return;
  if (n >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_.get(), data_.get() + n, static_cast<std::size_t>(size_ - n));
  size_ -= n;
}

}  // namespace stbup
