// GetLastError values worded for users and sorted into faults.
#include <windows.h>

#include <cstdio>

#include "serial/port_backend.h"
#include "serial/port_error.h"

namespace talven::detail {
namespace {

// The system's own message, without its closing period and line break.
void RecordSystemText(DWORD code, PortFault fault) {
  char text[160];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  if (n == 0) {
    std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(code));
  } else {
    DWORD end = n;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == '.')) {
      --end;
    }
    text[end] = '\0';
  }
  RecordPortError(static_cast<int>(code), text, fault);
}

// The wordings users know from the open; a failing call keeps them, with its own kind.
bool RecordKnownText(DWORD code, PortFault notFound, PortFault inUse) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      RecordPortError(static_cast<int>(code), "no such device", notFound);
      return true;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // A COM port held by another program answers "access denied".
      RecordPortError(static_cast<int>(code), "in use by another program", inUse);
      return true;
    default:
      return false;
  }
}

}  // namespace

void RecordOpenError(int code, const char*) {
  const auto error = static_cast<DWORD>(code);
  if (!RecordKnownText(error, PortFault::kNotFound, PortFault::kInUse)) {
    RecordSystemText(error, PortFault::kOther);
  }
}

void RecordSystemError(int code) {
  const auto error = static_cast<DWORD>(code);
  const PortFault fault = DeviceGone(code) ? PortFault::kVanished : PortFault::kOther;
  if (!RecordKnownText(error, fault, fault)) RecordSystemText(error, fault);
}

bool DeviceGone(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_ACCESS_DENIED:  // what a pulled USB adapter's handle answers
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BROKEN_PIPE:
    case ERROR_FILE_NOT_FOUND:
      return true;
    default:
      return false;
  }
}

}  // namespace talven::detail
