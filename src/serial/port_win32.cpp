// Serial ports on Windows: a COM handle configured through its DCB and time-out block.
#include <windows.h>

#include <cstdio>

#include "serial/port_backend.h"

namespace talven::detail {
namespace {

void RecordLastError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      RecordPortError(static_cast<int>(code), "no such device");
      return;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // A COM port held by another program answers "access denied".
      RecordPortError(static_cast<int>(code), "in use by another program");
      return;
    default:
      break;
  }
  char text[160];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  if (n == 0) {
    std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(code));
  } else {
    // The system's messages end in a line break.
    DWORD end = n;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.')) {
      --end;
    }
    text[end] = '\0';
  }
  RecordPortError(static_cast<int>(code), text);
}

void RecordLastError() {
  RecordLastError(GetLastError());
}

void MarkFailed(PortEntry& entry) {
  entry.failed = true;
  RecordLastError();
}

bool ReadState(HANDLE handle, DCB& dcb) {
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(handle, &dcb)) return true;
  RecordLastError();
  return false;
}

PortStatus WriteState(HANDLE handle, DCB& dcb) {
  if (SetCommState(handle, &dcb)) return kPortOk;
  RecordLastError();
  return kPortCallFailed;
}

DWORD Unsigned(std::int32_t value) {
  return static_cast<DWORD>(value);
}

}  // namespace

void ApplyToDcb(const LinkSettings& settings, DCB& dcb) {
  if (settings.baudRate) dcb.BaudRate = *settings.baudRate;
  // The enumerations are numbered as the DCB fields expect.
  if (settings.stopBits) dcb.StopBits = static_cast<BYTE>(*settings.stopBits);
  if (settings.parity) {
    dcb.Parity = static_cast<BYTE>(*settings.parity);
    const bool checking = settings.ParityChecking();
    dcb.fParity = checking ? 1 : 0;
    dcb.fErrorChar = checking ? 1 : 0;
    if (checking) dcb.ErrorChar = static_cast<char>(kErrorCharForParity);
  }
  if (settings.dataBits) dcb.ByteSize = *settings.dataBits;
  if (settings.dtr) dcb.fDtrControl = static_cast<DWORD>(*settings.dtr) & 3u;
  if (settings.rts) dcb.fRtsControl = static_cast<DWORD>(*settings.rts) & 3u;
  if (settings.ctsOutputFlow) dcb.fOutxCtsFlow = *settings.ctsOutputFlow ? 1 : 0;
  if (settings.dsrOutputFlow) dcb.fOutxDsrFlow = *settings.dsrOutputFlow ? 1 : 0;
  if (settings.xonXoff) {
    dcb.fOutX = *settings.xonXoff ? 1 : 0;
    dcb.fInX = *settings.xonXoff ? 1 : 0;
    dcb.fTXContinueOnXoff = 0;
  }
}

DevicePathStyle NativeDevicePathStyle() {
  return DevicePathStyle::kWindows;
}

PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t inQueueSize,
                       std::int32_t outQueueSize) {
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    RecordLastError();
    return kPortCannotOpen;
  }
  // Only a recommendation to the driver; a port that refuses it still works.
  SetupComm(handle, Unsigned(inQueueSize), Unsigned(outQueueSize));
  entry.handle = handle;
  return kPortOk;
}

bool BackendClose(PortEntry& entry) {
  if (CloseHandle(entry.handle)) return true;
  RecordLastError();
  return false;
}

PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings) {
  DCB dcb;
  if (!ReadState(entry.handle, dcb)) return kPortCallFailed;
  ApplyToDcb(settings, dcb);
  return WriteState(entry.handle, dcb);
}

PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds) {
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(entry.handle, &t)) {
    RecordLastError();
    return kPortCallFailed;
  }
  t.ReadIntervalTimeout = Unsigned(milliseconds);
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = Unsigned(milliseconds);
  if (SetCommTimeouts(entry.handle, &t)) return kPortOk;
  RecordLastError();
  return kPortCallFailed;
}

PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds) {
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(entry.handle, &t)) {
    RecordLastError();
    return kPortCallFailed;
  }
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = Unsigned(milliseconds);
  if (SetCommTimeouts(entry.handle, &t)) return kPortOk;
  RecordLastError();
  return kPortCallFailed;
}

std::int32_t BackendInQueueCount(PortEntry& entry) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(entry.handle, &errors, &stat)) {
    MarkFailed(entry);
    return 0;
  }
  return static_cast<std::int32_t>(stat.cbInQue);
}

std::int32_t BackendOutQueueCount(PortEntry& entry) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(entry.handle, &errors, &stat)) {
    RecordLastError();
    return 0;
  }
  return static_cast<std::int32_t>(stat.cbOutQue);
}

std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count) {
  DWORD got = 0;
  // A failed read may be a line error held until ClearCommError; the queue checks decide whether
  // the device is gone.
  if (!ReadFile(entry.handle, buffer, Unsigned(count), &got, nullptr)) RecordLastError();
  return static_cast<std::int32_t>(got);
}

std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity) {
  const std::int32_t waiting = BackendInQueueCount(entry);
  if (waiting <= 0) return 0;
  return BackendRead(entry, buffer, waiting < capacity ? waiting : capacity);
}

std::int32_t BackendWrite(PortEntry& entry, const void* buffer, std::int32_t count) {
  DWORD written = 0;
  if (!WriteFile(entry.handle, buffer, Unsigned(count), &written, nullptr)) RecordLastError();
  return static_cast<std::int32_t>(written);
}

void BackendPurge(PortEntry& entry, bool receive) {
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
  // Comm events would need an overlapped handle; polling the queue with a sleep between looks
  // costs next to nothing and answers within a scheduler tick.
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(entry.handle, &errors, &stat)) {
      MarkFailed(entry);
      return PortWait::kFailed;
    }
    if (stat.cbInQue > 0) return PortWait::kReady;
    if (timeoutMs >= 0 && GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs)) {
      return PortWait::kTimeout;
    }
    Sleep(1);
  }
}

}  // namespace talven::detail
