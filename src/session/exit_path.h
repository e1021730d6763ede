// The single way out of the process. Every exit, including one caused by a signal or a closed
// console, closes the ports, flushes and closes every open file and leaves the terminal in its
// normal mode.
#pragma once

#include <cstdio>

namespace talven {

// Closes the ports and the clone file, waits for a key when PauseOnExit is 1, and ends the process.
[[noreturn]] void Terminate(int code);

// "RS-232C ERROR" on standard output, the session's device and the reason on standard error, and
// Terminate(-1): the port could not be opened, took no settings, or failed under a transfer.
[[noreturn]] void LeaveForPortError(const char* reason);

// Files that must be flushed and closed on every way out (the clone file, the mismatch log).
void TrackOpenFile(std::FILE* file);
// false when the close failed (its buffered data did not reach the system).
bool CloseTrackedFile(std::FILE*& file);

// Runs on every way out once the files are closed: what a transfer left unfinished is tidied up or
// named on standard error. nullptr drops it.
void SetExitCleanup(void (*cleanup)());

// Signals and console close: Ctrl+C, SIGINT, SIGTERM, SIGHUP. The handler only records the signal;
// every wait in the program calls CheckInterrupt (or ends early) so the exit happens on the main
// thread.
void InstallExitSignals();
int PendingSignal();
void CheckInterrupt();

// Leaves at once for a recorded signal: no key wait, exit status 128 + the signal number.
[[noreturn]] void ExitForSignal(int signal);

// Prints a one-line diagnosis to standard error: "talven: <what>: <reason>".
void ReportError(const char* what, const char* reason);

}  // namespace talven
