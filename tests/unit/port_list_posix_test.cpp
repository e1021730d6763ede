// The port listing over a made-up machine: a sysfs tree laid out as Linux lays it out, and device
// nodes that are links to pseudo-terminals.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "discovery/port_list.h"
#include "pty_pair.h"
#include "serial/port.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "talven-ports-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

void Link(const fs::path& link, const std::string& target) {
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

// A machine with the kinds of ports Linux shows, and the entries the listing must pass over.
class FakeMachine : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.path().empty());
    sys_ = root_.path() / "sys";
    dev_ = root_.path() / "dev";
    fs::create_directories(sys_ / "class" / "tty");
    fs::create_directories(dev_);
  }

  // A tty under devices/<device>/tty/<name>, linked from class/tty as the kernel links it.
  void AddTty(const std::string& name, const std::string& device, const std::string& type = "") {
    const fs::path classDevice = sys_ / "devices" / device / "tty" / name;
    fs::create_directories(classDevice);
    if (!device.empty())
      Link(classDevice / "device", "../../../" + fs::path(device).filename().string());
    if (!type.empty()) WriteText(classDevice / "type", type);
    Link(sys_ / "class" / "tty" / name, "../../devices/" + device + "/tty/" + name);
  }
  void AddVirtualTty(const std::string& name) {
    const fs::path classDevice = sys_ / "devices" / "virtual" / "tty" / name;
    fs::create_directories(classDevice);
    Link(sys_ / "class" / "tty" / name, "../../devices/virtual/tty/" + name);
  }
  void SetDriver(const std::string& device, const std::string& bus, const std::string& driver) {
    Link(sys_ / "devices" / device / "driver", (sys_ / "bus" / bus / "drivers" / driver).string());
  }
  void SetUsb(const std::string& device,
              const std::vector<std::pair<std::string, std::string>>& attrs) {
    for (const auto& [name, value] : attrs) WriteText(sys_ / "devices" / device / name, value);
  }
  // The device node: a link to a pseudo-terminal of its own.
  void AddNode(const std::string& name) {
    ptys_.push_back(std::make_unique<Pty>());
    ASSERT_FALSE(ptys_.back()->path.empty());
    Link(dev_ / name, ptys_.back()->path);
  }

  std::string Dev(const std::string& name) const { return (dev_ / name).string(); }

  // Every kind the listing knows, in the order the file system hands them out.
  void BuildTypicalMachine() {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1";
    // FTDI adapter behind usb-serial: tty -> port -> interface -> USB device.
    AddTty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0");
    SetDriver(usb + "/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    SetUsb(usb + "/1-1", {{"idVendor", "0403"},
                          {"idProduct", "6001"},
                          {"manufacturer", "FTDI"},
                          {"product", "FT232R USB UART"},
                          {"serial", "A1B2C3"}});
    AddNode("ttyUSB0");
    Link(dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "../../ttyUSB0");
    // CH340 cable that names no product.
    AddTty("ttyUSB1", usb + "/1-3/1-3:1.0/ttyUSB1");
    SetDriver(usb + "/1-3/1-3:1.0/ttyUSB1", "usb-serial", "ch341-uart");
    SetUsb(usb + "/1-3", {{"idVendor", "1a86"}, {"idProduct", "7523"}});
    AddNode("ttyUSB1");
    // CDC ACM: the tty hangs from the interface itself.
    AddTty("ttyACM0", usb + "/1-2/1-2:1.0");
    SetDriver(usb + "/1-2/1-2:1.0", "usb", "cdc_acm");
    SetUsb(usb + "/1-2", {{"idVendor", "2341"},
                          {"idProduct", "0043"},
                          {"manufacturer", "Arduino"},
                          {"product", "Uno"}});
    AddNode("ttyACM0");
    // A product name that begins with its maker's.
    AddTty("ttyUSB2", usb + "/1-5/1-5:1.0/ttyUSB2");
    SetDriver(usb + "/1-5/1-5:1.0/ttyUSB2", "usb-serial", "cp210x");
    SetUsb(usb + "/1-5", {{"idVendor", "10c4"},
                          {"idProduct", "ea60"},
                          {"manufacturer", "Silicon Labs"},
                          {"product", "Silicon Labs CP2102 USB to UART Bridge Controller"}});
    AddNode("ttyUSB2");
    // Built-in UARTs: one on the PnP bus, one behind the serial core's own devices (Linux 6.3+).
    AddTty("ttyS0", "pnp0/00:04", "4");
    SetDriver("pnp0/00:04", "pnp", "serial");
    AddNode("ttyS0");
    const std::string base = "platform/serial8250/serial8250:0";
    AddTty("ttyS10", base + "/serial8250:0.10", "4");
    SetDriver(base + "/serial8250:0.10", "serial-base", "port");
    SetDriver(base, "serial-base", "ctrl");
    SetDriver("platform/serial8250", "platform", "serial8250");
    AddNode("ttyS10");
    AddTty("ttyS2", "pnp0/00:05", "4");
    SetDriver("pnp0/00:05", "pnp", "serial");
    AddNode("ttyS2");
    // Passed over: an empty UART slot, a console, and a port without a device node.
    AddTty("ttyS1", base + "/serial8250:0.1", "0");
    SetDriver(base + "/serial8250:0.1", "serial-base", "port");
    AddNode("ttyS1");
    AddVirtualTty("tty0");
    AddNode("tty0");
    AddTty("ttyUSB7", usb + "/1-4/1-4:1.0/ttyUSB7");
    SetDriver(usb + "/1-4/1-4:1.0/ttyUSB7", "usb-serial", "pl2303");
  }

  TempDir root_;
  fs::path sys_;
  fs::path dev_;
  std::vector<std::unique_ptr<Pty>> ptys_;
};

