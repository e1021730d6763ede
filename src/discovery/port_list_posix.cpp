// Listing serial ports on Linux (sysfs) and on macOS and the BSDs (call-out devices in /dev).
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "discovery/port_list.h"
#include "serial/port.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute: one short line of text, or "" when it is not there.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!in || !std::getline(in, text)) return "";
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

fs::path LinkTarget(const fs::path& link) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  return error ? fs::path() : target;
}

std::string LinkTargetName(const fs::path& link) {
  return LinkTarget(link).filename().string();
}

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

// Directory entries' names, unsorted; none when the directory cannot be read.
std::vector<std::string> EntryNames(const fs::path& directory) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(directory, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

void SortByDeviceName(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return DeviceNameBefore(a, b); });
}

// The chips behind the usual USB-serial drivers, for adapters that name no product.
const char* ChipOfDriver(const std::string& driver) {
  struct Known {  // texts held in the rows: no pointers, so the table stays read-only
    char driver[12];
    char chip[24];
  };
  static constexpr Known kKnown[] = {
      {"ftdi_sio", "FTDI"},          {"cp210x", "Silicon Labs CP210x"},
      {"ch341", "WCH CH340/CH341"},  {"ch341-uart", "WCH CH340/CH341"},
      {"pl2303", "Prolific PL2303"}, {"cdc_acm", "USB modem (CDC ACM)"},
  };
  for (const Known& known : kKnown) {
    if (driver == known.driver) return known.chip;
  }
  return nullptr;
}

// The driver of the hardware behind a tty. Since Linux 6.3 the serial core puts devices of its own
// ("serial-base" bus, drivers "port" and "ctrl") between the tty and the hardware: look past them.
std::string DriverOf(const fs::path& device) {
  std::error_code error;
  fs::path dir = fs::canonical(device, error);
  if (error) return "";
  for (int level = 0; level < 4 && !dir.empty(); ++level) {
    const fs::path driver = LinkTarget(dir / "driver");
    if (driver.empty()) return "";
    if (driver.string().find("serial-base") == std::string::npos) {
      return driver.filename().string();
    }
    dir = dir.parent_path();
  }
  return "";
}

// The USB device a tty hangs from: the nearest directory above it with a vendor id. The tty's
// device is the usb-serial port (two levels below) or the interface (one level below).
fs::path UsbDeviceOf(const fs::path& device) {
  std::error_code error;
  fs::path dir = fs::canonical(device, error);
  if (error) return {};
  for (int level = 0; level < 4 && !dir.empty(); ++level) {
    if (Exists(dir / "idVendor")) return dir;
    if (dir == dir.parent_path()) break;
    dir = dir.parent_path();
  }
  return {};
}

std::string UsbDescription(const fs::path& usb, const std::string& driver) {
  const std::string maker = ReadAttribute(usb / "manufacturer");
  const std::string product = ReadAttribute(usb / "product");
  std::string text;
  if (!product.empty()) {
    // Many products repeat their maker's name.
    text = (maker.empty() || product.rfind(maker, 0) == 0) ? product : maker + " " + product;
  } else if (const char* chip = ChipOfDriver(driver)) {
    text = std::string("USB serial adapter, ") + chip;
  } else {
    text = "USB serial adapter";
  }
  text += " (USB " + ReadAttribute(usb / "idVendor") + ":" + ReadAttribute(usb / "idProduct");
  const std::string serial = ReadAttribute(usb / "serial");
  if (!serial.empty()) text += ", serial " + serial;
  return text + ")";
}

// Names of the by-id links, keyed by the tty they point at.
std::vector<std::pair<std::string, std::string>> ByIdLinks(const fs::path& devRoot) {
  std::vector<std::pair<std::string, std::string>> links;
  const fs::path byId = devRoot / "serial" / "by-id";
  std::vector<std::string> names = EntryNames(byId);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string target = LinkTargetName(byId / name);
    if (!target.empty()) links.emplace_back(target, (byId / name).string());
  }
  return links;
}

