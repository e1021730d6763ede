// The port table and everything about it that does not depend on the system: range checks, the
// order of an open, device naming and the last error. The system calls live in the backend.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "serial/port.h"
#include "serial/port_backend.h"
#include "trace/wire_trace.h"

namespace talven {
namespace {

bool InRange(PortNumber port) {
  return port >= kFirstPort && port <= kLastPort;
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

std::string DevicePath(const detail::PortTable& table, PortNumber port) {
  if (InRange(port) && !table.assignedPaths[static_cast<std::size_t>(port)].empty()) {
    return table.assignedPaths[static_cast<std::size_t>(port)];
  }
  return DefaultDevicePath(detail::NativeDevicePathStyle(), port);
}

detail::PortEntry& EntryOf(detail::PortTable& table, PortNumber port) {
  return table.entries[static_cast<std::size_t>(port)];
}

// Null while the port is out of range or closed.
detail::PortEntry* OpenEntry(detail::PortTable& table, PortNumber port) {
  if (!InRange(port) || EntryOf(table, port).open == 0) return nullptr;
  return &EntryOf(table, port);
}

void Trace(WireTrace* trace, WireDirection direction, const void* bytes, std::int32_t count) {
  if (trace != nullptr && count > 0) {
    trace->TraceBytes(direction, bytes, static_cast<std::size_t>(count));
  }
}

void Note(WireTrace* trace, const std::string& text) {
  if (trace != nullptr) trace->TraceNote(text.c_str());
}

}  // namespace

void PortError::Record(int systemCode, const char* reason, PortFault kind) {
  code = systemCode;
  fault = kind;
  const std::size_t n = std::min(std::strlen(reason), sizeof text - 1);
  std::memcpy(text, reason, n);
  text[n] = '\0';
}

std::size_t FormatDefaultDevicePath(DevicePathStyle style, PortNumber port, char* out,
                                    std::size_t capacity) {
  return CopyCut(DefaultDevicePath(style, port), out, capacity);
}

PortRegistry::PortRegistry(WireTrace* trace)
    : table_(std::make_unique<detail::PortTable>()), trace_(trace) {}

PortRegistry::~PortRegistry() {
  CloseAllPorts();
}

PortStatus PortRegistry::OpenPort(PortNumber port, std::int32_t inQueueSize,
                                  std::int32_t outQueueSize) {
  if (!InRange(port)) {
    lastError_.Record(0, "no such port number (the numbers run from 1 to 256)",
                      PortFault::kNotFound);
    return kPortNotOpen;
  }
  detail::PortEntry& entry = EntryOf(*table_, port);
  if (entry.open != 0) {
    lastError_.Record(0, "already open in this program");
    return kPortCallFailed;
  }

  entry = detail::PortEntry{};
  entry.error = &lastError_;
  const std::string path = DevicePath(*table_, port);
  if (detail::BackendOpen(entry, path.c_str(), inQueueSize, outQueueSize) != kPortOk) {
    entry = detail::PortEntry{};
    Note(trace_, "cannot open " + path + ": " + lastError_.text);
    return kPortCannotOpen;
  }
  entry.open = 1;
  Note(trace_, "opened " + path);
  // A port that opened is usable even if the device rejects part of the defaults.
  ApplyLinkSettings(port, kDefaultLinkSettings);
  SetReadTimeout(port, 1000);
  SetWriteTimeout(port, 1000);
  return kPortOk;
}

PortStatus PortRegistry::ClosePort(PortNumber port) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry) return kPortNotOpen;
  if (!detail::BackendClose(*entry)) return kPortCallFailed;
  *entry = detail::PortEntry{};
  return kPortOk;
}

void PortRegistry::CloseAllPorts() {
  for (PortNumber port = kFirstPort; port <= kLastPort; ++port) {
    if (EntryOf(*table_, port).open != 0) ClosePort(port);
  }
}

PortStatus PortRegistry::ApplyLinkSettings(PortNumber port, LinkSettingsWord word) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry) return kPortNotOpen;
  const LinkSettings settings = DecodeLinkSettings(word);
  if (settings.undefinedIndex) {
    lastError_.Record(0, "the settings word holds a value no table defines",
                      PortFault::kSettingsRefused);
    return kPortCallFailed;
  }
  const PortStatus status = detail::BackendApply(*entry, settings);
  // Whatever the system said, the device did not take the settings.
  if (status != kPortOk) lastError_.fault = PortFault::kSettingsRefused;
  if (settings.baudRate) {
    Note(trace_, std::to_string(*settings.baudRate) + " baud" +
                     (status == kPortOk ? "" : std::string(", refused: ") + lastError_.text));
  }
  return status;
}

PortStatus PortRegistry::SetReadTimeout(PortNumber port, std::int32_t milliseconds) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  return entry ? detail::BackendSetReadTimeout(*entry, milliseconds) : kPortNotOpen;
}

PortStatus PortRegistry::SetWriteTimeout(PortNumber port, std::int32_t milliseconds) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  return entry ? detail::BackendSetWriteTimeout(*entry, milliseconds) : kPortNotOpen;
}

std::int32_t PortRegistry::ReadBytes(PortNumber port, void* buffer, std::int32_t count) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry || buffer == nullptr || count <= 0) return 0;
  const std::int32_t got = detail::BackendRead(*entry, buffer, count);
  Trace(trace_, WireDirection::kFromScanner, buffer, got);
  return got;
}

std::int32_t PortRegistry::ReadWaitingBytes(PortNumber port, void* buffer, std::int32_t capacity) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry || buffer == nullptr || capacity <= 0) return 0;
  const std::int32_t got = detail::BackendReadWaiting(*entry, buffer, capacity);
  Trace(trace_, WireDirection::kFromScanner, buffer, got);
  return got;
}

std::int32_t PortRegistry::ReadArrivingBytes(PortNumber port, void* buffer, std::int32_t capacity,
                                             std::int32_t timeoutMs) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry || buffer == nullptr || capacity <= 0) return 0;
  const std::int32_t got = detail::BackendReadArriving(*entry, buffer, capacity, timeoutMs);
  Trace(trace_, WireDirection::kFromScanner, buffer, got);
  return got;
}

std::int32_t PortRegistry::WriteBytes(PortNumber port, const void* buffer, std::int32_t count) {
  detail::PortEntry* entry = OpenEntry(*table_, port);
  if (!entry || buffer == nullptr || count <= 0) return 0;
  const std::int32_t written = detail::BackendWrite(*entry, buffer, count);
  Trace(trace_, WireDirection::kToScanner, buffer, written);
  if (written < count) {
    Note(trace_, "write cut short: " + std::to_string(written) + " of " + std::to_string(count) +
                     " bytes went out");
  }
  return written;
}

bool PortRegistry::PortFailed(PortNumber port) const {
  const detail::PortEntry* entry = OpenEntry(*table_, port);
  return entry && entry->failed;
}

std::size_t PortRegistry::FormatDevicePath(PortNumber port, char* out, std::size_t capacity) const {
  return CopyCut(DevicePath(*table_, port), out, capacity);
}

void PortRegistry::AssignDevicePath(PortNumber port, const char* path) {
  if (!InRange(port)) return;
  table_->assignedPaths[static_cast<std::size_t>(port)] = path ? path : "";
}

}  // namespace talven
