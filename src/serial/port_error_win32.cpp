// GetLastError values worded for users and sorted into faults.
#include <windows.h>

#include <cstdio>
#include <string>

#include "serial/port_backend.h"
#include "serial/port_error.h"
#include "text/utf8.h"

namespace talven::detail {
namespace {

// The system's own message in the user's language, as UTF-8, without its closing period and line
// break.
void RecordSystemText(PortError& error, DWORD code, PortFault fault) {
  wchar_t wide[160];
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     wide, static_cast<DWORD>(std::size(wide)), nullptr);
  DWORD end = n;
  while (end > 0 && (wide[end - 1] == L'\r' || wide[end - 1] == L'\n' || wide[end - 1] == L'.')) {
    --end;
  }
  std::string text = Utf8FromUtf16(std::u16string(wide, wide + end));
  if (n == 0) text = "system error " + std::to_string(code);
  error.Record(static_cast<int>(code), text.c_str(), fault);
}

// The wordings users know from the open; a failing call keeps them, with its own kind.
bool RecordKnownText(PortError& error, DWORD code, PortFault notFound, PortFault inUse) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      error.Record(static_cast<int>(code), "no such device", notFound);
      return true;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // A COM port held by another program answers "access denied".
      error.Record(static_cast<int>(code), "in use by another program", inUse);
      return true;
    default:
      return false;
  }
}

}  // namespace

void RecordOpenError(PortError& error, int code, const char*) {
  const auto system = static_cast<DWORD>(code);
  if (!RecordKnownText(error, system, PortFault::kNotFound, PortFault::kInUse)) {
    RecordSystemText(error, system, PortFault::kOther);
  }
}

void RecordSystemError(PortError& error, int code) {
  const auto system = static_cast<DWORD>(code);
  const PortFault fault = DeviceGone(code) ? PortFault::kVanished : PortFault::kOther;
  if (!RecordKnownText(error, system, fault, fault)) RecordSystemText(error, system, fault);
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