// The n of the "/dev/ttyS<n-1>" that a port number opens, or 0.
int NumberOfLegacyName(const std::string& name) {
  if (name.size() < 5 || name.size() > 7 || name.compare(0, 4, "ttyS") != 0) return 0;
  int index = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    index = index * 10 + (name[i] - '0');
  }
  return index + 1 <= kLastPort ? index + 1 : 0;
}

std::string CalloutDescription(const std::string& name) {
  const auto has = [&name](const char* part) { return name.find(part) != std::string::npos; };
  if (has("Bluetooth")) return "Bluetooth";
  if (has("usbmodem")) return "USB modem or USB-serial device (CDC)";
  if (has("usbserial") || has("USBtoUART") || has("wchusbserial") || name.rfind("cuaU", 0) == 0) {
    return "USB serial adapter";
  }
  if (name.rfind("cuau", 0) == 0 || name.rfind("cuad", 0) == 0) return "built-in serial port";
  return "";
}

}  // namespace

std::vector<PortListing> ListSysfsPorts(const std::string& sysRoot, const std::string& devRoot) {
  const fs::path classDir = fs::path(sysRoot) / "class" / "tty";
  std::vector<std::string> names = EntryNames(classDir);
  SortByDeviceName(names);
  const auto byId = ByIdLinks(devRoot);

  std::vector<PortListing> ports;
  for (const std::string& name : names) {
    const fs::path entry = classDir / name;
    // Virtual terminals and pseudo-terminals have no device, or no driver, behind them.
    const std::string driver = DriverOf(entry / "device");
    if (driver.empty()) continue;
    // The 8250 driver keeps slots for UARTs that are not fitted; their type is 0 (unknown).
    if (ReadAttribute(entry / "type") == "0") continue;
    const fs::path node = fs::path(devRoot) / name;
    if (!Exists(node)) continue;

    std::string description;
    if (const int number = NumberOfLegacyName(name); number != 0) {
      description = "port " + std::to_string(number) + ", ";
    }
    const fs::path usb = UsbDeviceOf(entry / "device");
    if (!usb.empty()) {
      description += UsbDescription(usb, driver);
    } else {
      description += "built-in serial port";
    }
    description += ", driver " + driver;
    for (const auto& [target, link] : byId) {
      if (target == name) description += ", also " + link;
    }
    ports.push_back({node.string(), description});
  }
  return ports;
}

std::vector<PortListing> ListCalloutPorts(const std::string& devRoot) {
  std::vector<std::string> names = EntryNames(devRoot);
  SortByDeviceName(names);
  std::vector<PortListing> ports;
  for (const std::string& name : names) {
    // Call-out devices open without waiting for carrier, which a scanner does not raise.
    if (name.rfind("cu.", 0) != 0 && name.rfind("cua", 0) != 0) continue;
    // The BSDs' ".init" and ".lock" companions set defaults; they carry no data.
    if (name.find(".init") != std::string::npos || name.find(".lock") != std::string::npos)
      continue;
    ports.push_back({(fs::path(devRoot) / name).string(), CalloutDescription(name)});
  }
  return ports;
}

// TALVEN_SYSFS_ROOT and TALVEN_DEV_ROOT move the roots the listing reads from ("/sys", "/dev"), so
// the tests can list a made-up machine. Nothing else in the program reads them.
std::vector<PortListing> ListSerialPorts() {
  const char* sysRoot = std::getenv("TALVEN_SYSFS_ROOT");
  const char* devRoot = std::getenv("TALVEN_DEV_ROOT");
  const std::string dev = devRoot != nullptr && devRoot[0] != '\0' ? devRoot : "/dev";
#ifdef __linux__
  const std::string sys = sysRoot != nullptr && sysRoot[0] != '\0' ? sysRoot : "/sys";
  return ListSysfsPorts(sys, dev);
#else
  (void)sysRoot;
  return ListCalloutPorts(dev);
#endif
}

}  // namespace talven
