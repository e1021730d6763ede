// Serial ports on Windows: a COM handle configured through its DCB and time-out block. Every read
// runs under a wait that a byte arriving ends (see SetReadWait and ReadArriving), so no wait polls.
#include <windows.h>

#include "names/wide_name_win32.h"
#include "serial/port_backend.h"
#include "serial/port_error.h"

namespace talven::detail {
namespace {

constexpr std::int32_t kFailedReadsLimit = 10;

void MarkFailed(PortEntry& entry, DWORD code) {
  entry.failed = true;
  RecordSystemError(*entry.error, static_cast<int>(code));
}

// A failed call: the device is gone (in every mode the port is then marked failed), or the error
// is only recorded.
void Fail(PortEntry& entry, DWORD code) {
  if (DeviceGone(static_cast<int>(code))) {
    MarkFailed(entry, code);
  } else {
    RecordSystemError(*entry.error, static_cast<int>(code));
  }
}

bool ReadState(PortEntry& entry, DCB& dcb) {
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(entry.handle, &dcb)) return true;
  RecordSystemError(*entry.error, static_cast<int>(GetLastError()));
  return false;
}

PortStatus WriteState(PortEntry& entry, DCB& dcb) {
  if (SetCommState(entry.handle, &dcb)) return kPortOk;
  RecordSystemError(*entry.error, static_cast<int>(GetLastError()));
  return kPortCallFailed;
}

DWORD Unsigned(std::int32_t value) {
  return static_cast<DWORD>(value);
}

// Sets the handle's read wait, unless it holds that one already. A port that refuses it (some
// virtual COM drivers refuse the waits this needs) has failed whatever the error: without its wait
// no read happens, and every wait would return at once and spin.
bool UseReadWait(PortEntry& entry, std::int32_t waitMs) {
  if (entry.readWaitMs == waitMs) return true;
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(entry.handle, &t)) {
    MarkFailed(entry, GetLastError());
    return false;
  }
  SetReadWait(waitMs, t);
  if (!SetCommTimeouts(entry.handle, &t)) {
    MarkFailed(entry, GetLastError());
    return false;
  }
  entry.readWaitMs = waitMs;
  return true;
}

// Bytes the driver holds now; -1 when the query failed.
std::int32_t DriverQueue(PortEntry& entry) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(entry.handle, &errors, &stat)) {
    Fail(entry, GetLastError());
    return -1;
  }
  return static_cast<std::int32_t>(stat.cbInQue);
}

// One ReadFile: what is buffered at once, else the first bytes to arrive, else nothing after
// waitMs.
std::int32_t ReadUnder(PortEntry& entry, std::int32_t waitMs, void* out, std::int32_t count) {
  if (!UseReadWait(entry, waitMs)) return 0;
  DWORD got = 0;
  if (ReadFile(entry.handle, out, Unsigned(count), &got, nullptr)) {
    entry.failedReads = 0;
  } else {
    const DWORD code = GetLastError();
    // A read that keeps failing at once would turn every wait into a spin.
    if (++entry.failedReads >= kFailedReadsLimit) {
      MarkFailed(entry, code);
    } else {
      Fail(entry, code);
    }
  }
  return static_cast<std::int32_t>(got);
}

// Waits up to waitMs for the first byte, then takes what came with it, up to capacity. The wait is
// a read of one byte, which ends at the first byte everywhere (wine waits out the whole time for
// a longer read); whatever came with it follows in a read that returns at once.
std::int32_t ReadArriving(PortEntry& entry, std::int32_t waitMs, unsigned char* out,
                          std::int32_t capacity) {
  std::int32_t got = ReadUnder(entry, waitMs, out, 1);
  if (got == 1 && capacity > 1) {
    const std::int32_t queued = DriverQueue(entry);
    const std::int32_t room = capacity - 1;
    if (queued > 0) got += ReadUnder(entry, waitMs, out + 1, queued < room ? queued : room);
  }
  return got;
}

}  // namespace

