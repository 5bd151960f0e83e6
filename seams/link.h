#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stbup {

// What the engine needs from a port. TVaComm is the real one; tests record.
// Replies are written and their results never examined: the box decides.
class Link {
 public:
  virtual ~Link() = default;

  virtual bool WriteText(std::string_view text) = 0;
  virtual bool WriteChar(std::uint8_t byte) = 0;
  virtual int WriteBuf(const void* data, int count) = 0;
  // Every byte waiting, 0x00, CR and LF included.
  virtual std::string ReadText() = 0;
  virtual void Close() = 0;
  virtual bool Active() const = 0;
  // The name the operator picked ("COM1" or a path), as log lines show it.
  virtual std::string DeviceName() const = 0;
};

}  // namespace stbup
