#pragma once

#include <cstdint>
#include <memory>

namespace stbup {

// The write queue: one block allocated at creation, the queued bytes always
// at its start.
class TVaCommBuffer {
 public:
  explicit TVaCommBuffer(std::int32_t capacity);

  // The caller has made sure n bytes fit.
  void Append(const void* bytes, std::int32_t n);
  // Drops the first n bytes and moves the rest to the front.
  void Consume(std::int32_t n);

  const std::uint8_t* Data() const { return data_.get(); }
  std::int32_t Size() const { return size_; }
  std::int32_t Capacity() const { return capacity_; }

 private:
  std::int32_t capacity_;
  std::unique_ptr<std::uint8_t[]> data_;
  std::int32_t size_ = 0;
};

}  // namespace stbup
