#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/core/settings.h"

namespace stbup {

// A settings store held in memory: the command line seeds one per run, and
// tests inspect and break it (a key that cannot be created, a value of the
// wrong type, a value that cannot be written).
class MemorySettings : public Settings {
 public:
  bool OpenKey(std::string_view path, bool create) override;
  void CloseKey() override;
  std::string ReadString(std::string_view name) override;
  void WriteString(std::string_view name, std::string_view value) override;
  std::optional<std::string> PortPath(std::string_view port_name) const override;
  std::string Problem() override { return problem; }

  // Key path -> value name -> text.
  std::map<std::string, std::map<std::string, std::string>, std::less<>> keys;
  // The "Ports" group: COMn -> device path.
  std::map<std::string, std::string, std::less<>> ports;

  // Faults for tests.
  bool fail_create = false;
  std::string problem;                                   // the store cannot be trusted
  std::set<std::string, std::less<>> non_text_values;    // read raises "Invalid data type"
  std::set<std::string, std::less<>> unwritable_values;  // write raises "Failed to set data"

  bool KeyOpen() const { return open_key_.has_value(); }

 private:
  std::optional<std::string> open_key_;
};

}  // namespace stbup
