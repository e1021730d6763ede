// The floor of the port listing, above the serial link whose device naming it shows; only main
// reads it.
//
// The serial ports this machine has, for "talven --list-ports": what to give talven as PORT and
// what the system knows about each device. Only the listing reads these sources; opening a port
// goes through the port registry alone.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace talven {

struct PortListing {
  std::string argument;     // what to give as PORT: a port number or a device path
  std::string description;  // empty when the system says nothing about the device
};

// The system's serial ports, in the order a person would read them (ttyS2 before ttyS10).
// Linux: the tty class in sysfs; macOS and the BSDs: the call-out devices; Windows: the registry.
std::vector<PortListing> ListSerialPorts();

// One port a line, the arguments in a column of their own; a line saying so when there is none.
void PrintPortList(std::FILE* out, const std::vector<PortListing>& ports);

// The n of a Windows port name "COMn" within 1..256; 0 for any other text.
int ComPortNumber(std::string_view name);

// Orders device names by their text, with a trailing number compared by value.
bool DeviceNameBefore(std::string_view a, std::string_view b);

#ifndef _WIN32
// The ports of a Linux system whose sysfs is mounted at sysRoot and whose device nodes are under
// devRoot: every tty with a device and a driver behind it and a node in devRoot, UART slots the
// kernel found empty left out. Descriptions come from the USB device above the tty, the driver
// and the symbolic links in devRoot/serial/by-id.
std::vector<PortListing> ListSysfsPorts(const std::string& sysRoot, const std::string& devRoot);

// The call-out devices under devRoot ("cu.usbserial-1410" on macOS, "cuaU0" on the BSDs).
std::vector<PortListing> ListCalloutPorts(const std::string& devRoot);
#endif

}  // namespace talven
