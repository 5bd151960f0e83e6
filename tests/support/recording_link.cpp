#include "tests/support/recording_link.h"

namespace stbup {

bool RecordingLink::WriteText(std::string_view text) {
  writes.push_back({Kind::kText, std::string(text)});
  return true;
}

bool RecordingLink::WriteChar(std::uint8_t byte) {
  writes.push_back({Kind::kChar, std::string(1, static_cast<char>(byte))});
  return true;
}

int RecordingLink::WriteBuf(const void* data, int count) {
  writes.push_back(
      {Kind::kBuf, std::string(static_cast<const char*>(data), static_cast<std::size_t>(count))});
  return count;
}

std::string RecordingLink::ReadText() {
  std::string text;
  text.swap(incoming);
  return text;
}

void RecordingLink::Close() {
  active = false;
  ++closes;
}

std::string RecordingLink::Wire() const {
  std::string wire;
  for (const Write& write : writes) wire += write.bytes;
  return wire;
}

std::string RecordingLink::TakeWire() {
  std::string wire;
  for (; taken_ < writes.size(); ++taken_) wire += writes[taken_].bytes;
  return wire;
}

}  // namespace stbup
