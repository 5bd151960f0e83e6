// The FTDI driver's latency timer for a COM name, found in a registry tree of
// the test's own laid out as the driver lays out its devices.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "serial/adapter_latency.h"
#include "serial/va_device.h"

#include <windows.h>

namespace stbup {
namespace {

class FtdiRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    root = "SOFTWARE\\stbup-test\\FTDIBUS" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(seed());
  }
  void TearDown() override { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str()); }

  // One instance of a device as the driver keeps it.
  void Plant(const std::string& device, const std::string& port, DWORD timer) {
    const std::string key = root + "\\" + device + "\\0000\\Device Parameters";
    HKEY handle = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                &handle, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        ::RegSetValueExA(handle, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>(port.size() + 1)),
        ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExA(handle, "LatencyTimer", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&timer), sizeof timer),
              ERROR_SUCCESS);
    ::RegCloseKey(handle);
  }

  std::string root;
};

TEST_F(FtdiRegistryTest, TheTimerOfTheInstanceWhosePortNameMatches) {
  Plant("VID_0403+PID_6001+A700ABCD", "COM3", 16);
  Plant("VID_0403+PID_6015+DN01XYZ", "COM7", 2);
  const struct {
    std::string adapter;
    std::optional<int> timer;
  } cases[] = {{"COM3", 16},           {"COM7", 2},       {"com7", 2}, {"\\\\.\\COM3", 16},
               {"COM4", std::nullopt}, {"", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.adapter);
    EXPECT_EQ(ReadLatencyTimer(root, c.adapter), c.timer);
  }
  EXPECT_EQ(ReadLatencyTimer(root + "-missing", "COM3"), std::nullopt);
}

// Only read on Windows: nothing to put back, and the warning points at the
// driver's own setting.
TEST_F(FtdiRegistryTest, OpeningReadsTheTimerAndTheWarningSaysWhereToLowerIt) {
  Plant("VID_0403+PID_6001+A700ABCD", "COM3", 16);
  const AdapterLatency latency = LowerAdapterLatency(kNoDevice, "\\\\.\\COM3", root);
  EXPECT_EQ(latency.adapter, "COM3");
  EXPECT_EQ(latency.timer_ms, 16);
  EXPECT_EQ(latency.restore_ms, std::nullopt);
  EXPECT_EQ(AdapterLatencyWarning("COM3", 16, 115200),
            "COM3: the USB adapter holds each reply of the box up to 16 ms (its latency timer); "
            "at 115200 bit/s that makes each block up to 17 % slower. To lower it for good: in "
            "Device Manager, the port's Properties, Port Settings, Advanced..., set Latency Timer "
            "(msec) to 1");
}

}  // namespace
}  // namespace stbup
