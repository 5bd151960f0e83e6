#include "app/core/port_choices.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace stbup {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text << '\n';
}

// A USB adapter with its by-id link and a probed 8250 port: the adapter is
// offered by the stable by-id name (ttyUSBn changes with the plug order),
// shown with its node and maker; the 8250 port by its node and driver.
TEST(PortChoicesTest, FoundDevicesAreOfferedByTheirStableNames) {
  const fs::path root = fs::temp_directory_path() / ("stbup-choices-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path sys = root / "sys";
  const fs::path dev = root / "dev";
  const fs::path usb = sys / "devices/pci0000:00/usb1/1-1";
  Write(usb / "idVendor", "0403");
  Write(usb / "idProduct", "6001");
  Write(usb / "manufacturer", "FTDI");
  Write(usb / "product", "FT232R USB UART");
  const fs::path usb_if = usb / "1-1:1.0/ttyUSB0";
  fs::create_directories(usb_if);
  fs::create_directories(sys / "bus/usb-serial/drivers/ftdi_sio");
  fs::create_symlink(sys / "bus/usb-serial/drivers/ftdi_sio", usb_if / "driver");
  fs::create_directories(sys / "class/tty/ttyUSB0");
  fs::create_symlink(usb_if, sys / "class/tty/ttyUSB0/device");
  const fs::path platform = sys / "devices/platform/serial8250";
  fs::create_directories(sys / "bus/platform/drivers/serial8250");
  fs::create_directories(platform);
  fs::create_symlink(sys / "bus/platform/drivers/serial8250", platform / "driver");
  fs::create_directories(sys / "class/tty/ttyS0");
  fs::create_symlink(platform, sys / "class/tty/ttyS0/device");
  Write(sys / "class/tty/ttyS0/type", "4");
  const fs::path by_id = dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A700ABCD-if00-port0";
  fs::create_directories(by_id.parent_path());
  fs::create_symlink("../../ttyUSB0", by_id);

  const std::vector<PortChoice> choices = FoundSerialPortChoices(sys, dev);
  const std::vector<PortChoice> expected = {
      {(dev / "ttyS0").string(), (dev / "ttyS0").string() + "  serial8250"},
      {by_id.string(), (dev / "ttyUSB0").string() + "  FTDI FT232R USB UART  " + by_id.string()},
  };
  EXPECT_EQ(choices, expected);
  fs::remove_all(root);
}

}  // namespace
}  // namespace stbup
