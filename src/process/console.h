// Single key presses from the console the program runs in, without waiting for Enter.
// Keys come from the console device itself ("CONIN$" on Windows, the controlling terminal
// elsewhere), never from standard input. Extended keys give 0 and then their PC BIOS code.
#pragma once

namespace talven {

// True when a code is pending or a key press that yields a code is queued. Never waits.
bool KeyAvailable();

// Blocks in the OS until KeyAvailable() would be true. Returns false when there is no console to
// read (no controlling terminal) or it cannot be read, and when a signal is recorded: TakenSignal()
// tells an interrupted wait from a missing console, and the caller returns.
bool WaitForKey();

// Waits for one key press and returns its code without echo; -1 when the console cannot be read or
// a signal ended the wait.
int ReadKey();

// As ReadKey, then writes the code to the console as one character.
int ReadKeyEcho();

// Keeps the console from stopping the program while the session runs: on Windows a click in the
// window would start a QuickEdit selection, which blocks every write to the console (and so a
// transfer, its progress marks included) until the selection ends. Off until RestoreConsole.
void HoldConsoleForSession();

// Shows the prompt where the user sees it and waits for one key, echoed. Where no console can
// answer, there is no wait (and on Windows no prompt either). The key, or -1 when there was no wait
// or a recorded signal ended it.
int PauseForKey(const char* prompt);

// Puts the console back into its normal mode; safe to call at any time, including on the exit path.
void RestoreConsole();

}  // namespace talven
