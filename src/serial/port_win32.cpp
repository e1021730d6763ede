// Serial ports on Windows: a COM handle configured through its DCB and time-out block. Every read
// runs under a wait that a byte arriving ends (see SetReadWait and FillAhead), so no wait polls.
#include <windows.h>

#include "serial/port_backend.h"
#include "serial/port_error.h"

namespace talven::detail {
namespace {

constexpr std::int32_t kFailedReadsLimit = 10;

void MarkFailed(PortEntry& entry, DWORD code) {
  entry.failed = true;
  RecordSystemError(static_cast<int>(code));
}

// A failed call: the device is gone (in every mode the port is then marked failed), or the error
// is only recorded.
void Fail(PortEntry& entry, DWORD code) {
  if (DeviceGone(static_cast<int>(code))) {
    MarkFailed(entry, code);
  } else {
    RecordSystemError(static_cast<int>(code));
  }
}

bool ReadState(HANDLE handle, DCB& dcb) {
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(handle, &dcb)) return true;
  RecordSystemError(static_cast<int>(GetLastError()));
  return false;
}

PortStatus WriteState(HANDLE handle, DCB& dcb) {
  if (SetCommState(handle, &dcb)) return kPortOk;
  RecordSystemError(static_cast<int>(GetLastError()));
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

// Reads into the read-ahead, so that a wait or a short read keeps every byte it took. The wait is
// a read of one byte, which ends at the first byte everywhere (wine waits out the whole time for
// a longer read); whatever came with it follows in a read that returns at once.
std::int32_t FillAhead(PortEntry& entry, std::int32_t waitMs) {
  ReadAhead& ahead = *entry.ahead;
  std::int32_t got = ReadUnder(entry, waitMs, ahead.bytes, 1);
  if (got == 1) {
    const std::int32_t queued = DriverQueue(entry);
    const std::int32_t room = static_cast<std::int32_t>(sizeof ahead.bytes) - 1;
    if (queued > 0) got += ReadUnder(entry, waitMs, ahead.bytes + 1, queued < room ? queued : room);
  }
  ahead.Filled(got);
  return got;
}

}  // namespace

DevicePathStyle NativeDevicePathStyle() {
  return DevicePathStyle::kWindows;
}

PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t inQueueSize,
                       std::int32_t outQueueSize) {
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    RecordOpenError(static_cast<int>(GetLastError()), path);
    return kPortCannotOpen;
  }
  // Only a recommendation to the driver; a port that refuses it still works.
  SetupComm(handle, Unsigned(inQueueSize), Unsigned(outQueueSize));
  entry.handle = handle;
  return kPortOk;
}

bool BackendClose(PortEntry& entry) {
  if (CloseHandle(entry.handle)) return true;
  RecordSystemError(static_cast<int>(GetLastError()));
  return false;
}

PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings) {
  DCB dcb;
  if (!ReadState(entry.handle, dcb)) return kPortCallFailed;
  ApplyToDcb(settings, dcb);
  return WriteState(entry.handle, dcb);
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
    RecordSystemError(static_cast<int>(GetLastError()));
    return kPortCallFailed;
  }
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = Unsigned(milliseconds);
  if (SetCommTimeouts(entry.handle, &t)) return kPortOk;
  RecordSystemError(static_cast<int>(GetLastError()));
  return kPortCallFailed;
}

std::int32_t BackendInQueueCount(PortEntry& entry) {
  const std::int32_t queued = DriverQueue(entry);
  return entry.ahead->Waiting() + (queued > 0 ? queued : 0);
}

std::int32_t BackendOutQueueCount(PortEntry& entry) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(entry.handle, &errors, &stat)) {
    RecordSystemError(static_cast<int>(GetLastError()));
    return 0;
  }
  return static_cast<std::int32_t>(stat.cbOutQue);
}

std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  ReadAhead& ahead = *entry.ahead;
  std::int32_t got = ahead.Take(out, count);
  // Each wait ends at the first byte; the read as a whole ends at its time-out.
  const ULONGLONG start = GetTickCount64();
  while (got < count && !entry.failed) {
    std::int32_t wait = 0;
    if (entry.readTimeoutMs > 0) {
      const auto elapsed = static_cast<std::int32_t>(GetTickCount64() - start);
      if (elapsed >= entry.readTimeoutMs) break;
      wait = entry.readTimeoutMs - elapsed;
    }
    const bool intoAhead = count - got < static_cast<std::int32_t>(sizeof ahead.bytes);
    const std::int32_t n =
        intoAhead ? FillAhead(entry, wait) : ReadUnder(entry, wait, out + got, count - got);
    if (n == 0) break;
    got += intoAhead ? ahead.Take(out + got, count - got) : n;
  }
  return got;
}

std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity) {
  auto* out = static_cast<unsigned char*>(buffer);
  if (entry.ahead->Waiting() > 0) return entry.ahead->Take(out, capacity);
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

void BackendPurge(PortEntry& entry, bool receive) {
  if (receive) entry.ahead->Clear();
  PurgeComm(entry.handle, receive ? PURGE_RXCLEAR : PURGE_TXCLEAR);
}

PortStatus BackendSetBaudRate(PortEntry& entry, std::uint32_t bitsPerSecond) {
  DCB dcb;
  if (!ReadState(entry.handle, dcb)) return kPortCallFailed;
  dcb.BaudRate = bitsPerSecond;
  return WriteState(entry.handle, dcb);
}

PortStatus BackendSetFlowLimits(PortEntry& entry, std::uint16_t xoffLimit, std::uint16_t xonLimit) {
  DCB dcb;
  if (!ReadState(entry.handle, dcb)) return kPortCallFailed;
  dcb.XoffLim = xoffLimit;
  dcb.XonLim = xonLimit;
  return WriteState(entry.handle, dcb);
}

PortWait BackendWaitForInput(PortEntry& entry, std::int32_t timeoutMs) {
  if (entry.ahead->Waiting() > 0) return PortWait::kReady;
  if (FillAhead(entry, timeoutMs) > 0) return PortWait::kReady;
  // An empty read may also mean that nobody is there any more.
  if (!entry.failed) DriverQueue(entry);
  return entry.failed ? PortWait::kFailed : PortWait::kTimeout;
}

}  // namespace talven::detail
