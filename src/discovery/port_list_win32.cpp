// Listing serial ports on Windows: the COM ports the registry's SERIALCOMM map holds, named as the
// Device Manager names them where SetupAPI knows the device.
#include <windows.h>
// After windows.h, which setupapi.h builds on.
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <string>

#include "discovery/ftdi_latency.h"
#include "discovery/port_list.h"
#include "text/utf8.h"

namespace talven {
namespace {

// GUID_DEVCLASS_PORTS, the "Ports (COM & LPT)" class; spelled out so no GUID library is needed.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Registry strings, UTF-16 (size in bytes), need not end in a NUL; the names are kept as UTF-8.
std::string RegistryText(const wchar_t* data, DWORD size) {
  std::u16string text(data, data + size / sizeof(wchar_t));
  const std::size_t end = text.find(u'\0');
  return Utf8FromUtf16(end == std::u16string::npos ? text : text.substr(0, end));
}

// Friendly names ("USB Serial Port (COM3)") of the present ports, by port number.
std::map<int, std::string> FriendlyNames() {
  std::map<int, std::string> names;
  const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t portName[64];
    DWORD size = sizeof portName;
    DWORD type = 0;
    const LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                         reinterpret_cast<BYTE*>(portName), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    const int number = ComPortNumber(RegistryText(portName, size));
    if (number == 0) continue;  // LPT ports share the class
    wchar_t friendly[256];
    DWORD friendlySize = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(friendly), sizeof friendly,
                                          &friendlySize)) {
      names[number] = RegistryText(friendly, friendlySize);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return names;
}

// SERIALCOMM: value names are kernel device names ("\Device\Serial0"), data the port ("COM1").
std::map<int, std::string> RegisteredPorts() {
  std::map<int, std::string> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameSize = static_cast<DWORD>(std::size(name));  // in characters
    wchar_t data[64];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG status = RegEnumValueW(key, index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string port = RegistryText(data, dataSize);
    if (const int number = ComPortNumber(port); number != 0) {
      ports[number] = port + " (" + RegistryText(name, nameSize * sizeof(wchar_t)) + ")";
    }
  }
  RegCloseKey(key);
  return ports;
}

}  // namespace

std::vector<PortListing> ListSerialPorts() {
  const std::map<int, std::string> friendly = FriendlyNames();
  const std::map<int, std::string> registered = RegisteredPorts();
  std::map<int, std::string> merged = registered;
  // A friendly name says more than the kernel's device name.
  for (const auto& [number, name] : friendly) merged[number] = name;
  std::vector<PortListing> ports;
  const std::map<PortNumber, unsigned long> slow = ReadSlowFtdiPorts();
  for (const auto& [number, description] : merged) {
    const auto latency = slow.find(number);
    ports.push_back(
        {std::to_string(number), latency == slow.end()
                                     ? description
                                     : description + "; " + FtdiLatencyAdvice(latency->second)});
  }
  return ports;
}

}  // namespace talven
