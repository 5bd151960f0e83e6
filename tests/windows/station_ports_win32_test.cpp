// The station's port files on Windows: a port's name never makes a file name
// that Windows opens as a device.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/station_ports.h"

namespace stbup {
namespace {

TEST(StationPortFileNameTest, DeviceNamesAreWrittenSoThatTheyOpenFiles) {
  const struct {
    const char* port;
    const char* file;
  } cases[] = {
      {"COM3", "COM%33"},
      {"com1", "com%31"},
      {"COM9", "COM%39"},
      {"LPT1", "LPT%31"},
      {"CON", "CO%4E"},
      {"nul", "nu%6C"},
      {"AUX", "AU%58"},
      {"PRN", "PR%4E"},
      {"COM3.x", "COM%33.x"},
      // Names Windows does not keep stay as they read.
      {"COM10", "COM10"},
      {"COM0", "COM0"},
      {"CONSOLE", "CONSOLE"},
      {"COM", "COM"},
      {"xCOM1", "xCOM1"},
      {"\\\\.\\COM3", "%5C%5C.%5CCOM3"},
  };
  std::set<std::string> seen;
  for (const auto& c : cases) {
    EXPECT_EQ(StationPortFileName(c.port), c.file) << c.port;
    EXPECT_TRUE(seen.insert(StationPortFileName(c.port)).second) << c.port;
  }
  // One name, one file: the escaped form of a device name is no other port's.
  EXPECT_NE(StationPortFileName("COM%33"), StationPortFileName("COM3"));
}

}  // namespace
}  // namespace stbup
