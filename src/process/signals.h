// Platform part of the exit path: catching the signals and console events that end the program.
#pragma once

namespace talven {

void InstallSignalHandlers();
int TakenSignal();  // 0 when none has arrived
// Returns in the one thread that runs the exit path (again, should it re-enter); a thread that
// comes later while another runs it waits here until the process ends.
void EnterExitPath();
// Called by the exit path once every file is closed and every exit action has run.
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