DevicePathStyle NativeDevicePathStyle() {
  return DevicePathStyle::kWindows;
}

PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t inQueueSize,
                       std::int32_t outQueueSize) {
  const HANDLE handle = CreateFileW(WideName(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    RecordOpenError(*entry.error, static_cast<int>(GetLastError()), path);
    return kPortCannotOpen;
  }
  // Only a recommendation to the driver; a port that refuses it still works.
  SetupComm(handle, Unsigned(inQueueSize), Unsigned(outQueueSize));
  entry.handle = handle;
  // What the port holds before any change, so that its close can put it back.
  entry.foundState.DCBlength = sizeof entry.foundState;
  entry.foundSaved = GetCommState(handle, &entry.foundState) != 0 &&
                     GetCommTimeouts(handle, &entry.foundTimeouts) != 0;
  return kPortOk;
}

bool BackendClose(PortEntry& entry) {
  // The port is left as it was found; a device that has gone has nothing left to put back.
  if (entry.foundSaved && !entry.failed) {
    SetCommState(entry.handle, &entry.foundState);
    SetCommTimeouts(entry.handle, &entry.foundTimeouts);
  }
  if (CloseHandle(entry.handle)) return true;
  RecordSystemError(*entry.error, static_cast<int>(GetLastError()));
  return false;
}

PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings) {
  DCB dcb;
  if (!ReadState(entry, dcb)) return kPortCallFailed;
  ApplyToDcb(settings, dcb);
  return WriteState(entry, dcb);
}

PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds) {
  entry.readWaitMs = INT32_MIN;  // written even when unchanged, as the other settings are
  if (!UseReadWait(entry, milliseconds)) return kPortCallFailed;
  entry.readTimeoutMs = milliseconds;
  return kPortOk;
}

PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds) {
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(entry.handle, &t)) {
    RecordSystemError(*entry.error, static_cast<int>(GetLastError()));
    return kPortCallFailed;
  }
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = Unsigned(milliseconds);
  if (SetCommTimeouts(entry.handle, &t)) return kPortOk;
  RecordSystemError(*entry.error, static_cast<int>(GetLastError()));
  return kPortCallFailed;
}

std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::int32_t got = 0;
  // Each wait ends at the first byte; the read as a whole ends at its time-out.
  const ULONGLONG start = GetTickCount64();
  while (got < count && !entry.failed) {
    std::int32_t wait = 0;
    if (entry.readTimeoutMs > 0) {
      const auto elapsed = static_cast<std::int32_t>(GetTickCount64() - start);
      if (elapsed >= entry.readTimeoutMs) break;
      wait = entry.readTimeoutMs - elapsed;
    }
    const std::int32_t n = ReadArriving(entry, wait, out + got, count - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity) {
  auto* out = static_cast<unsigned char*>(buffer);
  const std::int32_t queued = DriverQueue(entry);
  if (queued <= 0) return 0;
  // The bytes are there: the read returns at once whatever its wait.
  return ReadUnder(entry, entry.readWaitMs, out, queued < capacity ? queued : capacity);
}

std::int32_t BackendWrite(PortEntry& entry, const void* buffer, std::int32_t count) {
  DWORD written = 0;
  if (!WriteFile(entry.handle, buffer, Unsigned(count), &written, nullptr)) {
    Fail(entry, GetLastError());
  }
  return static_cast<std::int32_t>(written);
}

std::int32_t BackendReadArriving(PortEntry& entry, void* buffer, std::int32_t capacity,
                                 std::int32_t timeoutMs) {
  const std::int32_t got =
      ReadArriving(entry, timeoutMs, static_cast<unsigned char*>(buffer), capacity);
  // An empty read may also mean that nobody is there any more.
  if (got == 0 && !entry.failed) DriverQueue(entry);
  return got;
}

}  // namespace talven::detail
