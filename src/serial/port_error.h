// How the backends word a system error for users and sort it into a PortFault. One file per
// system: port_error_posix.cpp, port_error_win32.cpp. Private to src/serial and its tests.
#pragma once

#include "serial/port.h"

namespace talven::detail {

// A failed open of path with the system's error code (errno, GetLastError).
void RecordOpenError(PortError& error, int code, const char* path);
// A failed call on an open port.
void RecordSystemError(PortError& error, int code);
// True when the error means the device has gone (hang-up, adapter pulled).
bool DeviceGone(int code);

}  // namespace talven::detail
