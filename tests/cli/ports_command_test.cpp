#include "cli/ports_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "cli/ini_ports.h"
#include "serial/serial_ports.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text << '\n';
}

// A sysfs and /dev tree with a USB adapter, a probed and an unprobed 8250
// port, a virtual console and a pseudo-terminal.
class FakeTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("stbup-ports-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    sys = root / "sys";
    dev = root / "dev";
    fs::path usb = sys / "devices/pci0000:00/usb1/1-1";
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "serial", "A700ABCD");
    Write(usb / "manufacturer", "FTDI");
    Write(usb / "product", "FT232R USB UART");
    fs::path usb_if = usb / "1-1:1.0/ttyUSB0";
    fs::create_directories(usb_if);
    fs::create_directories(sys / "bus/usb-serial/drivers/ftdi_sio");
    fs::create_symlink(sys / "bus/usb-serial/drivers/ftdi_sio", usb_if / "driver");
    AddTty("ttyUSB0", usb_if, "");

    fs::path platform = sys / "devices/platform/serial8250";
    fs::create_directories(platform);
    fs::create_directories(sys / "bus/platform/drivers/serial8250");
    fs::create_symlink(sys / "bus/platform/drivers/serial8250", platform / "driver");
    AddTty("ttyS0", platform, "4");
    AddTty("ttyS1", platform, "0");

    fs::create_directories(sys / "class/tty/tty1");  // virtual: no device link
    fs::create_directories(sys / "class/tty/ptmx");

    fs::create_directories(dev / "serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A700ABCD-if00-port0");
  }
  void TearDown() override { fs::remove_all(root); }

  void AddTty(const std::string& name, const fs::path& device, const std::string& type) {
    fs::path dir = sys / "class/tty" / name;
    fs::create_directories(dir);
    fs::create_symlink(device, dir / "device");
    if (!type.empty()) Write(dir / "type", type);
  }

  fs::path root, sys, dev;
};

TEST_F(FakeTree, FindsRealPortsOnly) {
  auto ports = FindSerialPorts(sys, dev);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, "ttyS0");
  EXPECT_EQ(ports[0].driver, "serial8250");
  EXPECT_EQ(ports[0].usb_vendor, "");
  EXPECT_EQ(ports[1].name, "ttyUSB0");
  EXPECT_EQ(ports[1].device_path, (dev / "ttyUSB0").string());
  EXPECT_EQ(ports[1].driver, "ftdi_sio");
  EXPECT_EQ(ports[1].usb_vendor, "0403");
  EXPECT_EQ(ports[1].usb_product, "6001");
  EXPECT_EQ(ports[1].usb_serial, "A700ABCD");
  EXPECT_EQ(ports[1].by_id,
            (dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A700ABCD-if00-port0").string());
}

TEST_F(FakeTree, ListsDevicesAndTheComMap) {
  fs::path ini = root / "stbup.ini";
  std::ofstream(ini) << "[SOFTWARE]\nCOM3=/not/this\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM12 = "
                        "\"/dev/serial/by-id/x\"\n";
  std::ostringstream out;
  EXPECT_EQ(RunPorts({sys, dev, ini.string()}, out), 0);
  std::string text = out.str();
  EXPECT_NE(
      text.find((dev / "ttyUSB0").string() +
                "  driver ftdi_sio  usb 0403:6001  serial A700ABCD  (FTDI FT232R USB UART)\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("COM1   -> /dev/ttyS0  (default)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("COM3   -> /dev/ttyUSB0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("COM10  -> /dev/ttyS9  (default)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("COM12 -> /dev/serial/by-id/x\n"), std::string::npos) << text;
  EXPECT_EQ(text.find((dev / "ttyS1").string()), std::string::npos);
}

// An FTDI adapter's latency timer, on the device's line and in the JSON;
// a port without one has none shown, and null in the JSON.
TEST_F(FakeTree, ShowsEachAdaptersLatencyTimer) {
  Write(sys / "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer", "16");
  const fs::path ini = root / "stbup.ini";
  std::ofstream(ini) << "[Ports]\n";
  std::ostringstream text;
  EXPECT_EQ(RunPorts({sys, dev, ini.string()}, text), 0);
  EXPECT_NE(text.str().find((dev / "ttyUSB0").string() +
                            "  driver ftdi_sio  usb 0403:6001  serial A700ABCD  (FTDI FT232R USB "
                            "UART)  latency timer 16 ms\n"),
            std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find((dev / "ttyS0").string() + "  driver serial8250\n"), std::string::npos)
      << text.str();

  PortsOptions options{sys, dev, ini.string()};
  options.json = true;
  std::ostringstream json;
  EXPECT_EQ(RunPorts(options, json), 0);
  const std::string expected =
      "{\"ports\":[{\"by_id\":\"\",\"device\":\"" + (dev / "ttyS0").string() +
      "\",\"driver\":\"serial8250\",\"latency_timer_ms\":null,\"name\":\"ttyS0\","
      "\"usb_description\":\"\",\"usb_manufacturer\":\"\",\"usb_product\":\"\","
      "\"usb_serial\":\"\",\"usb_vendor\":\"\"},{\"by_id\":\"" +
      (dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A700ABCD-if00-port0").string() +
      "\",\"device\":\"" + (dev / "ttyUSB0").string() +
      "\",\"driver\":\"ftdi_sio\",\"latency_timer_ms\":16,\"name\":\"ttyUSB0\","
      "\"usb_description\":\"FT232R USB UART\",\"usb_manufacturer\":\"FTDI\","
      "\"usb_product\":\"6001\",\"usb_serial\":\"A700ABCD\",\"usb_vendor\":\"0403\"}]}\n";
  EXPECT_EQ(json.str(), expected);
}

TEST(ResolvePortNameTest, PathsComNamesAndOthers) {
  std::map<std::string, std::string, std::less<>> map{{"COM2", "/dev/ttyUSB1"}};
  EXPECT_EQ(ResolvePortName("/dev/pts/4", map), "/dev/pts/4");
  EXPECT_EQ(ResolvePortName("COM2", map), "/dev/ttyUSB1");
  EXPECT_EQ(ResolvePortName("COM1", map), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortName("COM10", map), "/dev/ttyS9");
  EXPECT_EQ(ResolvePortName("COM0", map), std::nullopt);
  EXPECT_EQ(ResolvePortName("COM1x", map), std::nullopt);
  EXPECT_EQ(ResolvePortName("ttyS0", map), std::nullopt);
}

}  // namespace
}  // namespace stbup
