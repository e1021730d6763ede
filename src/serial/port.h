// The floor of the serial link: the port registry, its per-platform backends and the line exchange.
// Files here include this folder, the wire trace and the ground below it, never the transfers or
// the session.
//
// The port registry: the program's only access to serial hardware. A session owns one; every
// operation takes a PortNumber and answers a PortStatus or a byte count. No operation prints.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "process/port_number.h"
#include "serial/link_settings.h"

namespace talven {

using PortStatus = std::int32_t;

inline constexpr PortStatus kPortOk = 0;
inline constexpr PortStatus kPortNotOpen = 1;     // out of range, or not open
inline constexpr PortStatus kPortCallFailed = 2;  // a system call failed; OpenPort: already open
inline constexpr PortStatus kPortCannotOpen = 3;  // OpenPort: the device cannot be opened

// What a failure was, so that callers can suggest a next step without reading the text.
enum class PortFault {
  kNone,
  kNotFound,         // no device at that name or number
  kInUse,            // another program holds the device
  kNoPermission,     // the user may not open it
  kSettingsRefused,  // the device would not take the line settings
  kVanished,         // the device went away under an open port
  kOther,
};

// The last failed open or call: the system's code (errno, GetLastError), a short reason ("no such
// device", "in use by another program", ...) and its kind.
struct PortError {
  int code = 0;
  char text[160] = "";
  PortFault fault = PortFault::kNone;

  void Record(int systemCode, const char* reason, PortFault kind = PortFault::kOther);
};

class WireTrace;

namespace detail {
struct PortTable;
}

// The device a port number opens by default: "\\.\COM<n>" in Windows' style, "/dev/ttyS<n-1>" in
// the POSIX style. Returns the length written (always NUL-terminated, cut to fit).
enum class DevicePathStyle { kWindows, kPosix };
std::size_t FormatDefaultDevicePath(DevicePathStyle style, PortNumber port, char* out,
                                    std::size_t capacity);

// The ports one session holds: its own table of ports 1..256, its last error and the trace it
// reports every byte to. Whatever is still open when the registry goes is closed then.
class PortRegistry {
 public:
  explicit PortRegistry(WireTrace* trace = nullptr);
  ~PortRegistry();  // closes what is still open
  PortRegistry(const PortRegistry&) = delete;
  PortRegistry& operator=(const PortRegistry&) = delete;

  PortStatus OpenPort(PortNumber port, std::int32_t inQueueSize, std::int32_t outQueueSize);
  PortStatus ClosePort(PortNumber port);
  void CloseAllPorts();
  PortStatus ApplyLinkSettings(PortNumber port, LinkSettingsWord word);
  PortStatus SetReadTimeout(PortNumber port, std::int32_t milliseconds);
  PortStatus SetWriteTimeout(PortNumber port, std::int32_t milliseconds);
  // Up to count bytes, waiting up to the read time-out (renewed by each arrival); answers the
  // count.
  std::int32_t ReadBytes(PortNumber port, void* buffer, std::int32_t count);
  std::int32_t WriteBytes(PortNumber port, const void* buffer, std::int32_t count);
  // Reads what has already arrived, up to capacity, without waiting: one system call where the
  // system allows it. 0 when nothing is waiting (or the port is bad or closed).
  std::int32_t ReadWaitingBytes(PortNumber port, void* buffer, std::int32_t capacity);
  // Waits in the OS, without spinning, up to timeoutMs (negative: no limit) for the first byte,
  // then takes it with whatever came along, up to capacity. 0 when nothing came: a time-out, a
  // signal, or a failed device (PortFailed tells).
  std::int32_t ReadArrivingBytes(PortNumber port, void* buffer, std::int32_t capacity,
                                 std::int32_t timeoutMs);

  // True once the device has failed under an open port (hang-up, unplugged adapter, read errors).
  bool PortFailed(PortNumber port) const;

  // The device a port number opens: the default naming in this system's style, unless a path was
  // assigned to the number. Returns as FormatDefaultDevicePath does.
  std::size_t FormatDevicePath(PortNumber port, char* out, std::size_t capacity) const;
  void AssignDevicePath(PortNumber port, const char* path);  // null or "" drops the assignment

  const char* LastPortErrorText() const { return lastError_.text; }
  PortFault LastPortFault() const { return lastError_.fault; }

 private:
  std::unique_ptr<detail::PortTable> table_;
  PortError lastError_;
  WireTrace* trace_ = nullptr;
};

}  // namespace talven
