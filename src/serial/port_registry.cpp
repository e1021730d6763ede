// The port table and everything about it that does not depend on the system: range checks, the
// order of an open, device naming and the last error. The system calls live in the backend.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>

#include "process/exit_path.h"
#include "serial/port.h"
#include "serial/port_backend.h"
#include "serial/wire_trace.h"

namespace talven {
namespace {

constexpr std::size_t kTableSize = static_cast<std::size_t>(kLastPort) + 1;  // entry 0 unused

std::array<detail::PortEntry, kTableSize> gPorts;
std::array<std::string, kTableSize> gAssignedPaths;

int gLastError = 0;
char gLastErrorText[160] = "";
PortFault gLastFault = PortFault::kNone;

bool InRange(PortNumber port) {
  return port >= kFirstPort && port <= kLastPort;
}

detail::PortEntry& EntryOf(PortNumber port) {
  return gPorts[static_cast<std::size_t>(port)];
}

// Null while the port is out of range or closed.
detail::PortEntry* OpenEntry(PortNumber port) {
  if (!InRange(port) || EntryOf(port).open == 0) return nullptr;
  return &EntryOf(port);
}

std::size_t CopyCut(const std::string& text, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return n;
}

std::string DefaultDevicePath(DevicePathStyle style, PortNumber port) {
  const bool windows = style == DevicePathStyle::kWindows;
  // Windows needs the device namespace prefix for COM10 and up; it works for all numbers.
  std::string path = windows ? "\\\\.\\COM" : "/dev/ttyS";
  char digits[16];
  const long number = windows ? static_cast<long>(port) : static_cast<long>(port) - 1;
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  path.append(digits, end);
  return path;
}

std::string DevicePath(PortNumber port) {
  if (InRange(port) && !gAssignedPaths[static_cast<std::size_t>(port)].empty()) {
    return gAssignedPaths[static_cast<std::size_t>(port)];
  }
  return DefaultDevicePath(detail::NativeDevicePathStyle(), port);
}

}  // namespace

namespace detail {

void RecordPortError(int code, const char* text, PortFault fault) {
  gLastError = code;
  gLastFault = fault;
  const std::size_t n = std::min(std::strlen(text), sizeof gLastErrorText - 1);
  std::memcpy(gLastErrorText, text, n);
  gLastErrorText[n] = '\0';
}

}  // namespace detail

PortStatus CheckPort(PortNumber port) {
  return OpenEntry(port) ? kPortOk : kPortNotOpen;
}

PortStatus OpenPort(PortNumber port, std::int32_t inQueueSize, std::int32_t outQueueSize) {
  if (!InRange(port)) {
    detail::RecordPortError(0, "no such port number (the numbers run from 1 to 256)",
                            PortFault::kNotFound);
    return kPortNotOpen;
  }
  detail::PortEntry& entry = EntryOf(port);
  if (entry.open != 0) {
    detail::RecordPortError(0, "already open in this program");
    return kPortCallFailed;
  }

  entry = detail::PortEntry{};
  const std::string path = DevicePath(port);
  entry.ahead = detail::TakeReadAheadSlot();
  if (entry.ahead == nullptr) {
    detail::RecordPortError(0, "too many ports open in this program");
  } else if (detail::BackendOpen(entry, path.c_str(), inQueueSize, outQueueSize) == kPortOk) {
    entry.open = 1;
  }
  if (entry.open == 0) {
    detail::ReleaseReadAheadSlot(entry.ahead);
    entry = detail::PortEntry{};
    TraceWireNote(("cannot open " + path + ": " + gLastErrorText).c_str());
    return kPortCannotOpen;
  }
  TraceWireNote(("opened " + path).c_str());
  RunOnExit(CloseAllPorts);
  // A port that opened is usable even if the device rejects part of the defaults.
  ApplyLinkSettings(port, kDefaultLinkSettings);
  SetReadTimeout(port, 1000);
  SetWriteTimeout(port, 1000);
  return kPortOk;
}

PortStatus ClosePort(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry) return kPortNotOpen;
  if (!detail::BackendClose(*entry)) return kPortCallFailed;
  detail::ReleaseReadAheadSlot(entry->ahead);
  *entry = detail::PortEntry{};
  return kPortOk;
}

void CloseAllPorts() {
  for (PortNumber port = kFirstPort; port <= kLastPort; ++port) {
    if (EntryOf(port).open != 0) ClosePort(port);
  }
}

