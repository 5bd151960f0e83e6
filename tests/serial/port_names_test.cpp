#include "serial/port_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/va_device.h"

namespace stbup {
namespace {

TEST(PortNamesTest, ComNumbers) {
  const struct {
    const char* name;
    int number;
  } cases[] = {
      {"COM1", 1},       {"COM10", 10},
      {"COM007", 7},     {"COM0", 0},
      {"COM", 0},        {"COM1x", 0},
      {"com1", 0},       {"COM-1", 0},
      {"/dev/COM1", 0},  {"COM1000000", 1'000'000},
      {"COM1000001", 0}, {"COM99999999999999999999", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ComPortNumber(c.name), c.number) << c.name;
}

// The command line's station and doctor resolve names themselves; what they
// name must be what the serial component opens for the same name.
TEST(PortNamesTest, ResolvedNamesAreWhatTheSerialComponentOpens) {
  const PortMap map{{"COM3", "/dev/ttyUSB0"}};
  for (const char* name : {"COM1", "COM3", "COM10", "COM256", "/dev/pts/4"}) {
    const int number = ComPortNumber(name);
    const auto mapped = map.find(std::string_view(name));
    const std::optional<std::string> resolved =
        mapped == map.end() ? std::nullopt : std::optional<std::string>(mapped->second);
    EXPECT_EQ(ResolvePortName(name, map), PlatformDevicePath(name, number, resolved)) << name;
  }
  EXPECT_EQ(ResolvePortName("COM1", {}), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortName("ttyS0", map), std::nullopt);
}

}  // namespace
}  // namespace stbup
