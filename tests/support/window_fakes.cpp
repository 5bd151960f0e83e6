#include "tests/support/window_fakes.h"

#include <stdexcept>
#include <utility>

namespace stbup {

void FakePort::Open() {
  ++open_attempts;
  if (active) throw std::runtime_error("Can't perform this operation while port is open");
  if (busy.contains(device_name)) {
    throw std::runtime_error("Can't open specified device " + device_name +
                             " (Error 16, Device or resource busy)");
  }
  active = true;
  ++opens;
}

void FakePort::SetDeviceName(std::string_view name) {
  if (active) throw std::runtime_error("Can't perform this operation while port is open");
  device_name = name;
}

bool FakePort::WriteText(std::string_view text) {
  if (!active) return false;
  written += text;
  return true;
}

bool FakePort::WriteChar(std::uint8_t byte) {
  if (!active) return false;
  written += static_cast<char>(byte);
  return true;
}

int FakePort::WriteBuf(const void* data, int count) {
  if (!active) return 0;
  written.append(static_cast<const char*>(data), static_cast<std::size_t>(count));
  return count;
}

std::string FakePort::ReadText() {
  if (!active) return {};
  return std::exchange(incoming, {});
}

void FakePort::Close() {
  if (active) ++closes;
  active = false;
}

std::optional<std::string> FakeFileDialog::Execute(std::string_view initial_directory,
                                                   std::string_view filter,
                                                   std::string_view default_extension) {
  calls.push_back(
      {std::string(initial_directory), std::string(filter), std::string(default_extension)});
  return answer;
}

bool FakeWindowControls::CloseWindow() {
  ++closes;
  return on_close ? on_close() : true;
}

bool FakeWindowControls::SetCurrentDirectory(std::string_view directory) {
  directory_changes.emplace_back(directory);
  current_directory = directory;
  return true;
}

}  // namespace stbup
