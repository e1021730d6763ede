// The ground floor of the program: the process services every other floor stands on (the way out,
// signals, the console, the clock, the platform's small differences). It keeps no session's state.
// Files here include only this folder and the model catalogue below it.
//
// The way out: the one place where a session's end becomes the process's exit status. Nothing here
// closes a session's files or ports: their owners close them as they go, before main gets here.
#pragma once

namespace talven {

// The end of a session's process, called by main once the session and everything it owned are
// gone: tells the console event thread that the closing is done, waits for a key when asked, and
// leaves the console in its normal mode. Answers the exit status for main to return: status, or
// 128 + the number of a signal that ended the key wait.
int EndProcess(int status, bool pauseForKey);

// The status of a session that a recorded signal ended, 128 + its number, said on standard error.
// Its caller returns at once; a signal never waits for a key.
int StatusForSignal(int signal);

// The status the process ends with for a code: the low eight bits, as POSIX reports an exit code,
// so that -1 is 255 on every system and a batch file's "if errorlevel 1" sees the failure.
int ProcessStatus(int code);

// Prints a one-line diagnosis to standard error: "talven: <what>: <reason>". Where standard error
// shares standard output's place and a line there is unfinished, that line is ended first.
void ReportError(const char* what, const char* reason);

// Whether standard output holds an unfinished line (progress marks, a message ended without its
// line end), for ReportError.
void NoteUnfinishedLine(bool unfinished);
bool LineUnfinished();
// Ends that line when standard error would otherwise go on with it, and flushes standard output.
void EndLineBeforeError();

}  // namespace talven
