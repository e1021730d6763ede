// Platform part of the way out: catching the signals and console events that end the program. The
// handlers only record them; every wait of the program ends early for a recorded signal and its
// caller returns, so the session ends on the main thread.
#pragma once

namespace talven {

void InstallSignalHandlers();
int TakenSignal();  // 0 when none has arrived
// The signal that may have ended a read of standard input that came back with nothing (0: none,
// the input really ended). Windows records Ctrl+C on a thread of its own, which can come a moment
// after the console read returned: when standard input is the console, this waits up to 250 ms for
// it.
int SignalAfterEmptyRead();
// Called by the way out (EndProcess), which only the main thread runs, once the session's owners
// have closed what they opened.
void ExitPathDone();

#ifdef _WIN32
// What the console handler does for an event: the signal it records, and whether it must then hold
// its thread until the main thread's exit path is done (the system ends the process as soon as
// the handler of a close, logoff or shutdown returns). The handler itself never runs the exit path.
struct ConsoleEventPlan {
  int signal = 0;
  bool waitForExitPath = false;
};
ConsoleEventPlan PlanForConsoleEvent(unsigned long event);
#endif

}  // namespace talven