PortStatus ApplyLinkSettings(PortNumber port, LinkSettingsWord word) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry) return kPortNotOpen;
  const LinkSettings settings = DecodeLinkSettings(word);
  if (settings.undefinedIndex) {
    detail::RecordPortError(0, "the settings word holds a value no table defines",
                            PortFault::kSettingsRefused);
    return kPortCallFailed;
  }
  const PortStatus status = detail::BackendApply(*entry, settings);
  // Whatever the system said, the device did not take the settings.
  if (status != kPortOk) gLastFault = PortFault::kSettingsRefused;
  if (settings.baudRate) {
    const std::string note = std::to_string(*settings.baudRate) + " baud" +
                             (status == kPortOk ? "" : std::string(", refused: ") + gLastErrorText);
    TraceWireNote(note.c_str());
  }
  return status;
}

PortStatus SetReadTimeout(PortNumber port, std::int32_t milliseconds) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendSetReadTimeout(*entry, milliseconds) : kPortNotOpen;
}

PortStatus SetWriteTimeout(PortNumber port, std::int32_t milliseconds) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendSetWriteTimeout(*entry, milliseconds) : kPortNotOpen;
}

std::int32_t InQueueCount(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendInQueueCount(*entry) : 0;
}

std::int32_t OutQueueCount(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendOutQueueCount(*entry) : 0;
}

std::int32_t ReadBytes(PortNumber port, void* buffer, std::int32_t count) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry || buffer == nullptr || count <= 0) return 0;
  const std::int32_t got = detail::BackendRead(*entry, buffer, count);
  if (got > 0) TraceWireBytes(WireDirection::kFromScanner, buffer, static_cast<std::size_t>(got));
  return got;
}

std::int32_t ReadWaitingBytes(PortNumber port, void* buffer, std::int32_t capacity) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry || buffer == nullptr || capacity <= 0) return 0;
  const std::int32_t got = detail::BackendReadWaiting(*entry, buffer, capacity);
  if (got > 0) TraceWireBytes(WireDirection::kFromScanner, buffer, static_cast<std::size_t>(got));
  return got;
}

std::int32_t WriteBytes(PortNumber port, const void* buffer, std::int32_t count) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry || buffer == nullptr || count <= 0) return 0;
  const std::int32_t written = detail::BackendWrite(*entry, buffer, count);
  if (written > 0) {
    TraceWireBytes(WireDirection::kToScanner, buffer, static_cast<std::size_t>(written));
  }
  if (written < count) {
    TraceWireNote(("write cut short: " + std::to_string(written) + " of " + std::to_string(count) +
                   " bytes went out")
                      .c_str());
  }
  return written;
}

PortStatus PurgeReceive(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry) return kPortNotOpen;
  detail::BackendPurge(*entry, true);
  return kPortOk;
}

PortStatus PurgeTransmit(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(port);
  if (!entry) return kPortNotOpen;
  detail::BackendPurge(*entry, false);
  return kPortOk;
}

PortStatus SetBaudRate(PortNumber port, std::uint32_t bitsPerSecond) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendSetBaudRate(*entry, bitsPerSecond) : kPortNotOpen;
}

PortStatus SetFlowLimits(PortNumber port, std::uint16_t xoffLimit, std::uint16_t xonLimit) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendSetFlowLimits(*entry, xoffLimit, xonLimit) : kPortNotOpen;
}

PortWait WaitForInput(PortNumber port, std::int32_t timeoutMs) {
  detail::PortEntry* entry = OpenEntry(port);
  return entry ? detail::BackendWaitForInput(*entry, timeoutMs) : PortWait::kFailed;
}

bool PortFailed(PortNumber port) {
  const detail::PortEntry* entry = OpenEntry(port);
  return entry && entry->failed;
}

std::size_t FormatDevicePath(PortNumber port, char* out, std::size_t capacity) {
  return CopyCut(DevicePath(port), out, capacity);
}

void AssignDevicePath(PortNumber port, const char* path) {
  if (!InRange(port)) return;
  gAssignedPaths[static_cast<std::size_t>(port)] = path ? path : "";
}

std::size_t FormatDefaultDevicePath(DevicePathStyle style, PortNumber port, char* out,
                                    std::size_t capacity) {
  return CopyCut(DefaultDevicePath(style, port), out, capacity);
}

int LastPortError() {
  return gLastError;
}

const char* LastPortErrorText() {
  return gLastErrorText;
}

PortFault LastPortFault() {
  return gLastFault;
}

}  // namespace talven
