// Between the port registry (range checks, the table, the order of an open) and the one system
// backend linked in (port_posix.cpp or port_win32.cpp). Private to src/serial and its tests.
#pragma once

#include <cstdint>

#include "serial/link_settings.h"
#include "serial/port.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <termios.h>
#endif

namespace talven::detail {

// DTR, RTS and output flow as last applied. Windows keeps them in the port's DCB; termios has no
// room for them (CRTSCTS merges RTS handshake and CTS flow), so POSIX remembers them here.
struct LineState {
  DtrControl dtr = DtrControl::kEnable;
  RtsControl rts = RtsControl::kEnable;
  bool ctsOutputFlow = false;
  bool dsrOutputFlow = false;
};

// Bytes read from the device ahead of the caller. Small reads (a reply taken byte by byte) then
// cost one system call per burst instead of one per byte; to the callers they are still in the
// port's input queue.
struct ReadAhead {
  unsigned char bytes[4096];
  std::uint16_t position = 0;
  std::uint16_t length = 0;
  std::int32_t Waiting() const { return length - position; }
};

struct PortEntry {
  std::int32_t open = 0;
  bool failed = false;
#ifdef _WIN32
  HANDLE handle = INVALID_HANDLE_VALUE;
#else
  int fd = -1;
  ReadAhead* ahead = nullptr;  // from a small pool, so that the table of 257 ports stays small
  LineState line;
  std::int32_t readTimeoutMs = 0;
  std::int32_t writeTimeoutMs = 0;
  std::uint16_t xoffLimit = 0;
  std::uint16_t xonLimit = 0;
#endif
};

// The registry's side.
void RecordPortError(int code, const char* text);

// The backend's side. Each is called with an entry of an open port, except BackendOpen.
DevicePathStyle NativeDevicePathStyle();
// Answers kPortOk (the entry holds the device) or kPortCannotOpen.
PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t inQueueSize,
                       std::int32_t outQueueSize);
bool BackendClose(PortEntry& entry);
PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings);
PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds);
PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds);
std::int32_t BackendInQueueCount(PortEntry& entry);
std::int32_t BackendOutQueueCount(PortEntry& entry);
std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count);
std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity);
std::int32_t BackendWrite(PortEntry& entry, const void* buffer, std::int32_t count);
void BackendPurge(PortEntry& entry, bool receive);
PortStatus BackendSetBaudRate(PortEntry& entry, std::uint32_t bitsPerSecond);
PortStatus BackendSetFlowLimits(PortEntry& entry, std::uint16_t xoffLimit, std::uint16_t xonLimit);
PortWait BackendWaitForInput(PortEntry& entry, std::int32_t timeoutMs);

// Pure mappings of decoded settings onto the system's structure, in the order the word lists them.
#ifdef _WIN32
void ApplyToDcb(const LinkSettings& settings, DCB& dcb);
#else
// False, with both left untouched, when termios cannot express the settings (a speed outside the
// standard table, 4 data bits, mark or space parity without CMSPAR).
bool ApplyToTermios(const LinkSettings& settings, termios& tio, LineState& line);
#endif

}  // namespace talven::detail
