// The FTDI driver keeps each device instance's settings under
// HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters.
#include <windows.h>

#include <string>
#include <vector>

#include "discovery/ftdi_latency.h"

namespace talven {
namespace {

constexpr char kFtdiBus[] = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

// The names of a key's subkeys.
std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    const LONG status = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name, size);
  }
  return names;
}

bool ReadSetting(HKEY parent, const std::string& path, FtdiPortSetting& setting) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  char portName[64] = {};
  DWORD size = sizeof portName - 1;
  DWORD type = 0;
  bool found = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                                &size) == ERROR_SUCCESS &&
               type == REG_SZ;
  DWORD latency = 0;
  size = sizeof latency;
  found = found &&
          RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                           &size) == ERROR_SUCCESS &&
          type == REG_DWORD;
  RegCloseKey(key);
  if (!found) return false;
  setting.portName = std::string(portName, strnlen(portName, sizeof portName));
  setting.latencyMs = latency;
  return true;
}

}  // namespace

std::map<PortNumber, unsigned long> ReadSlowFtdiPorts() {
  std::map<std::string, FtdiPortSetting> instances;
  HKEY bus = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFtdiBus, 0, KEY_READ, &bus) != ERROR_SUCCESS) return {};
  for (const std::string& device : SubkeyNames(bus)) {
    HKEY deviceKey = nullptr;
    if (RegOpenKeyExA(bus, device.c_str(), 0, KEY_READ, &deviceKey) != ERROR_SUCCESS) continue;
    for (const std::string& instance : SubkeyNames(deviceKey)) {
      FtdiPortSetting setting;
      if (ReadSetting(deviceKey, instance + "\\Device Parameters", setting)) {
        instances[device + "\\" + instance] = setting;
      }
    }
    RegCloseKey(deviceKey);
  }
  RegCloseKey(bus);
  return SlowFtdiPorts(instances);
}

}  // namespace talven