TEST_F(FakeMachine, ListsEveryKindInReadingOrderWithItsDescription) {
  BuildTypicalMachine();
  const std::vector<PortListing> ports = ListSysfsPorts(sys_.string(), dev_.string());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ttyACM0", "Arduino Uno (USB 2341:0043), driver cdc_acm"},
      {"ttyS0", "port 1, built-in serial port, driver serial"},
      {"ttyS2", "port 3, built-in serial port, driver serial"},
      {"ttyS10", "port 11, built-in serial port, driver serial8250"},
      {"ttyUSB0", "FTDI FT232R USB UART (USB 0403:6001, serial A1B2C3), driver ftdi_sio, also " +
                      Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")},
      {"ttyUSB1", "USB serial adapter, WCH CH340/CH341 (USB 1a86:7523), driver ch341-uart"},
      {"ttyUSB2",
       "Silicon Labs CP2102 USB to UART Bridge Controller (USB 10c4:ea60), driver cp210x"},
  };
  ASSERT_EQ(ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ports[i].argument, Dev(expected[i].first)) << i;
    EXPECT_EQ(ports[i].description, expected[i].second) << i;
  }
}

TEST_F(FakeMachine, ListedPathOpensAsAPort) {
  BuildTypicalMachine();
  const std::vector<PortListing> ports = ListSysfsPorts(sys_.string(), dev_.string());
  ASSERT_FALSE(ports.empty());
  constexpr PortNumber kPort = 231;
  PortRegistry registry;
  registry.AssignDevicePath(kPort, ports.back().argument.c_str());
  EXPECT_EQ(registry.OpenPort(kPort, 4096, 4096), kPortOk) << registry.LastPortErrorText();
}

TEST_F(FakeMachine, CalloutDevicesOfMacAndBsd) {
  for (const char* name :
       {"cu.usbserial-1410", "tty.usbserial-1410", "cu.Bluetooth-Incoming-Port", "cu.usbmodem14101",
        "cuaU0", "cuaU0.init", "cuaU0.lock", "cuau1", "cu.wchusbserial620", "null"}) {
    AddNode(name);
  }
  const std::vector<PortListing> ports = ListCalloutPorts(dev_.string());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"cu.Bluetooth-Incoming-Port", "Bluetooth"},
      {"cu.usbmodem14101", "USB modem or USB-serial device (CDC)"},
      {"cu.usbserial-1410", "USB serial adapter"},
      {"cu.wchusbserial620", "USB serial adapter"},
      {"cuaU0", "USB serial adapter"},
      {"cuau1", "built-in serial port"},
  };
  ASSERT_EQ(ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ports[i].argument, Dev(expected[i].first)) << i;
    EXPECT_EQ(ports[i].description, expected[i].second) << i;
  }
}

TEST(ComPortNumber, OnlyRegistryNamesOfPortsTheRegistryCanOpen) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"COM1", 1}, {"COM9", 9},  {"COM10", 10},  {"COM256", 256}, {"COM257", 0},
      {"COM0", 0}, {"COM01", 0}, {"com3", 0},    {"COM", 0},      {"COM3 ", 0},
      {"LPT1", 0}, {"COM-1", 0}, {"COM1000", 0},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(ComPortNumber(name), number) << name;
}

}  // namespace
}  // namespace talven
