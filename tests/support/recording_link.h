#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "seams/link.h"

namespace stbup {

// A Link that records every write with its kind and bytes, in order.
class RecordingLink : public Link {
 public:
  enum class Kind { kText, kChar, kBuf };
  struct Write {
    Kind kind;
    std::string bytes;
    friend bool operator==(const Write&, const Write&) = default;
  };

  bool WriteText(std::string_view text) override;
  bool WriteChar(std::uint8_t byte) override;
  int WriteBuf(const void* data, int count) override;
  std::string ReadText() override;
  void Close() override;
  bool Active() const override { return active; }
  std::string DeviceName() const override { return device_name; }

  // Every byte written, in order, whatever the kind.
  std::string Wire() const;
  // The bytes written since the last call, then forgets them.
  std::string TakeWire();
  void ClearWrites() {
    writes.clear();
    taken_ = 0;
  }

  std::vector<Write> writes;
  std::string incoming;  // what ReadText returns next
  bool active = true;
  std::string device_name = "COM1";
  int closes = 0;

 private:
  std::size_t taken_ = 0;
};

// A Link that drops everything: for benchmarks.
class NullLink : public Link {
 public:
  bool WriteText(std::string_view) override { return true; }
  bool WriteChar(std::uint8_t) override { return true; }
  int WriteBuf(const void*, int count) override { return count; }
  std::string ReadText() override { return {}; }
  void Close() override {}
  bool Active() const override { return true; }
  std::string DeviceName() const override { return "COM1"; }
};

}  // namespace stbup
