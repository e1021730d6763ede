// The ground floor of the program: the process services every other floor stands on (the way out,
// signals, the console, the clock, the platform's small differences). It keeps no session's state.
// Files here include only this folder and the model catalogue below it.
//
// The exit path: the single way out of the process. Every exit, including one caused by a signal or
// a closed console, runs what the upper floors registered (closing the ports), flushes and closes
// every tracked file and leaves the terminal in its normal mode.
#pragma once

#include <cstdio>

namespace talven {

// Ends the process: runs the registered closings, closes the tracked files, waits for a key when
// the session asked for a pause, and exits with the code.
[[noreturn]] void Terminate(int code);

// Whether Terminate waits for a key before the process ends (it does unless told otherwise).
void PauseOnExit(bool pause);

// What the upper floors need done on every way out, once the tracked files are closed: closing the
// ports, naming what a transfer left unfinished), each an action on its object (a session's
// ports). Each pair of action and object runs once; registering it again is a no-op, and a few
// slots are enough for the program's needs. DropFromExit takes one back once it has nothing left
// to do.
void RunOnExit(void (*action)(void*), void* object);
void DropFromExit(void (*action)(void*), void* object);

// Files that must be flushed and closed on every way out (the clone file, the mismatch log).
void TrackOpenFile(std::FILE* file);
// false when the close failed (its buffered data did not reach the system).
bool CloseTrackedFile(std::FILE*& file);

// The status the process ends with for a code: the low eight bits, as POSIX reports an exit code,
// so that -1 is 255 on every system and a batch file's "if errorlevel 1" sees the failure.
int ProcessStatus(int code);

// Signals and console close are only recorded by their handlers (see signals.h); every wait in the
// program calls CheckInterrupt (or ends early) so the exit happens on the main thread.
void CheckInterrupt();

// Leaves at once for a recorded signal: no key wait, exit status 128 + the signal number.
[[noreturn]] void ExitForSignal(int signal);

// Prints a one-line diagnosis to standard error: "talven: <what>: <reason>".
void ReportError(const char* what, const char* reason);

}  // namespace talven
