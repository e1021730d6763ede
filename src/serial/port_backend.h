// Between the port registry (range checks, the table, the order of an open) and the one system
// backend linked in (port_posix.cpp or port_win32.cpp). Private to src/serial and its tests.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <string>

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

struct PortEntry {
  std::int32_t open = 0;
  bool failed = false;
  PortError* error = nullptr;  // the registry's last error, where every failure is recorded
  std::int32_t readTimeoutMs = 0;
#ifdef _WIN32
  HANDLE handle = INVALID_HANDLE_VALUE;
  // The settings the port had before this program changed them, put back at its close.
  bool foundSaved = false;
  DCB foundState{};
  COMMTIMEOUTS foundTimeouts{};
  // The read wait the handle's COMMTIMEOUTS hold now; the lowest value until the first is set.
  std::int32_t readWaitMs = INT32_MIN;
  std::int32_t failedReads = 0;  // in a row
#else
  int fd = -1;
  LineState line;
  // The settings the port had before this program changed them, put back at its close.
  termios found{};
  bool lowLatencyAsked = false;  // low latency was off and this program turned it on
  std::int32_t writeTimeoutMs = 0;
#endif
};

inline constexpr std::size_t kPortTableSize = static_cast<std::size_t>(kLastPort) + 1;  // 0 unused

struct PortTable {
  std::array<PortEntry, kPortTableSize> entries;
  std::array<std::string, kPortTableSize> assignedPaths;
};

// The backend's side. Each is called with an entry of an open port, except BackendOpen.
DevicePathStyle NativeDevicePathStyle();
// Answers kPortOk (the entry holds the device) or kPortCannotOpen.
PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t inQueueSize,
                       std::int32_t outQueueSize);
bool BackendClose(PortEntry& entry);
PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings);
PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds);
PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds);
std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count);
std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity);
std::int32_t BackendReadArriving(PortEntry& entry, void* buffer, std::int32_t capacity,
                                 std::int32_t timeoutMs);
std::int32_t BackendWrite(PortEntry& entry, const void* buffer, std::int32_t count);

// Pure mappings of decoded settings onto the system's structure, in the order the word lists them.
#ifdef _WIN32
// Every member that shapes the bytes is set raw whatever the last program left: binary, NULs kept,
// no DSR gating, no abort on line errors, error replacement only with parity checking.
void ApplyToDcb(const LinkSettings& settings, DCB& dcb);
// The read fields for a read that returns at once with what is buffered, else at the first byte,
// else after waitMs (0: at once; negative: without limit). The write fields are left alone.
void SetReadWait(std::int32_t waitMs, COMMTIMEOUTS& timeouts);
#else
// False, with both left untouched, when termios cannot express the settings (a speed outside the
// standard table, 4 data bits, mark or space parity without CMSPAR).
bool ApplyToTermios(const LinkSettings& settings, termios& tio, LineState& line);
// The termios speed code of a rate, or false when the system has none.
bool SpeedCode(std::uint32_t bitsPerSecond, speed_t& code);
bool HardwareFlowOn(const termios& tio);
#endif

}  // namespace talven::detail
