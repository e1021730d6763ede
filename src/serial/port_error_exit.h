// The end of a session whose serial port failed: the one place that prints the port error.
#pragma once

namespace talven {

// "RS-232C ERROR" on standard output, the session's device and the reason on standard error, and
// Terminate(-1): the port could not be opened, took no settings, or failed under a transfer.
[[noreturn]] void LeaveForPortError(const char* reason);

}  // namespace talven
