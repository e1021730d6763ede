// The floor of the serial link: the port registry, its per-platform backends, the line exchange and
// the wire trace. Files here include this folder and the ground below it, never the transfers or
// the session.
//
// The port registry: the program's only access to serial hardware. Ports 1..256 are kept in one
// process-wide table; every operation takes a PortNumber and answers a PortStatus or a byte count.
// No operation prints.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "process/port_number.h"
#include "serial/link_settings.h"

namespace talven {

using PortStatus = std::int32_t;

inline constexpr PortStatus kPortOk = 0;
inline constexpr PortStatus kPortNotOpen = 1;     // out of range, or not open
inline constexpr PortStatus kPortCallFailed = 2;  // a system call failed; OpenPort: already open
inline constexpr PortStatus kPortCannotOpen = 3;  // OpenPort: the device cannot be opened

PortStatus CheckPort(PortNumber port);
PortStatus OpenPort(PortNumber port, std::int32_t inQueueSize, std::int32_t outQueueSize);
PortStatus ClosePort(PortNumber port);
void CloseAllPorts();
PortStatus ApplyLinkSettings(PortNumber port, LinkSettingsWord word);
PortStatus SetReadTimeout(PortNumber port, std::int32_t milliseconds);
PortStatus SetWriteTimeout(PortNumber port, std::int32_t milliseconds);
std::int32_t InQueueCount(PortNumber port);
std::int32_t OutQueueCount(PortNumber port);
std::int32_t ReadBytes(PortNumber port, void* buffer, std::int32_t count);
std::int32_t WriteBytes(PortNumber port, const void* buffer, std::int32_t count);
// Reads what has already arrived, up to capacity, without waiting: one system call where the
// system allows it. 0 when nothing is waiting (or the port is bad or closed).
std::int32_t ReadWaitingBytes(PortNumber port, void* buffer, std::int32_t capacity);
PortStatus PurgeReceive(PortNumber port);
PortStatus PurgeTransmit(PortNumber port);
PortStatus SetBaudRate(PortNumber port, std::uint32_t bitsPerSecond);
PortStatus SetFlowLimits(PortNumber port, std::uint16_t xoffLimit, std::uint16_t xonLimit);

// Waiting for input without spinning: blocks in the OS for up to timeoutMs (negative: no limit).
enum class PortWait { kReady, kTimeout, kFailed, kInterrupted };
PortWait WaitForInput(PortNumber port, std::int32_t timeoutMs);

// True once the device has failed under an open port (hang-up, unplugged adapter, read errors).
bool PortFailed(PortNumber port);

// The device a port number opens: "\\.\COM<n>" on Windows, "/dev/ttyS<n-1>" elsewhere, unless a
// path was assigned to the number. Returns the length written (always NUL-terminated, cut to fit).
std::size_t FormatDevicePath(PortNumber port, char* out, std::size_t capacity);
void AssignDevicePath(PortNumber port, const char* path);  // null or "" drops the assignment

// The default naming alone, in either system's style; returns as FormatDevicePath does.
enum class DevicePathStyle { kWindows, kPosix };
std::size_t FormatDefaultDevicePath(DevicePathStyle style, PortNumber port, char* out,
                                    std::size_t capacity);

// The system's error code of the last failed open or call (errno, GetLastError), for diagnostics.
int LastPortError();
// A short reason for the last failure ("no such device", "in use by another program", ...).
const char* LastPortErrorText();

// What the last failure was, so that callers can suggest a next step without reading the text.
enum class PortFault {
  kNone,
  kNotFound,         // no device at that name or number
  kInUse,            // another program holds the device
  kNoPermission,     // the user may not open it
  kSettingsRefused,  // the device would not take the line settings
  kVanished,         // the device went away under an open port
  kOther,
};
PortFault LastPortFault();

}  // namespace talven
